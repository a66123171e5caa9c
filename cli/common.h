// Pieces every verb of velmora-cli shares.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "ops/host.h"
#include "ops/operations.h"
#include "wav/analysis.h"

namespace velmora::cli {

// Exit statuses of every verb.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A verb registers its subcommand and sets `action` when it is chosen.
using Action = std::function<int()>;
using VerbRegistrar = void (*)(CLI::App& app, Action& action);

// The CLI's host: progress and log lines on stderr only when stderr is a
// terminal; messages always on stderr; questions asked on a terminal only.
class CliHost : public Host {
public:
    // With a terminal on stdin, ask() prompts "<question> [y/N]"; without one it
    // returns defaultAnswer.
    explicit CliHost(bool defaultAnswer = false);
    void progress(int percent) override;
    void log(const std::string& line) override;
    void clearLog() override {}
    void pumpMessages() override {}
    void message(const std::string& text) override;
    bool ask(const std::string& question) override;
    // Ends a progress line before other output.
    void finishProgress();

private:
    bool defaultAnswer_;
    bool stderrTty_;
    bool progressShown_ = false;
    int shownPercent_ = -1;  // what the progress line shows now
};

// A message as printed: every "\r\n" becomes a line break.
std::string MessageForTerminal(const std::string& text);
void PrintError(const std::string& text);

// Analyses the file for an operation. Prints the analysis messages on stderr.
// Returns false (after printing the reason) when the analysis did not complete.
bool AnalyseForOperation(const std::string& path, WaveInfo& info, AnalysisResult& result);

using FileOperation =
    std::function<std::vector<std::string>(const std::string& path, WaveInfo& info, Host& host)>;

// Analyses each file, refuses it unless the analysis allows `gate` (no
// analysis without a gate), runs the operation and prints the paths it
// wrote. An operation that returns no path refused the file with a message of
// its own. Returns the exit status over all files.
int RunOnEach(const std::vector<std::string>& files, std::optional<Operation> gate,
              const FileOperation& operation);

// Prints why an operation is refused after analysis: "path: verb: reason".
void PrintRefusal(const std::string& path, Operation op, const WaveInfo& info, const AnalysisResult& result);

}  // namespace velmora::cli
