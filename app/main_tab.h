// Tab 1 "メイン": the current file, its report and header dump, the log of the
// operations on it, and their buttons.
#pragma once

#include <string>

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

namespace velmora::app {

class TForm1;

class MainTab : public QWidget {
public:
    // Joins `pages` before building its controls, so that they take the
    // window's font (labels size to their caption in it) and follow the strip
    // in the tab order.
    MainTab(TForm1& form, QTabWidget* pages);


    std::string fileField() const;  // Edit1

    void Button1Click();
    void Button2Click();
    void Button3Click();   // channel split
    void Button4Click();   // pseudo-surround
    void Button7Click();   // normalize
    void Button8Click();   // header rebuild
    void Button10Click();  // rate rewrite
    void Button11Click();  // footer removal
    void Button13Click();  // RIFF size rewrite
    void Button14Click();  // data size recovery

private:
    TForm1& form_;
};

}  // namespace velmora::app
