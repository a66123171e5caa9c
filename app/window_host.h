// The window's host for the operations: progress into Gauge1, log lines into
// a memo of the window, message and question boxes through the dialogs.
#pragma once

#include "ops/host.h"

class QPlainTextEdit;
class QProgressBar;
class QWidget;

namespace velmora::app {

class Dialogs;

class WindowHost : public Host {
public:
    // `logMemo` is Memo3 for the main tab's operations, Memo2 for the multiplex writer.
    WindowHost(QWidget* owner, QProgressBar* gauge, QPlainTextEdit* logMemo, Dialogs& dialogs)
        : owner_(owner), gauge_(gauge), memo_(logMemo), dialogs_(dialogs) {}

    void progress(int percent) override;
    void log(const std::string& line) override;
    void clearLog() override;
    void pumpMessages() override;
    void message(const std::string& text) override;
    bool ask(const std::string& question) override;

private:
    QWidget* owner_;
    QProgressBar* gauge_;
    QPlainTextEdit* memo_;
    Dialogs& dialogs_;
};

}  // namespace velmora::app
