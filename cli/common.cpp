#include "common.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "io/file.h"
#include "terminal.h"
#include "wav/error.h"
#include "wav/text.h"

namespace velmora::cli {

Verbosity& CurrentVerbosity() {
    static Verbosity v;
    return v;
}

void AddWriteOptions(CLI::App* cmd, WriteChoice& choice) {
    cmd->add_flag("-n,--dry-run", choice.dryRun,
                  "Print what would be written or patched (\"would write PATH\", \"would replace PATH\", "
                  "\"would patch PATH: what\") and write nothing");
    cmd->add_flag("--no-clobber", choice.noClobber, "Refuse a file whose output already exists (default: replace it)");
}

namespace {

// hh:mm:ss.s for a position in the audio, h:mm:ss for the clock.
std::string TimeText(double seconds, bool tenths) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    char buf[48];
    if (tenths) {
        const long long t = std::llround(seconds * 10);
        std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%lld", t / 36000, t / 600 % 60, t / 10 % 60, t % 10);
    } else {
        const auto whole = static_cast<long long>(seconds);
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    }
    return buf;
}

// Cuts a line to n display columns, counting a UTF-8 sequence as one (or two
// for the wide CJK ranges the file names here often hold).
std::string FitColumns(const std::string& s, int n) {
    int used = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        const int width = len >= 3 ? 2 : 1;
        if (used + width > n) break;
        used += width;
        i += std::min(len, s.size() - i);
    }
    return s.substr(0, i);
}

}  // namespace

ProgressLine::ProgressLine(std::string subject)
    : subject_(std::move(subject)), enabled_(IsTerminal(2) && !CurrentVerbosity().quiet) {}

std::string ProgressLine::text(double fraction, double elapsed) const {
    fraction = std::clamp(fraction, 0.0, 1.0);
    std::string s = TerminalText(FileNamePart(subject_));
    char pct[16];
    std::snprintf(pct, sizeof pct, "%3d%%", static_cast<int>(fraction * 100 + 1e-9));
    s += (s.empty() ? "" : "  ") + std::string(pct);
    if (duration_ > 0) s += "  " + TimeText(fraction * duration_, true) + " / " + TimeText(duration_, true);
    s += "  elapsed " + TimeText(elapsed, false);
    s += "  left " + (fraction > 0 ? TimeText(elapsed * (1 - fraction) / fraction, false) : std::string("-:--:--"));
    if (duration_ > 0 && elapsed > 0 && fraction > 0) {
        char speed[32];
        const double x = fraction * duration_ / elapsed;
        std::snprintf(speed, sizeof speed, x < 10 ? "  %.2fx" : x < 100 ? "  %.1fx" : "  %.0fx", x);
        s += speed;
    }
    return s;
}

