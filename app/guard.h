// The top-level handler every event handler of the window runs inside: no
// exception escapes into Qt's event loop, and only one operation runs at a time.
#pragma once

#include <functional>
#include <string>

namespace velmora::app {

class TopLevelGuard {
public:
    // `show` presents a failure text to the user (a "Velmora" message box).
    explicit TopLevelGuard(std::function<void(const std::string&)> show) : show_(std::move(show)) {}

    // Runs a handler body; a failure is shown and the program goes on.
    void handle(const std::function<void()>& body);

    // Runs an operation body like handle(), but only when no other operation
    // is running: operations let pending messages run, so a click can arrive
    // in the middle of one; that second start is ignored. Returns whether the
    // body ran.
    bool operation(const std::function<void()>& body);

    bool busy() const { return busy_; }

private:
    std::function<void(const std::string&)> show_;
    bool busy_ = false;
};

}  // namespace velmora::app
