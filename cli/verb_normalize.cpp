// velmora-cli normalize FILE... [--yes | --no] [-o DIR] [-n] [--no-clobber]
#include <cmath>
#include <cstdio>
#include <iostream>

#include "ops/normalize.h"
#include "wav/sample_format.h"
#include "terminal.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

enum class Answer { Ask, Yes, No, DryRun };

// A peak in dBFS after the row's value: integers over 2^(bits-1), float as it is.
std::string PeakDecibels(double peak, double fullScale) {
    if (peak <= 0) return "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", 20 * std::log10(peak / fullScale));
    return buf;
}

// The peak rows as "minute second peak dBFS", then the label, on stdout.
class PrintedPeakList : public PeakListView {
public:
    PrintedPeakList(CliHost& host, double fullScale) : host_(host), fullScale_(fullScale) {}
    void showList() override {}
    void clearRows() override {}
    void addRow(int minute, int second, int peak) override {
        host_.finishProgress();
        std::cout << minute << ' ' << second << ' ' << peak << ' ' << PeakDecibels(peak, fullScale_) << '\n'
                  << std::flush;
        host_.skipNextPump();
    }
    void addFloatRow(int minute, int second, double peak) override {
        host_.finishProgress();
        std::cout << minute << ' ' << second << ' ' << FloatPeakText(peak) << ' ' << PeakDecibels(peak, 1.0) << '\n'
                  << std::flush;
        host_.skipNextPump();
    }
    void setLabel(const std::string& text) override {
        host_.finishProgress();
        std::cout << TerminalText(text) << '\n' << std::flush;
    }
    void hide() override {}

private:
    CliHost& host_;
    double fullScale_;
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

int NormalizeOne(const std::string& path, Answer answer, const OptionValues& options, const WriteChoice& write) {
    NormalizeHost host(path, answer);
    try {
        Subject s;
        s.path = path;
        s.options = options;
        if (!AnalyseForOperation(path, s.info, s.result)) return kExitFailed;
        const std::optional<OperationSet> allowed = AllowedOperations(s.info, s.result);
        if (!allowed || !allowed->contains(Operation::Normalize)) {
            PrintRefusal(path, Operation::Normalize, s.info, s.result);
            return kExitFailed;
        }
        const Plan plan = RecordOf(Operation::Normalize).plan(s);
        if (write.noClobber && answer != Answer::No) {
            WriteChoice clobberOnly{false, true};
            if (std::optional<int> done = CheckPlan(path, plan.files, clobberOnly)) return *done;
        }
        // The scan reports no percent; each second block it reads counts.
        host.setDuration(PlaySeconds(s.info));
        host.countSecondsOnPump(static_cast<double>(s.info.totalSeconds() + (s.info.playRemainderFrames > 0 ? 1 : 0)));
        const std::optional<SampleFormat> format = TransformSampleFormat(s.info);
        PrintedPeakList view(host, format && !format->isFloat() ? std::ldexp(1.0, 8 * format->bytes - 1) : 1.0);
        std::vector<std::string> written =
            Normalize(s.info, {path, options.text("output")}, NormalizeTargetOf(options), view, host);
        host.finishProgress();
        if (answer == Answer::DryRun && host.asked()) CheckPlan(path, plan.files, write);
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

}  // namespace

int RunNormalize(Operation, const std::vector<std::string>& files, const OptionValues& options,
                 const WriteChoice& write) {
    const Answer answer = write.dryRun          ? Answer::DryRun
                          : options.flag("yes") ? Answer::Yes
                          : options.flag("no")  ? Answer::No
                                                : Answer::Ask;
    if (options.has("true-peak-limit") && !options.has("lufs"))
        return UsageError("--true-peak-limit", "only with --lufs");
    if (answer == Answer::Ask && !IsTerminal(0))
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
        status = std::max(status, NormalizeOne(path, answer, options, write));
    }
    return status;
}

}  // namespace velmora::cli