void ProgressLine::show(double fraction) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (lastFraction_ < 0 || fraction < lastFraction_) start_ = now;
    // One terminal write per change, and a few a second at most in between
    // so elapsed time moves during a slow stretch.
    const bool changed = static_cast<int>(fraction * 100 + 1e-9) != static_cast<int>(lastFraction_ * 100 + 1e-9);
    if (shown_ && !changed && now - lastDraw_ < std::chrono::milliseconds(250)) return;
    lastFraction_ = fraction;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    // One column short of the width: a full line would wrap on some terminals.
    const std::string line =
        FitColumns(text(fraction, elapsed), (TerminalColumns(2) > 0 ? TerminalColumns(2) : 80) - 1);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::finish() {
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

CliHost::CliHost(std::string subject, bool defaultAnswer)
    : subject_(std::move(subject)), defaultAnswer_(defaultAnswer), line_(subject_) {}

void CliHost::countSecondsOnPump(double totalSeconds) {
    countedTotal_ = totalSeconds;
    countedSeconds_ = 0;
    skipPump_ = false;
}

void CliHost::progress(int percent) {
    countedTotal_ = 0;
    line_.show(percent / 100.0);
}

void CliHost::pumpMessages() {
    if (countedTotal_ <= 0) return;
    if (skipPump_) {
        skipPump_ = false;
        return;
    }
    // The pump comes before each second block: the ones before it are done.
    line_.show(std::min(countedSeconds_, countedTotal_) / countedTotal_);
    countedSeconds_ += 1;
}

void CliHost::log(const std::string& line) {
    if (!CurrentVerbosity().verbose) return;
    finishProgress();
    PrintAbout(subject_, line);
}

void CliHost::message(const std::string& text) {
    finishProgress();
    PrintAbout(subject_, text);
}

bool CliHost::ask(const std::string& question) {
    finishProgress();
    countedTotal_ = 0;
    if (!IsTerminal(0)) return defaultAnswer_;
    std::cerr << (subject_.empty() ? "" : TerminalText(subject_) + ": ") << MessageForTerminal(question) << " [y/N] "
              << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string TerminalText(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    };
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // The length of a well-formed UTF-8 sequence here, 0 if there is none.
        std::size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len > n - i) len = 0;
        for (std::size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) len = 0;
        if (len >= 3) {
            // No overlong forms, surrogates or code points past U+10FFFF.
            const unsigned char d = s[i + 1];
            if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
                (c == 0xF4 && d > 0x8F))
                len = 0;
        }
        if (len == 2 && c == 0xC2 && s[i + 1] <= 0x9F) {
            // U+0080–U+009F: C1 controls, CSI among them.
            escape(c);
            escape(s[i + 1]);
            i += 2;
        } else if (len > 0) {
            out.append(text, i, len);
            i += len;
        } else {
            // A lone byte: 0x80–0x9F is a C1 control on an 8-bit terminal.
            if (c <= 0x9F)
                escape(c);
            else
                out += static_cast<char>(c);
            ++i;
        }
    }
    return out;
}

std::vector<std::string> MessageLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(TerminalText(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos) return lines;
        start = end + 2;
    }
}

std::string MessageForTerminal(const std::string& text) {
    const std::vector<std::string> lines = MessageLines(text);
    std::string out = lines.front();
    for (std::size_t i = 1; i < lines.size(); ++i) out += '\n' + lines[i];
    return out;
}

std::string ErrorText(const VelmoraError& e) {
    std::string text = e.what();
    if (e.systemError() != 0) text += ": " + std::string(std::strerror(e.systemError()));
    return text;
}

void PrintAbout(const std::string& path, const std::string& text) {
    const std::string prefix = path.empty() ? "" : TerminalText(path) + ": ";
    std::string out;
    // Every line of a message that runs over several lines names the file,
    // so `grep file` finds all of it.
    for (const std::string& line : MessageLines(text)) out += prefix + line + '\n';
    std::cerr << out << std::flush;
}

void PrintNote(const std::string& path, const std::string& text) {
    if (!CurrentVerbosity().quiet) PrintAbout(path, text);
}

int UsageError(const std::string& option, const std::string& text) {
    std::cerr << option << ": " << MessageForTerminal(text) << "\nRun with --help for more information.\n";
    return kExitUsage;
}

CLI::Validator TypedTextCheck(const std::function<void(const std::string&)>& parse) {
    return CLI::Validator(
        [parse](std::string& text) -> std::string {
            try {
                parse(text);
                return {};
            } catch (const VelmoraError& e) {
                return MessageForTerminal(e.what());
            }
        },
        "");
}

bool AnalyseForOperation(const std::string& path, WaveInfo& info, AnalysisResult& result) {
    result = AnalyzeWave(path, info);
    for (const auto& m : result.messages) PrintAbout(path, m);
    if (result.failure) PrintAbout(path, *result.failure);
    return result.complete();
}

double PlaySeconds(const WaveInfo& info) {
    if (info.format.samplesPerSec <= 0) return 0;
    return static_cast<double>(info.totalSeconds()) +
           static_cast<double>(info.playRemainderFrames) / info.format.samplesPerSec;
}

void PrintRefusal(const std::string& path, Operation op, const WaveInfo& info, const AnalysisResult& result) {
    PrintAbout(path, std::string(OperationName(op)) + ": " + WhyNot(WhyNotOffered(info, result), op));
}


