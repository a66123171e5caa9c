#include "form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>

#include "controls.h"
#include "dialogs.h"
#include "folder_dialog.h"
#include "form2.h"
#include "ops/multiplex.h"
#include "ops/normalize.h"
#include "ops/rawwave.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "widgets.h"
#include "wav/error.h"
#include "wav/text.h"

namespace velmora::app {

namespace {

const char* const kChannelNames[6] = {"Left", "Right", "Center", "LFE", "S-Left", "S-Right"};

}  // namespace

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
    : QWidget(parent, Qt::Window),
      dialogs_(dialogs),
      guard_([this](const std::string& text) { showMessage(text); }) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Velmora v0.30"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(697, 523);
    setFont(FormFont());

    buildStrip();
    buildMainTab();
    buildMultiplexTab();
    buildRawTab();
    mainHost_ = std::make_unique<WindowHost>(this, Gauge1, Memo3, dialogs_);
    muxHost_ = std::make_unique<WindowHost>(this, Gauge1, Memo2, dialogs_);

    // Files dropped anywhere on the window reach the window itself, not the
    // edit fields and memos that would take them as text.
    for (QWidget* child : findChildren<QWidget*>()) child->setAcceptDrops(false);
    connectHandlers();

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate();
}

TForm1::~TForm1() = default;

TForm2& TForm1::peakWindow() {
    if (!Form2) {
        ownForm2_ = std::make_unique<TForm2>();
        Form2 = ownForm2_.get();
    }
    Form2->setMainWindow(this);
    return *Form2;
}

void TForm1::buildStrip() {
    PageControl1 = Place(new QTabWidget(this), "PageControl1", 8, 8, 681, 457);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName("TabSheet3");
    PageControl1->addTab(TabSheet1, QStringLiteral("メイン"));
    PageControl1->addTab(TabSheet2, QStringLiteral("多重化"));
    PageControl1->addTab(TabSheet3, QStringLiteral("強制WAV化"));

    exwavechk = Place(new QCheckBox(QStringLiteral("拡張WAVEヘッダを使用する(サラウンド作成時推奨)"), this),
                      "exwavechk", 8, 472, 289, 17);
    exwavechk->setChecked(true);
    cuechk = Place(new QCheckBox(QStringLiteral("cueチャンクを使用する"), this), "cuechk", 296, 472, 137, 17);
    Gauge1 = Place(new QProgressBar(this), "Gauge1", 440, 469, 89, 17);
    Gauge1->setRange(0, 100);
    Gauge1->setValue(0);
    Gauge1->setAlignment(Qt::AlignCenter);
    Label3 = MakeLabel(this, "Label3", "ファイル出力先", 8, 496);
    Label4 = Place(new QLabel(this), "Label4", 96, 496, 249, 17);
    Label4->setTextFormat(Qt::PlainText);
    Label4->setAutoFillBackground(true);
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
    Label4->setPalette(palette);
    Button9 = MakeButton(this, "Button9", "参照...", 360, 496, 75, 25);
}

void TForm1::buildMainTab() {
    QWidget* tab = TabSheet1;
    Edit1 = Place(new QLineEdit(tab), "Edit1", 8, 16, 337, 20);
    Button1 = MakeButton(tab, "Button1", "WAVE 参照", 352, 16, 75, 25);
    Memo1 = MakeFixedMemo(tab, "Memo1", 8, 53, 297, 270);
    Memo4 = MakeFixedMemo(tab, "Memo4", 320, 56, 345, 121);
    Memo3 = MakeMemo(tab, "Memo3", 320, 184, 345, 129);
    Button2 = MakeButton(tab, "Button2", "クリップボード出力", 16, 328, 121, 25);
    Button3 = MakeButton(tab, "Button3", "ch分離", 16, 360, 89, 25);
    Button7 = MakeButton(tab, "Button7", "ノーマライズ", 16, 392, 75, 25);
    Button10 = MakeButton(tab, "Button10", "サンプリング周波数書換", 152, 328, 137, 33);
    ComboBox1 = Place(new QComboBox(tab), "ComboBox1", 152, 368, 57, 20);
    ComboBox1->setEditable(true);
    ComboBox1->addItems({QStringLiteral("48000"), QStringLiteral("44100"), QStringLiteral("32000")});
    ComboBox1->setCurrentText(QStringLiteral("48000"));

    surround = Place(new GroupBox(QStringLiteral("擬似サラウンド"), tab), "surround", 472, 320, 193, 105);
    Button4 = MakeButton(surround, "Button4", "擬似サラウンド(2ch->4ch)", 8, 16, 137, 25);
    CheckBox1 = Place(new QCheckBox(QStringLiteral("サラウンドL,R入替"), surround), "CheckBox1", 8, 48, 113, 17);
    Label2 = MakeLabel(surround, "Label2", "ディレイ値(1-1000ms)", 7, 69);
    Edit2 = Place(new QLineEdit(QStringLiteral("200"), surround), "Edit2", 128, 69, 49, 20);

    GroupBox2 = Place(new GroupBox(QStringLiteral("ヘッダ・フッダ操作"), tab), "GroupBox2", 296, 320, 169, 105);
    // Three rows: the recovery of unfinalized recordings takes the third.
    Button8 = MakeButton(GroupBox2, "Button8", "ヘッダ再構築", 6, 20, 75, 25);
    Button8->setToolTip(QStringLiteral("fmtチャンクのサイズを2バイト削除します"));
    Button11 = MakeButton(GroupBox2, "Button11", "フッタ削除", 88, 20, 73, 25);
    Button11->setToolTip(QStringLiteral("フッタ情報(タグ)を削除します"));
    Button13 = MakeButton(GroupBox2, "Button13", "ヘッダ整合書換", 8, 47, 89, 25);
    Button13->setToolTip(QStringLiteral("RIFFチャンクのサイズを正しく書き換えます"));
    Button14 = MakeButton(GroupBox2, "Button14", "データサイズ修復", 8, 74, 109, 25);
    Button14->setToolTip(QStringLiteral("録音途中で止まったファイルのデータサイズをファイル長から書き直します"));
}

