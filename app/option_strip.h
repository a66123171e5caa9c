// The strip below the tabs: the header options the writers read, the progress
// gauge and the output folder. Not a widget of its own: its controls lie on the
// window itself, where they have always been, so their places and the tab
// order stay the window's.
#pragma once

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace velmora::app {

class Dialogs;

// What the strip needs from the window it lies on. The window implements it;
// the strip sees nothing else of the window.
class OptionStripHost {
public:
    // A handler body that is not an operation; see TopLevelGuard.
    virtual void runHandler(const std::function<void()>& body) = 0;
    virtual std::string outputFolder() const = 0;
    // Sets the folder the operations write into; the strip shows it in Label4.
    virtual void setOutputFolder(const std::string& folder) = 0;
    virtual Dialogs& dialogs() = 0;

protected:
    ~OptionStripHost() = default;
};

class OptionStrip {
public:
    // Builds the controls on `surface`, the window; the window outlives the
    // strip's handlers.
    OptionStrip(QWidget& surface, OptionStripHost& host);

    // The strip's controls, under their form names; the window names them too.
    QCheckBox* exwavechk = nullptr;
    QCheckBox* cuechk = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;  // its caption is the output folder
    QPushButton* Button9 = nullptr;

    // The header options the writers read.
    bool extensibleHeader() const;  // exwavechk
    bool cueChunk() const;          // cuechk

    void showOutputFolder(const std::string& folder);

    void Button9Click();
    void exwavechkClick();

private:
    QWidget& surface_;
    OptionStripHost& host_;
};

}  // namespace velmora::app