std::optional<int> CheckPlan(const std::string& source, const std::vector<PlannedFile>& plan,
                             const WriteChoice& write) {
    if (write.noClobber) {
        bool refused = false;
        for (const auto& out : plan) {
            if (out.inPlace || !NameTaken(out.path)) continue;
            PrintAbout(source, out.path + " exists; not replaced (--no-clobber)");
            refused = true;
        }
        if (refused) return kExitFailed;
    }
    if (!write.dryRun) return std::nullopt;
    for (const auto& out : plan) {
        if (out.inPlace)
            std::cout << "would patch " << TerminalText(out.path) << (out.detail.empty() ? "" : ": " + out.detail)
                      << '\n';
        else
            std::cout << (NameTaken(out.path) ? "would replace " : "would write ") << TerminalText(out.path) << '\n';
    }
    std::cout.flush();
    return kExitOk;
}

void PrintNothingToDo(const std::string& path, Reason why) {
    PrintNote(path, why == Reason::None ? std::string("nothing to do")
                                        : std::string("nothing to do (") + ReasonId(why) + ")");
}

namespace {

// The analysis a record of WAV files needs, and its rule's verdict: nullopt
// to go on, else the status the file ends with.
std::optional<int> Admit(Operation op, Subject& s) {
    const bool complete = AnalyseForOperation(s.path, s.info, s.result);
    const bool offered = kOperationTable[static_cast<std::size_t>(op)].offeredByAnalysis;
    // An analysis that stopped may still offer an operation (the rate
    // rewrite of a file whose rate is 0).
    const std::optional<OperationSet> allowed = AllowedOperations(s.info, s.result);
    if (offered && allowed && allowed->contains(op)) return std::nullopt;
    if (!complete) {
        const char* hint = RecordOf(op).notWaveHint;
        if (hint && s.result.stop != AnalysisStop::DivisionByZero) PrintNote(s.path, hint);
        return kExitFailed;
    }
    // A verb of the command line alone is judged by its record's rule.
    const Refusal why =
        offered ? WhyNotOffered(s.info, s.result)[static_cast<std::size_t>(op)] : RuleVerdict(op, s.info, s.result);
    if (why.code == Reason::None) return std::nullopt;
    if (NeedsNothing(why.code)) {
        PrintNothingToDo(s.path, why.code);
        return kExitOk;
    }
    PrintAbout(s.path, std::string(OperationName(op)) + ": " + why.text);
    return kExitFailed;
}

int RunOne(Operation op, Subject& s, const WriteChoice& write) {
    const OperationRecord& record = RecordOf(op);
    CliHost host(s.path);
    try {
        if (record.input == Input::Wave) {
            if (std::optional<int> done = Admit(op, s)) return *done;
            host.setDuration(PlaySeconds(s.info));
        } else if (record.playSeconds) {
            host.setDuration(record.playSeconds(s));
        }
        // The plan the dry run shows is the one the run is held to.
        const Plan plan = PlanWithReport(op, s);
        if (plan.files.empty()) {
            PrintNothingToDo(s.path);
            return kExitOk;
        }
        if (std::optional<int> done = CheckPlan(s.path, plan.files, write)) return *done;
        std::vector<std::string> outputs = RunRecordWithReport(op, s, host);
        host.finishProgress();
        for (const auto& out : outputs) std::cout << TerminalText(out) << '\n';
        std::cout.flush();
        return outputs.empty() ? kExitFailed : kExitOk;
    } catch (const VelmoraError& e) {
        host.finishProgress();
        std::cout.flush();
        PrintAbout(s.path, ErrorText(e));
        return kExitFailed;
    }
}

}  // namespace

int RunOnEach(Operation op, const std::vector<std::string>& files, const OptionValues& options,
              const WriteChoice& write) {
    int status = kExitOk;
    // An output of one file must not replace a file named later on the line.
    for (const auto& path : files) ProtectInput(path);
    for (const auto& path : files) {
        Subject s;  // each file on its own, as a fresh analysis in the window
        s.path = path;
        s.options = options;
        status = std::max(status, RunOne(op, s, write));
    }
    return status;
}

}  // namespace velmora::cli