void TForm1::buildMultiplexTab() {
    QWidget* tab = TabSheet2;
    ListView1 = Place(new QTableWidget(6, 4, tab), "ListView1", 8, 8, 657, 145);
    ListView1->setHorizontalHeaderLabels(
        {QStringLiteral("Channel"), QStringLiteral("Sample"), QStringLiteral("File"), QStringLiteral("Path")});
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setMinimumSectionSize(16);
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(19);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->setColumnWidth(0, 100);
    ListView1->setColumnWidth(1, 0);
    ListView1->setColumnHidden(1, true);
    ListView1->setColumnWidth(2, 200);
    ListView1->setColumnWidth(3, 200);
    ListView1->setShowGrid(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < 6; ++row) {
        auto* caption = new QTableWidgetItem(Q(kChannelNames[row]));
        caption->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        caption->setCheckState(Qt::Unchecked);
        ListView1->setItem(row, 0, caption);
        for (int column = 1; column < 4; ++column) {
            auto* blank = new QTableWidgetItem(QStringLiteral(" "));
            blank->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            ListView1->setItem(row, column, blank);
        }
    }
    Button6 = MakeButton(tab, "Button6", "クリア", 8, 296, 75, 25);
    Button5 = MakeButton(tab, "Button5", "多重化", 8, 328, 75, 25);
    Memo2 = MakeMemo(tab, "Memo2", 424, 160, 241, 193);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    QAction** items[6] = {&left1, &right1, &center1, &lfe1, &sleft1, &sright1};
    const char* names[6] = {"left1", "right1", "center1", "lfe1", "sleft1", "sright1"};
    const char* captions[6] = {"left", "right", "center", "lfe", "s-left", "s-right"};
    for (int i = 0; i < 6; ++i) {
        *items[i] = PopupMenu1->addAction(Q(captions[i]));
        (*items[i])->setObjectName(Q(names[i]));
    }
}

void TForm1::buildRawTab() {
    QWidget* tab = TabSheet3;
    RadioGroup1 = Place(new RadioGroup(QStringLiteral("サンプリング周波数"),
                                       {QStringLiteral("48000"), QStringLiteral("44100"), QStringLiteral("32000"),
                                        QStringLiteral("その他")},
                                       tab),
                        "RadioGroup1", 16, 8, 185, 89);
    RadioGroup1->arrange();
    // Lies over the lower right of RadioGroup1, beside its item "その他".
    Edit3 = Place(new QLineEdit(tab), "Edit3", 88, 72, 97, 20);
    Edit3->raise();
    RadioGroup2 = Place(new RadioGroup(QStringLiteral("Bit解像度"), {QStringLiteral("16Bit"), QStringLiteral("8Bit")}, tab),
                        "RadioGroup2", 208, 8, 73, 89);
    RadioGroup2->arrange();
    RadioGroup3 = Place(new RadioGroup(QStringLiteral("モード"), {QStringLiteral("Stereo"), QStringLiteral("Mono")}, tab),
                        "RadioGroup3", 288, 8, 73, 89);
    RadioGroup3->arrange();
    Button12 = MakeButton(tab, "Button12", "実行", 16, 104, 75, 25);
    Label5 = MakeLabel(tab, "Label5", "対象ファイル", 16, 136);
    Edit4 = Place(new QLineEdit(tab), "Edit4", 16, 152, 449, 20);
}

