// The main window: three tabs and the strip of shared options below them.
// Each tab and the strip build their own controls and hold their handlers'
// bodies; they reach the window only through their host interfaces, which the
// window implements. The window keeps what they share and routes the files
// dropped on it. Components keep their form names as member and object names;
// the handlers are named after the events that run them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include "guard.h"
#include "main_tab.h"
#include "multiplex_tab.h"
#include "ops/multiplex.h"
#include "ops/operations.h"
#include "option_strip.h"
#include "raw_tab.h"
#include "wav/analysis.h"
#include "wav/waveinfo.h"
#include "window_host.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTextEdit;

namespace velmora::app {

class Dialogs;
class RadioGroup;
class TForm2;

class TForm1 : public QWidget,
               public MainTabHost,
               public MultiplexTabHost,
               public RawTabHost,
               public OptionStripHost {
    Q_OBJECT
public:
    // `dialogs` answers every platform dialog and outlives the window.
    explicit TForm1(Dialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;

    // The controls, under their form names: the tabs and the strip build them
    // and run their handlers; the window names them all once more.
    QTabWidget* PageControl1;
    QWidget* TabSheet1;  // "メイン"
    QWidget* TabSheet2;  // "多重化"
    QWidget* TabSheet3;  // "強制WAV化"

    // The strip below the tabs.
    QCheckBox* exwavechk;
    QCheckBox* cuechk;
    QProgressBar* Gauge1;
    QLabel* Label3;
    QLabel* Label4;  // its caption is the output folder
    QPushButton* Button9;

    // Tab 1.
    QLineEdit* Edit1;  // the current file
    QPushButton* Button1;
    QTextEdit* Memo1;       // report
    QTextEdit* Memo4;       // hex dump of the header
    QPlainTextEdit* Memo3;  // log of the main tab's operations
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button7;
    QPushButton* Button10;
    QComboBox* ComboBox1;
    QGroupBox* surround;
    QPushButton* Button4;
    QCheckBox* CheckBox1;
    QLabel* Label2;
    QLineEdit* Edit2;
    QGroupBox* GroupBox2;
    QPushButton* Button8;
    QPushButton* Button11;
    QPushButton* Button13;
    QPushButton* Button14;  // data size recovery

    // Tab 2. ListView1: column 0 "Channel" (check box), 1 "Sample" (hidden),
    // 2 "File", 3 "Path"; six fixed rows "Left" … "S-Right".
    QTableWidget* ListView1;
    QPushButton* Button6;
    QPushButton* Button5;
    QPlainTextEdit* Memo2;  // log of the multiplex writer
    QMenu* PopupMenu1;      // opened only by a drop on this tab
    QAction* left1;
    QAction* right1;
    QAction* center1;
    QAction* lfe1;
    QAction* sleft1;
    QAction* sright1;

    // Tab 3.
    RadioGroup* RadioGroup1;  // rate: "48000", "44100", "32000", "その他"
    QLineEdit* Edit3;         // the other rate
    RadioGroup* RadioGroup2;  // "16Bit", "8Bit"
    RadioGroup* RadioGroup3;  // "Stereo", "Mono"
    QPushButton* Button12;
    QLabel* Label5;
    QLineEdit* Edit4;  // the raw file

    // The normalize window, created hidden after this one.
    TForm2* Form2 = nullptr;

    // The window's own handlers; the tabs and the strip connect their controls
    // to handlers of their own.
    void FormCreate();
    // The files dropped on the window, in drop order (local paths, as the
    // bytes of their names).
    void FormDropFiles(const std::vector<std::string>& paths);
    void FormDropFiles(const QStringList& paths);

    // The main tab's operations, as their buttons run them (for callers
    // outside the window). Each runs its operation through the guard.
    void Button3Click();   // channel split
    void Button4Click();   // pseudo-surround
    void Button7Click();   // normalize
    void Button8Click();   // header rebuild
    void Button10Click();  // rate rewrite
    void Button11Click();  // footer removal
    void Button13Click();  // RIFF size rewrite
    void Button14Click();  // data size recovery

    // What the operations read and report through.
    WaveInfo& waveInfo() override { return waveInfo_; }
    const WaveInfo& waveInfo() const { return waveInfo_; }
    std::string fileField() const;                                       // Edit1
    std::string outputFolder() const override { return outputFolder_; }  // shown by Label4
    void setOutputFolder(const std::string& folder) override;
    bool extensibleHeader() const override;           // exwavechk
    bool cueChunk() const override;                   // cuechk
    Host& mainHost() override { return *mainHost_; }  // logs into Memo3
    Host& muxHost() override { return *muxHost_; }    // logs into Memo2
    Dialogs& dialogs() override { return dialogs_; }
    // The rows of the multiplex tab that ListView1 shows.
    const ChannelList& channelList() const;
    // The file the last drop on the multiplex tab brought, for its popup menu.
    const std::string& droppedFile() const;
    // Form2, or a window of its own when none was given.
    PeakListView& peakWindow() override;
    TopLevelGuard& guard() { return guard_; }

    // Runs the analysis on the path and shows it: output folder, hex dump,
    // memos, control states, messages, report. Throws VelmoraError when the
    // file cannot be opened (nothing changed) or the play time cannot be
    // computed (after the hex dump). Callers run inside the guard.
    AnalysisResult ShowAnalysis(const std::string& path) override;
    // Shows an analysis that has run, in the same order and with the same failures.
    void ShowAnalysisResult(const AnalysisResult& result) override;

    // A handler body that is not an operation (always runs).
    void runHandler(const std::function<void()>& body) override { guard_.handle(body); }
    // An operation body, under the busy cursor. Refused with a beep while
    // another operation runs.
    bool runOperation(const std::function<void()>& body) override;
    // An in-place operation: on success the file is analysed again, so the
    // report, the play time and the enabled operations describe it as it is now.
    void runInPlace(const std::function<std::vector<std::string>()>& body) override;

    // The controls an analysis enables for each operation; every operation
    // has at least one.
    std::vector<QWidget*> controlsOf(Operation op) const;

protected:
    // Registers the file last dropped on the multiplex tab at a row of ListView1; started by the
    // items of PopupMenu1.
    void RegisterChannelFile(int row) override;

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Points the window's members at the controls the tabs and the strip built.
    void nameControls();
    void applyEnabled(const OperationSet& allowed, const OperationReasons& reasons);
    // Where a control keeps the hint it was built with, before any reason.
    static constexpr const char* kHintProperty = "velmoraHint";
    // A "Velmora" message box over the window; the multiplex tab's refusals too.
    void showMessage(const std::string& text) override;

    Dialogs& dialogs_;
    WaveInfo waveInfo_;
    TopLevelGuard guard_;
    std::unique_ptr<OptionStrip> strip_;
    MainTab* mainTab_ = nullptr;  // the tabs belong to PageControl1
    MultiplexTab* multiplexTab_ = nullptr;
    RawTab* rawTab_ = nullptr;
    std::unique_ptr<WindowHost> mainHost_;
    std::unique_ptr<WindowHost> muxHost_;
    std::unique_ptr<TForm2> ownForm2_;
    std::string outputFolder_;
};

// Local file paths among dropped URLs, in order, as the bytes of their names.
std::vector<std::string> LocalFiles(const QList<QUrl>& urls);

}  // namespace velmora::app
