#include "window_host.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "dialogs.h"

namespace velmora::app {

void WindowHost::progress(int percent) {
    // A walk reports every second; only a new value is worth a paint.
    if (gauge_->value() == percent) return;
    gauge_->setValue(percent);
    // Operations that do not pump messages still show their progress.
    gauge_->repaint();
}

void WindowHost::log(const std::string& line) { memo_->appendPlainText(QString::fromStdString(line)); }

void WindowHost::clearLog() { memo_->clear(); }

void WindowHost::pumpMessages() { QCoreApplication::processEvents(); }

void WindowHost::message(const std::string& text) {
    dialogs_.message(owner_, QString::fromUtf8(kApplicationTitle), QString::fromStdString(text));
}

bool WindowHost::ask(const std::string& question) { return dialogs_.ask(owner_, QString::fromStdString(question)); }

}  // namespace velmora::app