void TForm1::connectHandlers() {
    auto on = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(Button1, &TForm1::Button1Click);
    on(Button2, &TForm1::Button2Click);
    on(Button9, &TForm1::Button9Click);
    on(Button3, &TForm1::Button3Click);
    on(Button4, &TForm1::Button4Click);
    on(Button7, &TForm1::Button7Click);
    on(Button5, &TForm1::Button5Click);
    on(Button8, &TForm1::Button8Click);
    on(Button10, &TForm1::Button10Click);
    on(Button11, &TForm1::Button11Click);
    on(Button13, &TForm1::Button13Click);
    on(Button14, &TForm1::Button14Click);
    on(Button12, &TForm1::Button12Click);
    connect(exwavechk, &QCheckBox::clicked, this, [this] { exwavechkClick(); });
    on(Button6, &TForm1::Button6Click);
    // Only the check boxes are the user's to change; the window's own redraws
    // block the list's signals.
    connect(ListView1, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == 0) ListView1ItemChecked(item->row(), item->checkState() == Qt::Checked);
    });

    // A menu item's registration runs from its own event, after the drop
    // handler that opened the menu has returned.
    auto item = [this](QAction* action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); },
                Qt::QueuedConnection);
    };
    item(left1, &TForm1::left1Click);
    item(right1, &TForm1::right1Click);
    item(center1, &TForm1::center1Click);
    item(lfe1, &TForm1::lfe1Click);
    item(sleft1, &TForm1::sleft1Click);
    item(sright1, &TForm1::sright1Click);
}

void TForm1::FormCreate() {
    runHandler([this] {
        setAcceptDrops(true);
        Edit1->clear();
        Memo1->clear();
        PageControl1->setCurrentIndex(0);
    });
}

std::string TForm1::fileField() const { return PathFieldValue(Edit1); }

void TForm1::setOutputFolder(const std::string& folder) {
    outputFolder_ = folder;
    ShowPathInLabel(Label4, folder);
}

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

void TForm1::applyEnabled(const EnabledControls& e) {
    Button3->setEnabled(e.Button3);
    surround->setEnabled(e.surround);
    Button7->setEnabled(e.Button7);
    Button8->setEnabled(e.Button8);
    Button5->setEnabled(e.Button5);
    Button11->setEnabled(e.Button11);
    Button10->setEnabled(e.Button10);
    ComboBox1->setEnabled(e.ComboBox1);
    Button13->setEnabled(e.Button13);
    Button14->setEnabled(e.Button14);
}

AnalysisResult TForm1::ShowAnalysis(const std::string& path) {
    // Throws before anything changed when the file cannot be opened.
    AnalysisResult result = AnalyzeWave(path, waveInfo_);
    ShowAnalysisResult(result);
    return result;
}

void TForm1::ShowAnalysisResult(const AnalysisResult& result) {
    setOutputFolder(result.outputFolder);
    if (result.hexDump) SetLines(Memo4, *result.hexDump);
    if (result.enabled) {
        Memo1->clear();
        Memo3->clear();
        applyEnabled(*result.enabled);
    }
    // A stored rate of 0 stops here too, with only the rate rewrite offered.
    if (result.failure) throw VelmoraError(*result.failure);
    // The format warning is closed before the report appears.
    for (const auto& message : result.messages) showMessage(message);
    if (result.clearFileField) Edit1->clear();
    if (result.report) SetLines(Memo1, *result.report);
}

void TForm1::Button1Click() {
    runOperation([this] {
        std::optional<QString> path = dialogs_.openFile(this, QStringLiteral("Wav(*.wav)"));
        if (!path) return;
        SetPathField(Edit1, PathBytes(*path));
        ShowAnalysis(fileField());
    });
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !LocalFiles(event->mimeData()->urls()).empty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = LocalFiles(event->mimeData()->urls());
    if (paths.empty()) return;
    event->acceptProposedAction();
    // The drag source is released first; the handler runs from its own event.
    QMetaObject::invokeMethod(this, [this, paths] { FormDropFiles(paths); }, Qt::QueuedConnection);
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
            waveInfo_.droppedFileName = path;
            dialogs_.popup(*PopupMenu1, QCursor::pos());
        }
    });
}

void TForm1::Button2Click() {
    runHandler([this] {
        QStringList lines = Memo1->toPlainText().split(QLatin1Char('\n'));
        dialogs_.setClipboardText(lines.join(QStringLiteral("\r\n")));
    });
}

void TForm1::Button9Click() {
    runHandler([this] {
        std::optional<QString> folder =
            dialogs_.browseFolder(this, QStringLiteral("フォルダを選択して下さい。"), DisplayPath(outputFolder_));
        if (!folder) return;
        setOutputFolder(PathBytes(FolderForLabel(*folder)));
    });
}

