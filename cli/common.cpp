#include "common.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "wav/error.h"
#include "wav/file.h"
#include "wav/text.h"

namespace velmora::cli {

CliHost::CliHost(bool defaultAnswer) : defaultAnswer_(defaultAnswer), stderrTty_(::isatty(2) != 0) {}

void CliHost::progress(int percent) {
    // One terminal write per change, not per block.
    if (!stderrTty_ || (progressShown_ && percent == shownPercent_)) return;
    shownPercent_ = percent;
    std::fprintf(stderr, "\r%3d%%", percent);
    std::fflush(stderr);
    progressShown_ = true;
}

void CliHost::finishProgress() {
    if (progressShown_) {
        std::fputs("\r    \r", stderr);
        progressShown_ = false;
    }
}

void CliHost::log(const std::string& line) {
    if (!stderrTty_) return;
    finishProgress();
    std::cerr << line << '\n';
}

void CliHost::message(const std::string& text) {
    finishProgress();
    std::cerr << MessageForTerminal(text) << '\n';
}

bool CliHost::ask(const std::string& question) {
    finishProgress();
    if (::isatty(0) == 0) return defaultAnswer_;
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string MessageForTerminal(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void PrintError(const std::string& text) { std::cerr << MessageForTerminal(text) << '\n'; }

bool AnalyseForOperation(const std::string& path, WaveInfo& info, AnalysisResult& result) {
    result = AnalyzeWave(path, info);
    for (const auto& m : result.messages) PrintError(m);
    if (result.failure) PrintError(*result.failure);
    return result.complete();
}

void PrintRefusal(const std::string& path, const std::string& operation) {
    std::cerr << path << ": " << operation << " is not possible for this file (see velmora-cli info)\n";
}

int RunOnEach(const std::vector<std::string>& files, std::optional<Operation> gate,
              const FileOperation& operation) {
    int status = kExitOk;
    // An output of one file must not replace a file named later on the line.
    for (const auto& path : files) ProtectInput(path);
    for (const auto& path : files) {
        CliHost host;
        try {
            WaveInfo info;  // each file on its own, as a fresh analysis in the window
            if (gate) {
                AnalysisResult result;
                const bool complete = AnalyseForOperation(path, info, result);
                // An analysis that stopped may still offer an operation (the
                // rate rewrite of a file whose rate is 0).
                const std::optional<OperationSet> allowed = AllowedOperations(info, result);
                if (!allowed || !allowed->contains(*gate)) {
                    if (complete) PrintRefusal(path, OperationName(*gate));
                    status = kExitFailed;
                    continue;
                }
            }
            std::vector<std::string> outputs = operation(path, info, host);
            host.finishProgress();
            if (outputs.empty()) status = kExitFailed;
            for (const auto& out : outputs) std::cout << out << '\n';
            std::cout.flush();
        } catch (const VelmoraError& e) {
            host.finishProgress();
            PrintError(e.what());
            status = kExitFailed;
        }
    }
    return status;
}

}  // namespace velmora::cli
