// velmora-cli normalize FILE... [--yes | --no] [-o DIR] [-n] [--no-clobber]
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "ops/normalize.h"
#include "ops/output_paths.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

enum class Answer { Ask, Yes, No, DryRun };

// The peak rows as "minute second peak", then the label, on stdout.
class PrintedPeakList : public PeakListView {
public:
    explicit PrintedPeakList(CliHost& host) : host_(host) {}
    void showList() override {}
    void clearRows() override {}
    void addRow(int minute, int second, int peak) override {
        host_.finishProgress();
        std::cout << minute << ' ' << second << ' ' << peak << '\n' << std::flush;
        host_.skipNextPump();
    }
    void addFloatRow(int minute, int second, double peak) override {
        host_.finishProgress();
        std::cout << minute << ' ' << second << ' ' << FloatPeakText(peak) << '\n' << std::flush;
        host_.skipNextPump();
    }
    void setLabel(const std::string& text) override {
        host_.finishProgress();
        std::cout << TerminalText(text) << '\n' << std::flush;
    }
    void hide() override {}

private:
    CliHost& host_;
};

// Answers the question as the command line said, or asks on the terminal.
class NormalizeHost : public CliHost {
public:
    NormalizeHost(const std::string& path, Answer answer) : CliHost(path), answer_(answer) {}
    bool ask(const std::string& question) override {
        asked_ = true;
        switch (answer_) {
            case Answer::Yes: finishProgress(); return true;
            case Answer::No:
            case Answer::DryRun: finishProgress(); return false;
            case Answer::Ask: break;
        }
        return CliHost::ask(question);
    }
    bool asked() const { return asked_; }

private:
    Answer answer_;
    bool asked_ = false;
};

int NormalizeOne(const std::string& path, Answer answer, const std::string& outputDir, const WriteChoice& write) {
    NormalizeHost host(path, answer);
    try {
        WaveInfo info;
        AnalysisResult result;
        if (!AnalyseForOperation(path, info, result)) return kExitFailed;
        const std::optional<OperationSet> allowed = AllowedOperations(info, result);
        if (!allowed || !allowed->contains(Operation::Normalize)) {
            PrintRefusal(path, Operation::Normalize, info, result);
            return kExitFailed;
        }
        const std::string output = OutputPath(outputDir, path, "(normalize).wav");
        if (write.noClobber && answer != Answer::No) {
            WriteChoice clobberOnly{false, true};
            if (std::optional<int> done = CheckPlan(path, {{output}}, clobberOnly)) return *done;
        }
        // The scan reports no percent; each second block it reads counts.
        const double seconds = PlaySeconds(info);
        host.setDuration(seconds);
        host.countSecondsOnPump(static_cast<double>(info.totalSeconds() + (info.playRemainderFrames > 0 ? 1 : 0)));
        PrintedPeakList view(host);
        std::vector<std::string> written = Normalize(info, {path, outputDir}, view, host);
        host.finishProgress();
        if (answer == Answer::DryRun && host.asked()) CheckPlan(path, {{output}}, write);
        for (const auto& out : written) std::cout << TerminalText(out) << '\n';
        std::cout.flush();
        return kExitOk;
    } catch (const VelmoraError& e) {
        std::cout.flush();
        host.finishProgress();
        PrintAbout(path, ErrorText(e));
        return kExitFailed;
    }
}

int RunNormalize(const std::vector<std::string>& files, Answer answer, const std::string& outputDir,
                 const WriteChoice& write) {
    if (answer == Answer::Ask && ::isatty(0) == 0)
        return UsageError("normalize",
                          "no terminal to ask on: give --yes to write, --no to list the peaks only, or --dry-run");
    int status = kExitOk;
    bool first = true;
    for (const auto& path : files) {
        if (files.size() > 1) {
            if (!first) std::cout << '\n';
            std::cout << "==> " << TerminalText(path) << " <==\n" << std::flush;
        }
        first = false;
        status = std::max(status, NormalizeOne(path, answer, outputDir, write));
    }
    return status;
}

}  // namespace

void RegisterNormalize(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "normalize",
        "List the peak of each minute of each stereo FILE (16/24/32-bit integer or 32/64-bit float) and the "
        "overall peak, then scale it so that peak reaches full scale into FILE(normalize).wav. Asks first on "
        "a terminal; without one, --yes or --no must say what to do");
    auto files = std::make_shared<std::vector<std::string>>();
    auto yes = std::make_shared<bool>(false);
    auto no = std::make_shared<bool>(false);
    auto output = std::make_shared<std::string>();
    auto write = std::make_shared<WriteChoice>();
    cmd->add_option("FILE", *files, "Stereo WAV files")->required();
    auto* yesFlag = cmd->add_flag("-y,--yes", *yes, "Write without asking");
    cmd->add_flag("--no", *no, "List the peaks only, write nothing")->excludes(yesFlag);
    cmd->add_option("-o,--output", *output, "Output folder (default: each file's folder)")->type_name("DIR");
    AddWriteOptions(cmd, *write);
    cmd->callback([&action, files, yes, no, output, write] {
        action = [files, yes, no, output, write] {
            const Answer answer = write->dryRun ? Answer::DryRun
                                  : *yes        ? Answer::Yes
                                  : *no         ? Answer::No
                                                : Answer::Ask;
            return RunNormalize(*files, answer, *output, *write);
        };
    });
}

}  // namespace velmora::cli
