#include "form1.h"

#include <array>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextEdit>

#include "controls.h"
#include "dialogs.h"
#include "form2.h"
#include "main_tab.h"
#include "multiplex_tab.h"
#include "option_strip.h"
#include "widgets.h"
#include "ops/output_paths.h"
#include "wav/error.h"
#include "wav/text.h"

namespace velmora::app {

std::vector<std::string> LocalFiles(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    // The encoded path keeps bytes that are not UTF-8; the decoded one would
    // replace them and name no file.
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            paths.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    return paths;
}

TForm1::TForm1(Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), guard_([this](const std::string& text) { showMessage(text); }) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Velmora v0.30"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(697, 523);
    setFont(FormFont());

    // The strip's controls come before the tabs' in the tab order.
    PageControl1 = Place(new QTabWidget(this), "PageControl1", 8, 8, 681, 457);
    strip_ = std::make_unique<OptionStrip>(*this, *this);
    mainTab_ = new MainTab(*this, PageControl1);
    multiplexTab_ = new MultiplexTab(*this, PageControl1);
    rawTab_ = new RawTab(*this, PageControl1);
    nameControls();
    mainHost_ = std::make_unique<WindowHost>(this, Gauge1, Memo3, dialogs_);
    muxHost_ = std::make_unique<WindowHost>(this, Gauge1, Memo2, dialogs_);

