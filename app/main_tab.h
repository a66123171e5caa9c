// Tab 1 "メイン": the current file, its report and header dump, the log of the
// operations on it, and their buttons.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QWidget>

#include "wav/analysis.h"
#include "wav/waveinfo.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

namespace velmora {
class Host;
class PeakListView;
}  // namespace velmora

namespace velmora::app {

class Dialogs;

// What the main tab needs from the window around it. The window implements it;
// the tab sees nothing else of the window.
class MainTabHost {
public:
    // A handler body that is not an operation, and an operation body (refused
    // while another runs); see TopLevelGuard.
    virtual void runHandler(const std::function<void()>& body) = 0;
    virtual bool runOperation(const std::function<void()>& body) = 0;
    // An operation on the file in place: analysed again when it changed it.
    virtual void runInPlace(const std::function<std::vector<std::string>()>& body) = 0;
    // Analyses the file and shows the result across the window.
    virtual AnalysisResult ShowAnalysis(const std::string& path) = 0;

    virtual WaveInfo& waveInfo() = 0;
    virtual std::string outputFolder() const = 0;
    // The header options of the strip below the tabs (exwavechk, cuechk).
    virtual bool extensibleHeader() const = 0;
    virtual bool cueChunk() const = 0;
    virtual Host& mainHost() = 0;  // logs into Memo3
    virtual PeakListView& peakWindow() = 0;
    virtual Dialogs& dialogs() = 0;

protected:
    ~MainTabHost() = default;
};

class MainTab : public QWidget {
public:
    // Joins `pages` before building its controls, so that they take the
    // window's font (labels size to their caption in it) and follow the strip
    // in the tab order.
    MainTab(MainTabHost& host, QTabWidget* pages);

    // The tab's controls, under their form names; the window names them too.
    QLineEdit* Edit1 = nullptr;  // the current file
    QPushButton* Button1 = nullptr;
    QTextEdit* Memo1 = nullptr;       // report
    QTextEdit* Memo4 = nullptr;       // hex dump of the header
    QPlainTextEdit* Memo3 = nullptr;  // log of the main tab's operations
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* Button10 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QGroupBox* surround = nullptr;
    QPushButton* Button4 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QPushButton* Button8 = nullptr;
    QPushButton* Button11 = nullptr;
    QPushButton* Button13 = nullptr;
    QPushButton* Button14 = nullptr;  // data size recovery

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
    MainTabHost& host_;
};

}  // namespace velmora::app
