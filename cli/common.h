// Pieces every verb of velmora-cli shares.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ops/host.h"
#include "ops/operations.h"
#include "ops/records.h"
#include "wav/analysis.h"
#include "wav/error.h"

namespace velmora::cli {

// Exit statuses of every verb. With several files the highest one wins.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The program-wide -q / -v choice.
struct Verbosity {
    bool quiet = false;    // no progress line, no notes
    bool verbose = false;  // the operations' log lines too
};
Verbosity& CurrentVerbosity();

// -n/--dry-run and --no-clobber of the verbs that write.
struct WriteChoice {
    bool dryRun = false;
    bool noClobber = false;
};
void AddWriteOptions(CLI::App* cmd, WriteChoice& choice);

// A verb registers its subcommand and sets `action` when it is chosen.
using Action = std::function<int()>;
using VerbRegistrar = void (*)(CLI::App& app, Action& action);

// The progress line: "<file>  63%  00:41:12 / 01:05:23  elapsed 0:00:03  left 0:00:02  812x",
// redrawn in place on a terminal. Operations report only a percent, so the
// position is that share of the audio's play time.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;
    explicit ProgressLine(std::string subject);
    // The play time the percent runs over; unknown (0) leaves out position and speed.
    void setDuration(double seconds) { duration_ = seconds; }
    // The text of one frame of the line, for `fraction` 0–1 after `elapsed` seconds.
    std::string text(double fraction, double elapsed) const;
    // Draws the line when stderr is a terminal and -q was not given; a
    // fraction below the last one starts a new pass (normalize's write after its scan).
    void show(double fraction);
    // Clears the line so other output starts on an empty one.
    void finish();

private:
    std::string subject_;
    double duration_ = 0;
    bool enabled_;
    bool shown_ = false;
    double lastFraction_ = -1;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

// The CLI's host: the progress line on a terminal, log lines with -v, every
// message and error prefixed with the file it is about.
class CliHost : public Host {
public:
    // With a terminal on stdin, ask() prompts "<question> [y/N]"; without one it
    // returns defaultAnswer.
    explicit CliHost(std::string subject = {}, bool defaultAnswer = false);
    void setDuration(double seconds) { line_.setDuration(seconds); }
    // From now on every pumpMessages() counts one second of audio done (a walk
    // that reports no percent, such as normalize's scan), until the next percent.
    void countSecondsOnPump(double totalSeconds);
    // The next pumpMessages() is not a second block (a peak row's own).
    void skipNextPump() { skipPump_ = true; }
    void progress(int percent) override;
    void log(const std::string& line) override;
    void clearLog() override {}
    void pumpMessages() override;
    void message(const std::string& text) override;
    bool ask(const std::string& question) override;
    // Ends a progress line before other output.
    void finishProgress() { line_.finish(); }
    const std::string& subject() const { return subject_; }

private:
    std::string subject_;
    bool defaultAnswer_;
    ProgressLine line_;
    double countedTotal_ = 0;
    double countedSeconds_ = 0;
    bool skipPump_ = false;
};

// A file name, or text that holds one or bytes of a file, as a line of
// output may carry it: every control character (C0, DEL, and C1 whether
// UTF-8-encoded or a lone byte) becomes \xNN, one per byte, so the text can
// neither command a terminal nor split a line. Other bytes, valid UTF-8
// (Japanese names) and bytes that are not UTF-8 alike, stay as they are.
// Every name and file text printed goes through it.
std::string TerminalText(const std::string& text);
// The lines of a message, which "\r\n" separates, each as TerminalText: a
// line break inside a name stays inside its line.
std::vector<std::string> MessageLines(const std::string& text);
// A message as printed: its lines joined by line breaks.
std::string MessageForTerminal(const std::string& text);
// The error's text with the system's reason, when the system gave one.
std::string ErrorText(const VelmoraError& e);
// Prints text on stderr, every line of it prefixed with "<path>: " (both as
// MessageLines and TerminalText show them).
void PrintAbout(const std::string& path, const std::string& text);
// A note about a file (nothing to do, what a dry run skips); silent with -q.
void PrintNote(const std::string& path, const std::string& text);
// A usage error about an option's value: "<option>: <text>" on stderr.
int UsageError(const std::string& option, const std::string& text);

// A command-line check by the core's own parser of typed text: the value is
// refused with the parser's words, as a usage error.
CLI::Validator TypedTextCheck(const std::function<void(const std::string&)>& parse);

// Analyses the file for an operation. Prints the analysis messages on stderr.
// Returns false (after printing the reason) when the analysis did not complete.
bool AnalyseForOperation(const std::string& path, WaveInfo& info, AnalysisResult& result);
// The play time of an analysed file in seconds (0 when its rate is unknown).
double PlaySeconds(const WaveInfo& info);

// Prints the reason an operation is refused after analysis. The one place a
// refusal is worded.
void PrintRefusal(const std::string& path, Operation op, const WaveInfo& info, const AnalysisResult& result);

// Applies the dry run and --no-clobber to a file's plan: the status the file
// ends with (the plan printed, or an existing output refused), or nullopt
// when the operation is to run.
std::optional<int> CheckPlan(const std::string& source, const std::vector<PlannedFile>& plan, const WriteChoice& write);

// A verb's own way to run a record over its files (normalize's peaks and
// question, mux's files by speaker), or the shared one.
using RecordRunner = int (*)(Operation op, const std::vector<std::string>& files, const OptionValues& options,
                             const WriteChoice& write);

// Analyses each file when the record takes WAV files, refuses what its rule
// refuses (a note and status 0 when the file simply needs nothing), plans,
// and under -n or --no-clobber stops at the plan; else runs the record and
// prints the paths it wrote. Every file is handled; returns the worst status.
int RunOnEach(Operation op, const std::vector<std::string>& files, const OptionValues& options,
              const WriteChoice& write);

// Runs the record, with what the rescue forms found printed on stderr.
std::vector<std::string> RunRecordWithReport(Operation op, Subject& subject, Host& host);
// The record's plan; a rescue refused already while planned (a dry run
// meets the run's refusals) shows what detection heard, as the run does.
Plan PlanWithReport(Operation op, const Subject& subject);

// The note for a file that needs nothing.
void PrintNothingToDo(const std::string& path, Reason why = Reason::None);

}  // namespace velmora::cli
