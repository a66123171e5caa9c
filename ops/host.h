// The seam between the operations and a front end (window, CLI, tests).
// Operations report through it and throw VelmoraError for failures.
#pragma once

#include <string>
#include <vector>

namespace velmora {

class Host {
public:
    virtual ~Host() = default;
    // The progress gauge, 0–100; shown at once.
    virtual void progress(int percent) = 0;
    // One line of the operation's log memo.
    virtual void log(const std::string& line) = 0;
    // Empties the operation's log memo (the multiplex writer starts with it).
    virtual void clearLog() = 0;
    // Lets pending window messages run.
    virtual void pumpMessages() = 0;
    // A plain message box (caption "Velmora", one OK button).
    virtual void message(const std::string& text) = 0;
    // The confirmation box (caption "確認", Yes/No); true unless the answer is No.
    virtual bool ask(const std::string& question) = 0;
};

// A host that records everything and answers questions with a fixed reply;
// the CLI's quiet mode and the tests build on it.
class RecordingHost : public Host {
public:
    void progress(int percent) override { lastProgress = percent; ++progressCalls; }
    void log(const std::string& line) override { logLines.push_back(line); }
    void clearLog() override { logLines.clear(); }
    void pumpMessages() override { ++pumps; }
    void message(const std::string& text) override { messages.push_back(text); }
    bool ask(const std::string& question) override {
        questions.push_back(question);
        return answer;
    }

    int lastProgress = -1;
    int progressCalls = 0;
    int pumps = 0;
    bool answer = true;
    std::vector<std::string> logLines;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
};

}  // namespace velmora
