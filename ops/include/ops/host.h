// The seam between the operations and a front end (window, CLI, tests).
// Operations report through it and throw VelmoraError for failures.
#pragma once

#include <string>

namespace velmora {

class Host {
public:
    virtual ~Host() = default;
    // Progress of the running operation, 0–100; shown at once.
    virtual void progress(int percent) = 0;
    // One line of the operation's log.
    virtual void log(const std::string& line) = 0;
    // Empties the operation's log (the multiplex writer starts with it).
    virtual void clearLog() = 0;
    // Lets the front end's pending events run (a long operation stays responsive).
    virtual void pumpMessages() = 0;
    // A plain message for the user, acknowledged before the operation goes on.
    virtual void message(const std::string& text) = 0;
    // A yes/no question; true unless the answer is No.
    virtual bool ask(const std::string& question) = 0;
};

}  // namespace velmora
