// The tests' host: what an operation reported, kept for the assertions.
#pragma once

#include <string>
#include <vector>

#include "ops/host.h"

namespace velmora {

// A host that records everything and answers questions with a fixed reply.
class RecordingHost : public Host {
public:
    void progress(int percent) override {
        lastProgress = percent;
        ++progressCalls;
    }
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
