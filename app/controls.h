// The builders of the main window's controls, which its tabs and strip share:
// each names the control after its form name and places it in its parent.
#pragma once

#include <string>
#include <vector>

#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QWidget;

namespace velmora::app {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline QString Q(const char* s) { return QString::fromUtf8(s); }

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                        int height);
// A label sized to its caption, as labels without a given size are.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top);
// The log memos.
QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, int left, int top, int width, int height);
// The report and dump memos: fixed pitch, lines 13 px apart so the whole
// report, the extensible format's lines included, fits without scrolling even
// with a fallback face whose natural line is taller.
QTextEdit* MakeFixedMemo(QWidget* parent, const char* name, int left, int top, int width, int height);
// Fills a memo made by MakeFixedMemo.
void SetLines(QTextEdit* memo, const std::vector<std::string>& lines);

}  // namespace velmora::app