    // Files dropped anywhere on the window reach the window itself, not the
    // edit fields and memos that would take them as text.
    for (QWidget* child : findChildren<QWidget*>()) child->setAcceptDrops(false);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::nameControls() {
    TabSheet1 = mainTab_;
    TabSheet2 = multiplexTab_;
    TabSheet3 = rawTab_;

    exwavechk = strip_->exwavechk;
    cuechk = strip_->cuechk;
    Gauge1 = strip_->Gauge1;
    Label3 = strip_->Label3;
    Label4 = strip_->Label4;
    Button9 = strip_->Button9;

    Edit1 = mainTab_->Edit1;
    Button1 = mainTab_->Button1;
    Memo1 = mainTab_->Memo1;
    Memo4 = mainTab_->Memo4;
    Memo3 = mainTab_->Memo3;
    Button2 = mainTab_->Button2;
    Button3 = mainTab_->Button3;
    Button7 = mainTab_->Button7;
    Button10 = mainTab_->Button10;
    ComboBox1 = mainTab_->ComboBox1;
    surround = mainTab_->surround;
    Button4 = mainTab_->Button4;
    CheckBox1 = mainTab_->CheckBox1;
    Label2 = mainTab_->Label2;
    Edit2 = mainTab_->Edit2;
    GroupBox2 = mainTab_->GroupBox2;
    Button8 = mainTab_->Button8;
    Button11 = mainTab_->Button11;
    Button13 = mainTab_->Button13;
    Button14 = mainTab_->Button14;

    ListView1 = multiplexTab_->ListView1;
    Button6 = multiplexTab_->Button6;
    Button5 = multiplexTab_->Button5;
    Memo2 = multiplexTab_->Memo2;
    PopupMenu1 = multiplexTab_->PopupMenu1;
    left1 = multiplexTab_->left1;
    right1 = multiplexTab_->right1;
    center1 = multiplexTab_->center1;
    lfe1 = multiplexTab_->lfe1;
    sleft1 = multiplexTab_->sleft1;
    sright1 = multiplexTab_->sright1;

    RadioGroup1 = rawTab_->RadioGroup1;
    Edit3 = rawTab_->Edit3;
    RadioGroup2 = rawTab_->RadioGroup2;
    RadioGroup3 = rawTab_->RadioGroup3;
    Button12 = rawTab_->Button12;
    Label5 = rawTab_->Label5;
    Edit4 = rawTab_->Edit4;
}

PeakListView& TForm1::peakWindow() {
    if (!Form2) {
        ownForm2_ = std::make_unique<TForm2>();
        Form2 = ownForm2_.get();
    }
    Form2->setMainWindow(this);
    return *Form2;
}

void TForm1::FormCreate() {
    runHandler([this] {
        setAcceptDrops(true);
        Edit1->clear();
        Memo1->clear();
        PageControl1->setCurrentIndex(0);
    });
}

std::string TForm1::fileField() const { return mainTab_->fileField(); }

void TForm1::setOutputFolder(const std::string& folder) {
    outputFolder_ = folder;
    strip_->showOutputFolder(folder);
}

bool TForm1::extensibleHeader() const { return strip_->extensibleHeader(); }
bool TForm1::cueChunk() const { return strip_->cueChunk(); }

const ChannelList& TForm1::channelList() const { return multiplexTab_->channelList(); }
const std::string& TForm1::droppedFile() const { return multiplexTab_->droppedFile(); }

bool TForm1::runOperation(const std::function<void()>& body) {
    if (guard_.busy()) {
        dialogs_.beep();
        return false;
    }
    return guard_.operation([&body] {
        struct BusyCursor {
            BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
            ~BusyCursor() { QApplication::restoreOverrideCursor(); }
        } busy;
        body();
    });
}

void TForm1::runInPlace(const std::function<std::vector<std::string>()>& body) {
    runOperation([this, &body] {
        if (!body().empty()) ShowAnalysis(fileField());
    });
}

void TForm1::showMessage(const std::string& text) { dialogs_.message(this, Q(kApplicationTitle), Q(text)); }

std::vector<QWidget*> TForm1::controlsOf(Operation op) const {
    // One row per operation, in the enum's order.
    const std::array<std::vector<QWidget*>, kOperationCount> controls = {{
        {Button3},              // Split
        {surround},             // Surround
        {Button7},              // Normalize
        {Button8},              // RebuildHeader
        {Button5},              // Multiplex
        {Button11},             // RemoveFooter
        {Button10, ComboBox1},  // SetRate
        {Button13},             // FixRiffSize
        {Button14},             // Recover
    }};
    const auto i = static_cast<std::size_t>(op);
    return i < controls.size() ? controls[i] : std::vector<QWidget*>{};
}

// The analysis offers operations of both the main and the multiplex tab. A
// control it keeps disabled says why in its tooltip, after its own hint.
void TForm1::applyEnabled(const OperationSet& allowed, const OperationReasons& reasons) {
    for (Operation op : kAllOperations)
        for (QWidget* control : controlsOf(op)) {
            if (!control->property(kHintProperty).isValid()) control->setProperty(kHintProperty, control->toolTip());
            const QString hint = control->property(kHintProperty).toString();
            const QString why = QString::fromStdString(WhyNot(reasons, op));
            control->setEnabled(allowed.contains(op));
            control->setToolTip(allowed.contains(op) || why.isEmpty() ? hint
                                : hint.isEmpty()                      ? why
                                                                      : hint + "\n" + why);
        }
}

AnalysisResult TForm1::ShowAnalysis(const std::string& path) {
    // Throws before anything changed when the file cannot be opened.
    AnalysisResult result = AnalyzeWave(path, waveInfo_);
    ShowAnalysisResult(result);
    return result;
}

void TForm1::ShowAnalysisResult(const AnalysisResult& result) {
    setOutputFolder(DefaultOutputFolder(waveInfo_.analyzedPath));
    if (result.hexDump) SetLines(Memo4, *result.hexDump);
    // A verdict on the file replaces the report, the log and what is offered.
    if (const std::optional<OperationSet> allowed = AllowedOperations(waveInfo_, result)) {
        Memo1->clear();
        Memo3->clear();
        applyEnabled(*allowed, WhyNotOffered(waveInfo_, result));
    }
    // A stored rate of 0 stops here too, with only the rate rewrite offered.
    if (result.failure) throw VelmoraError(*result.failure);
    // The format warning is closed before the report appears.
    for (const auto& message : result.messages) showMessage(message);
    // Not a RIFF file: it is no longer the current file.
    if (result.stop == AnalysisStop::NoRiff) Edit1->clear();
    if (result.report) SetLines(Memo1, *result.report);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !LocalFiles(event->mimeData()->urls()).empty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = LocalFiles(event->mimeData()->urls());
    if (paths.empty()) return;
    event->acceptProposedAction();
    // The drag source is released first; the handler runs from its own event.
    QMetaObject::invokeMethod(
        this, [this, paths] { FormDropFiles(paths); }, Qt::QueuedConnection);
}

void TForm1::FormDropFiles(const QStringList& paths) {
    std::vector<std::string> bytes;
    for (const QString& path : paths) bytes.push_back(PathBytes(path));
    FormDropFiles(bytes);
}

void TForm1::FormDropFiles(const std::vector<std::string>& paths) {
    runOperation([this, &paths] {
        if (paths.empty()) return;
        // The whole path, however long: a cut path would name another file.
        const std::string& path = paths.front();
        QWidget* page = PageControl1->currentWidget();
        if (page == TabSheet3) SetPathField(Edit4, path);
        SetPathField(Edit1, path);
        if (page == TabSheet1) {
            ShowAnalysis(fileField());
        } else if (page == TabSheet2) {
            multiplexTab_->setDroppedFile(path);
            dialogs_.popup(*PopupMenu1, QCursor::pos());
        }
    });
}

void TForm1::RegisterChannelFile(int row) { multiplexTab_->registerChannelFile(row); }

// The main tab's operations.
void TForm1::Button3Click() { mainTab_->Button3Click(); }
void TForm1::Button4Click() { mainTab_->Button4Click(); }
void TForm1::Button7Click() { mainTab_->Button7Click(); }
void TForm1::Button8Click() { mainTab_->Button8Click(); }
void TForm1::Button10Click() { mainTab_->Button10Click(); }
void TForm1::Button11Click() { mainTab_->Button11Click(); }
void TForm1::Button13Click() { mainTab_->Button13Click(); }
void TForm1::Button14Click() { mainTab_->Button14Click(); }

}  // namespace velmora::app
