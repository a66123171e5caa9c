// velmora-cli normalize FILE... [--yes] [-o DIR]
#include <cstdio>
#include <iostream>

#include "ops/normalize.h"
#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

// The peak rows as "minute second peak", then the label, on stdout.
class PrintedPeakList : public PeakListView {
public:
    void showList() override {}
    void clearRows() override {}
    void addRow(int minute, int second, int peak) override { std::cout << minute << ' ' << second << ' ' << peak << '\n'; }
    void addFloatRow(int minute, int second, double peak) override {
        std::cout << minute << ' ' << second << ' ' << FloatPeakText(peak) << '\n';
    }
    void setLabel(const std::string& text) override { std::cout << text << '\n' << std::flush; }
    void hide() override {}
};

// --yes: writes without asking.
class YesHost : public CliHost {
public:
    bool ask(const std::string&) override {
        finishProgress();
        return true;
    }
};

int RunNormalize(const std::vector<std::string>& files, bool yes, const std::string& outputDir) {
    int status = kExitOk;
    bool first = true;
    for (const auto& path : files) {
        YesHost yesHost;
        CliHost askingHost(false);  // without a terminal on stdin: scan only
        CliHost& host = yes ? static_cast<CliHost&>(yesHost) : askingHost;
        if (files.size() > 1) {
            if (!first) std::cout << '\n';
            std::cout << "==> " << path << " <==\n" << std::flush;
        }
        first = false;
        try {
            WaveInfo info;
            AnalysisResult result;
            if (!AnalyseForOperation(path, info, result)) {
                status = kExitFailed;
                continue;
            }
            const std::optional<OperationSet> allowed = AllowedOperations(info, result);
            if (!allowed || !allowed->contains(Operation::Normalize)) {
                PrintRefusal(path, Operation::Normalize, info, result);
                status = kExitFailed;
                continue;
            }
            PrintedPeakList view;
            NormalizeOptions options{path, outputDir};
            std::vector<std::string> written = Normalize(info, options, view, host);
            host.finishProgress();
            for (const auto& out : written) std::cout << out << '\n';
            std::cout.flush();
        } catch (const VelmoraError& e) {
            std::cout.flush();
            host.finishProgress();
            PrintError(e.what());
            status = kExitFailed;
        }
    }
    return status;
}

}  // namespace

void RegisterNormalize(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "normalize", "List the peaks of each stereo FILE (16/24/32-bit or float) minute by minute, then scale it to full scale");
    auto files = std::make_shared<std::vector<std::string>>();
    auto yes = std::make_shared<bool>(false);
    auto output = std::make_shared<std::string>();
    cmd->add_option("FILE", *files, "16-bit stereo WAV files")->required();
    cmd->add_flag("-y,--yes", *yes, "Write without asking");
    cmd->add_option("-o,--output", *output, "Output folder (default: the source's folder)");
    cmd->callback([&action, files, yes, output] {
        action = [files, yes, output] { return RunNormalize(*files, *yes, *output); };
    });
}

}  // namespace velmora::cli