void TForm1::exwavechkClick() {
    runHandler([this] {
        if (exwavechk->isChecked()) {
            cuechk->setEnabled(true);
        } else {
            cuechk->setEnabled(false);
            cuechk->setChecked(false);
        }
    });
}

void TForm1::RegisterChannelFile(int row) {
    const ChannelRegistration reg = velmora::RegisterChannelFile(row, waveInfo_, channelList_);
    ShowAnalysisResult(reg.analysis);
    if (reg.refusal) showMessage(*reg.refusal);
    showChannelRow(row);
}

void TForm1::showChannelRow(int row) {
    const ChannelRow& r = channelList_.at(row);
    const QSignalBlocker quiet(ListView1);
    ListView1->item(row, 0)->setCheckState(r.checked ? Qt::Checked : Qt::Unchecked);
    ListView1->item(row, 1)->setText(Q(r.sample));
    ListView1->item(row, 2)->setText(Q(r.file));
    ListView1->item(row, 3)->setText(Q(r.path));
}

void TForm1::ListView1ItemChecked(int row, bool checked) {
    runHandler([this, row, checked] {
        if (row < 0 || row >= kChannelRows) return;
        channelList_.setChecked(row, checked);
    });
}

void TForm1::Button6Click() {
    // Not an operation: the list may be cleared while the writer runs.
    runHandler([this] {
        ClearChannelList(channelList_);
        for (int row = 0; row < kChannelRows; ++row) showChannelRow(row);
        Memo2->clear();
    });
}

void TForm1::left1Click() { runOperation([this] { RegisterChannelFile(0); }); }
void TForm1::right1Click() { runOperation([this] { RegisterChannelFile(1); }); }
void TForm1::center1Click() { runOperation([this] { RegisterChannelFile(2); }); }
void TForm1::lfe1Click() { runOperation([this] { RegisterChannelFile(3); }); }
void TForm1::sleft1Click() { runOperation([this] { RegisterChannelFile(4); }); }
void TForm1::sright1Click() { runOperation([this] { RegisterChannelFile(5); }); }

// The options are read from the controls when the button is clicked; the
// guard keeps the operations to one at a time and shows their failures.
void TForm1::Button3Click() {
    runOperation([this] { ChannelSplit(waveInfo_, {fileField(), outputFolder()}, mainHost()); });
}

void TForm1::Button4Click() {
    runOperation([this] {
        SurroundOptions options;
        options.fileField = fileField();
        options.outputFolder = outputFolder();
        options.delayText = Edit2->text().toStdString();
        options.swapRear = CheckBox1->isChecked();
        options.extendedHeader = exwavechk->isChecked();
        options.cue = cuechk->isChecked();
        PseudoSurround(waveInfo_, options, mainHost());
    });
}

void TForm1::Button7Click() {
    runOperation([this] { Normalize(waveInfo_, {fileField(), outputFolder()}, peakWindow(), mainHost()); });
}

void TForm1::Button5Click() {
    runOperation([this] {
        MultiplexOptions options;
        options.exwavechk = exwavechk->isChecked();
        options.cuechk = cuechk->isChecked();
        options.outputFolder = outputFolder();
        // The writer reads the rows from the list again once the first
        // pending messages have run, so a change the user makes at the start
        // is seen.
        WriteMultiplex(channelList_, options, muxHost());
    });
}

void TForm1::Button8Click() {
    runOperation([this] { RebuildHeader(waveInfo_, {fileField(), outputFolder()}, mainHost()); });
}

void TForm1::Button10Click() {
    runInPlace([this] {
        return RewriteSampleRate(waveInfo_, {fileField(), ComboBox1->currentText().toStdString()}, mainHost());
    });
}

void TForm1::Button11Click() {
    runOperation([this] { RemoveFooter(waveInfo_, {fileField(), outputFolder()}, mainHost()); });
}

void TForm1::Button13Click() {
    runInPlace([this] { return RewriteRiffSize(waveInfo_, {fileField()}, mainHost()); });
}

void TForm1::Button14Click() {
    runInPlace([this] { return RecoverDataSize(waveInfo_, {fileField()}, mainHost()); });
}

void TForm1::Button12Click() {
    runOperation([this] {
        RawToWaveOptions options;
        options.rawPath = PathFieldValue(Edit4);
        options.rateItem = RadioGroup1->itemIndex();
        options.otherRate = Edit3->text().toStdString();
        options.bitsItem = RadioGroup2->itemIndex();
        options.modeItem = RadioGroup3->itemIndex();
        options.outputFolder = RawOutputFolder(outputFolder(), options.rawPath);
        RawToWave(options, mainHost());
    });
}

std::string RawOutputFolder(const std::string& outputFolder, const std::string& rawPath) {
    return outputFolder.empty() ? FolderOrCurrent(rawPath) : outputFolder;
}

}  // namespace velmora::app
