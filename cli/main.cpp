#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "help_format.h"
#include "io/utf16.h"
#include "terminal.h"
#include "verbs.h"
#include "wav/error.h"

namespace {

const velmora::cli::VerbRegistrar kVerbs[] = {
    velmora::cli::RegisterInfo,
    velmora::cli::RegisterLevels,
    velmora::cli::RegisterRecordVerbs,
};

constexpr const char* kFooter =
    "Every path written or patched is printed on stdout; errors, notes and the progress line go to stderr, each "
    "line starting with the file it is about. The progress line shows only when stderr is a terminal.\n"
    "\n"
    "Exit status (with several files the highest wins; every file is still handled):\n"
    "  0  every file done, or needed nothing (recover, fix-riff-size on a sound file: a note on stderr)\n"
    "  1  a file was refused, could not be analysed, opened, read or written\n"
    "  2  usage: an unknown verb or option, a malformed or out-of-range value, mux without files, "
    "normalize without a terminal and without --yes or --no";

// The verb a command line names: its first word that is not an option (the
// program's own options take no value).
const char* VerbOf(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return i + 1 < argc ? argv[i + 1] : nullptr;
        if (argv[i][0] != '-') return argv[i];
    }
    return nullptr;
}

}  // namespace

int Main(int argc, char** argv) {
    using namespace velmora::cli;
    CLI::App app{"Velmora: inspect, repair and transform uncompressed RIFF/WAVE files", "velmora-cli"};
    app.formatter(std::make_shared<WrappingFormatter>());
    app.require_subcommand(1);
    app.fallthrough();  // -q and -v after the verb too
    app.footer(kFooter);
    app.set_version_flag("--version", "velmora-cli " VELMORA_VERSION);
    Verbosity& verbosity = CurrentVerbosity();
    auto* quiet = app.add_flag("-q,--quiet", verbosity.quiet, "No progress line and no notes; errors still show");
    app.add_flag("-v,--verbose", verbosity.verbose, "Also the operations' log lines, as the window's log shows them")
        ->excludes(quiet);
    Action action;
    for (auto reg : kVerbs) reg(app, action);

    if (argc >= 2 && std::strcmp(argv[1], "--complete") == 0)
        return PrintCompletion(app, std::vector<std::string>(argv + 2, argv + argc));
    if (const char* verb = VerbOf(argc, argv)) {
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->check_name(verb);
        if (!known) {
            std::string names;
            for (const CLI::App* sub : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
            std::cerr << "velmora-cli: '" << TerminalText(verb) << "' is not a verb; the verbs are " << names
                      << ".\nRun with --help for more information.\n";
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    if (!action) return kExitUsage;
    try {
        return action();
    } catch (const velmora::VelmoraError& e) {
        std::cerr << MessageForTerminal(ErrorText(e)) << '\n';
        return kExitFailed;
    } catch (const std::exception& e) {
        std::cerr << MessageForTerminal(e.what()) << '\n';
        return kExitFailed;
    }
}

#ifdef _WIN32
// The arguments as UTF-8, as every path of ours is.
int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(velmora::Narrow(wargv[i]));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    velmora::cli::PrepareConsole();
    return Main(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
