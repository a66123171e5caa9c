// The main window under the offscreen platform, with scripted dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <stdexcept>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>

#include "app/dialogs.h"
#include "app/folder_dialog.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/peak_list_model.h"
#include "app/startup.h"
#include "app/widgets.h"
#include "ops/catalogue.h"
#include "ops/source_checks.h"
#include "scripted_dialogs.h"
#include "special_files.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav/text.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::app;
using namespace velmora::test;

namespace {

// Records the rows the popup items ask to register, and whether that
// happened while another operation was still running.
class RecordingForm : public TForm1 {
public:
    using TForm1::TForm1;
    std::vector<int> registeredRows;

protected:
    void RegisterChannelFile(int row) override { registeredRows.push_back(row); }
};

const char* const kControlNames[] = {"PageControl1", "TabSheet1",   "TabSheet2", "TabSheet3", "exwavechk",   "cuechk",
                                     "Gauge1",       "Label3",      "Label4",    "Button9",   "Edit1",       "Button1",
                                     "Memo1",        "Memo4",       "Memo3",     "Button2",   "Button3",     "Button7",
                                     "Button10",     "ComboBox1",   "surround",  "Button4",   "CheckBox1",   "Label2",
                                     "Edit2",        "GroupBox2",   "Button8",   "Button11",  "Button13",    "Button14",
                                     "ListView1",    "Button6",     "Button5",   "Memo2",     "RadioGroup1", "Edit3",
                                     "RadioGroup2",  "RadioGroup3", "Button12",  "Label5",    "Edit4"};

WavBuilder Canonical(std::uint16_t channels = 2) {
    WavBuilder b;
    b.channels = channels;
    b.samples = PatternSamples(4410, channels, 2);
    return b;
}

QStringList Lines(const QString& text) { return text.split(QLatin1Char('\n')); }

QStringList ReportOf(const std::string& path) {
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(path, info);
    QStringList lines;
    for (const auto& line : *r.report) lines << QString::fromStdString(line);
    return lines;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<RecordingForm>(dialogs);
        form->show();
        QApplication::processEvents();
    }

    std::string Write(const std::string& name, const Bytes& bytes) { return dir.write(name, bytes); }

    // A drop on the given tab, as the window's drop handler receives it.
    void DropOn(int tab, const QStringList& paths) {
        form->PageControl1->setCurrentIndex(tab);
        form->FormDropFiles(paths);
    }
    void DropOn(int tab, const std::string& path) { DropOn(tab, QStringList{QString::fromStdString(path)}); }

    QString Q(const std::string& s) { return QString::fromStdString(s); }

    std::vector<bool> OperationStates() {
        return {form->Button3->isEnabled(),  form->surround->isEnabled(),  form->Button7->isEnabled(),
                form->Button8->isEnabled(),  form->Button5->isEnabled(),   form->Button11->isEnabled(),
                form->Button10->isEnabled(), form->ComboBox1->isEnabled(), form->Button13->isEnabled()};
    }

    TempDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<RecordingForm> form;
};

}  // namespace

TEST_F(WindowTest, StartUpState) {
    EXPECT_EQ(form->windowTitle(), "Velmora v0.30");
    EXPECT_EQ(form->size(), QSize(697, 523));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->acceptDrops());

    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_EQ(form->PageControl1->tabText(0), "メイン");
    EXPECT_EQ(form->PageControl1->tabText(1), "多重化");
    EXPECT_EQ(form->PageControl1->tabText(2), "強制WAV化");
    for (QString text : {form->Edit1->text(), form->Memo1->toPlainText(), form->Memo3->toPlainText(),
                         form->Memo4->toPlainText(), form->Label4->text(), form->Edit4->text()})
        EXPECT_TRUE(text.isEmpty()) << text.toStdString();
    EXPECT_TRUE(form->exwavechk->isChecked());
    EXPECT_TRUE(form->cuechk->isEnabled());
    EXPECT_FALSE(form->cuechk->isChecked());
    EXPECT_EQ(form->Gauge1->value(), 0);
    for (const char* name : kControlNames)
        EXPECT_TRUE(form->findChild<QWidget*>(QString::fromUtf8(name))->isEnabled()) << name;

    EXPECT_EQ(form->ComboBox1->currentText(), "48000");
    EXPECT_EQ(form->ComboBox1->count(), 3);
    EXPECT_EQ(form->Edit2->text(), "200");
    EXPECT_EQ(form->RadioGroup1->itemIndex(), 0);
    EXPECT_EQ(form->RadioGroup2->itemIndex(), 0);
    EXPECT_EQ(form->RadioGroup3->itemIndex(), 0);

    // The multiplex list: six fixed rows, blank texts, clear check boxes.
    ASSERT_EQ(form->ListView1->rowCount(), 6);
    ASSERT_EQ(form->ListView1->columnCount(), 4);
    EXPECT_TRUE(form->ListView1->isColumnHidden(1));
    const char* channels[] = {"Left", "Right", "Center", "LFE", "S-Left", "S-Right"};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(form->ListView1->item(row, 0)->text(), channels[row]);
        EXPECT_EQ(form->ListView1->item(row, 0)->checkState(), Qt::Unchecked);
        for (int column = 1; column < 4; ++column) EXPECT_EQ(form->ListView1->item(row, column)->text(), " ");
    }
    QStringList items;
    for (QAction* a : form->PopupMenu1->actions()) items << a->objectName() + "=" + a->text();
    EXPECT_EQ(items, QStringList({"left1=left", "right1=right", "center1=center", "lfe1=lfe", "sleft1=s-left",
                                  "sright1=s-right"}));

    TForm2 form2;
    EXPECT_EQ(form2.windowTitle(), "ノーマライズ");
    EXPECT_FALSE(form2.isVisible());
    form2.show();
    form2.Button1->click();
    EXPECT_FALSE(form2.isVisible());
}

// Later work finds the controls by these names, and every control must show
// its whole caption inside its parent.
TEST_F(WindowTest, ControlsCarryTheirNamesAndFitTheirPlaces) {
    for (const char* name : kControlNames)
        EXPECT_NE(form->findChild<QWidget*>(QString::fromUtf8(name)), nullptr) << name;
    EXPECT_EQ(form->Button8->toolTip(), "fmtチャンクのサイズを2バイト削除します");
    EXPECT_EQ(form->Button11->toolTip(), "フッタ情報(タグ)を削除します");
    EXPECT_EQ(form->Button13->toolTip(), "RIFFチャンクのサイズを正しく書き換えます");

    for (int tab = 0; tab < 3; ++tab) {
        form->PageControl1->setCurrentIndex(tab);
        QApplication::processEvents();
        for (QWidget* w : form->PageControl1->currentWidget()->findChildren<QWidget*>()) {
            if (!w->isVisible() || w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
            QRect inParent = w->geometry();
            EXPECT_TRUE(w->parentWidget()->rect().contains(inParent)) << w->objectName().toStdString();
        }
    }
    auto textWidth = [](QWidget* w, const QString& text) { return w->fontMetrics().horizontalAdvance(text); };
    for (QPushButton* b : form->findChildren<QPushButton*>())
        EXPECT_LE(textWidth(b, b->text().remove('&')), b->width() - 4) << b->objectName().toStdString();
    for (QCheckBox* c : form->findChildren<QCheckBox*>()) {
        int indicator = c->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, c) +
                        c->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, c);
        EXPECT_LE(indicator + textWidth(c, c->text()), c->width()) << c->objectName().toStdString();
    }
    for (QRadioButton* r : form->findChildren<QRadioButton*>()) {
        int indicator = r->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, r) +
                        r->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, r);
        EXPECT_LE(indicator + textWidth(r, r->text()), r->width()) << r->objectName().toStdString();
    }
    for (QGroupBox* g : form->findChildren<QGroupBox*>())
        EXPECT_LE(8 + textWidth(g, g->title()), g->width()) << g->objectName().toStdString();
    // The longest hex dump line fits Memo4 without wrapping.
    QString dumpLine = "0000:" + QString(" 00").repeated(16);
    EXPECT_LE(textWidth(form->Memo4, dumpLine), form->Memo4->viewport()->width() - 8);
}

// Each operation has controls of its own that the analysis turns on and off.
TEST_F(WindowTest, EveryOperationHasItsControls) {
    std::set<QWidget*> seen;
    for (Operation op : kAllOperations) {
        SCOPED_TRACE(OperationName(op));
        const std::vector<QWidget*> controls = form->controlsOf(op);
        EXPECT_FALSE(controls.empty());
        for (QWidget* w : controls) {
            ASSERT_NE(w, nullptr);
            EXPECT_TRUE(seen.insert(w).second) << w->objectName().toStdString() << " serves two operations";
        }
    }
}

TEST_F(WindowTest, DropOnMainTabAnalysesTheFirstOfThreeFiles) {
    std::string a = Write("a.wav", Canonical(2).Build());
    std::string b = Write("b.wav", Canonical(1).Build());
    std::string c = Write("c.wav", Canonical(1).Build());
    DropOn(0, QStringList{Q(a), Q(b), Q(c)});

    EXPECT_EQ(form->Edit1->text(), Q(a));
    EXPECT_EQ(Lines(form->Memo1->toPlainText()), ReportOf(a));
    EXPECT_TRUE(form->Memo4->toPlainText().startsWith("0000: 52 49 46 46"));
    EXPECT_EQ(form->Label4->text(), Q(dir.path() + "/"));
    EXPECT_EQ(form->waveInfo().format.channels, 2);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_NO_THROW(RequireAnalysed(form->fileField(), form->waveInfo()));
}

// `velmora FILE ...`: once the event loop runs, the first file is analysed on
// the main tab whichever tab is showing; a relative path is the current folder's.
TEST_F(WindowTest, StartsWithTheFirstFileOfTheCommandLineAnalysed) {
    std::string start = Write("start.wav", Canonical(2).Build());
    Write("other.wav", Canonical(1).Build());
    form->PageControl1->setCurrentIndex(2);
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Q(dir.path())));
    OpenAtStart(*form, {"start.wav", "other.wav"});
    ASSERT_TRUE(QDir::setCurrent(cwd));
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    QApplication::processEvents();

    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_EQ(form->Edit1->text(), Q(start));
    EXPECT_TRUE(form->Edit4->text().isEmpty());
    EXPECT_EQ(Lines(form->Memo1->toPlainText()), ReportOf(start));
    EXPECT_TRUE(form->Memo4->toPlainText().startsWith("0000: 52 49 46 46"));
    EXPECT_EQ(form->Label4->text(), Q(dir.path() + "/"));
    EXPECT_EQ(form->waveInfo().format.channels, 2);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, DropOnRawTabFillsBothFieldsWithoutAnalysing) {
    std::string a = Write("a.wav", Canonical(2).Build());
    std::string raw = Write("take.raw", Bytes(100, 7));
    DropOn(0, a);
    const QString report = form->Memo1->toPlainText();

    DropOn(2, raw);
    EXPECT_EQ(form->Edit4->text(), Q(raw));
    EXPECT_EQ(form->Edit1->text(), Q(raw));
    EXPECT_EQ(form->Memo1->toPlainText(), report);
    EXPECT_EQ(form->Label4->text(), Q(dir.path() + "/"));
    // The main tab's operations now refuse: Edit1 names a file WaveInfo does not describe.
    try {
        RequireAnalysed(form->fileField(), form->waveInfo());
        ADD_FAILURE() << "no refusal";
    } catch (const VelmoraError& e) {
        EXPECT_EQ(ErrorCodeOf(e.what()), "not-analysed");
    }
}

TEST_F(WindowTest, DropOnMultiplexTabWithPopupDismissed) {
    std::string a = Write("a.wav", Canonical(2).Build());
    std::string m = Write("mono.wav", Canonical(1).Build());
    DropOn(0, a);
    const QString report = form->Memo1->toPlainText();
    QCursor::setPos(123, 77);

    DropOn(1, m);
    QApplication::processEvents();
    EXPECT_EQ(form->Edit1->text(), Q(m));
    EXPECT_EQ(form->droppedFile(), m);
    ASSERT_EQ(dialogs.popupPositions.size(), 1u);
    EXPECT_EQ(dialogs.popupPositions[0], QCursor::pos());
    EXPECT_TRUE(form->registeredRows.empty());
    EXPECT_EQ(form->Memo1->toPlainText(), report);
    EXPECT_EQ(form->waveInfo().format.channels, 2);
    EXPECT_EQ(form->waveInfo().analyzedPath, a);
    for (int row = 0; row < 6; ++row) EXPECT_EQ(form->ListView1->item(row, 2)->text(), " ");
    EXPECT_THROW(RequireAnalysed(form->fileField(), form->waveInfo()), VelmoraError);
}

TEST_F(WindowTest, PopupItemRegistersFromItsOwnEventAfterTheDrop) {
    std::string m = Write("mono.wav", Canonical(1).Build());
    dialogs.popupChoices = {"center1"};
    DropOn(1, m);
    // Not inside the drop handler, whose operation would have shut it out ...
    EXPECT_TRUE(form->registeredRows.empty());
    QApplication::processEvents();
    // ... but right after it, from the item's own event.
    EXPECT_EQ(form->registeredRows, std::vector<int>{2});

    dialogs.popupChoices = {"sright1"};
    DropOn(1, m);
    QApplication::processEvents();
    EXPECT_EQ(form->registeredRows, (std::vector<int>{2, 5}));
}

TEST_F(WindowTest, DropEventsTakeTheFirstLocalFile) {
    std::string a = Write("a.wav", Canonical(2).Build());
    QMimeData remote;
    remote.setUrls({QUrl("https://example.invalid/x.wav")});
    QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &remote, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData files;
    files.setUrls({QUrl("https://example.invalid/x.wav"), QUrl::fromLocalFile(Q(a))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &drop);
    QApplication::processEvents();
    EXPECT_EQ(form->Edit1->text(), Q(a));
    EXPECT_EQ(Lines(form->Memo1->toPlainText()), ReportOf(a));
    // The fields take no drops of their own: the window routes every drop.
    EXPECT_FALSE(form->Edit1->acceptDrops());
    EXPECT_FALSE(form->Memo3->viewport()->acceptDrops());
}

TEST_F(WindowTest, BrowseButtonSetsTheOutputFolderUntilTheNextAnalysis) {
    std::string a = Write("a.wav", Canonical(2).Build());
    DropOn(0, a);
    dialogs.folderAnswers = {Q(dir.path() + "/")};
    form->Button9->click();
    ASSERT_EQ(dialogs.folderTitles.size(), 1u);
    EXPECT_EQ(dialogs.folderTitles[0], "フォルダを選択して下さい。");
    EXPECT_EQ(dialogs.folderInitials[0], Q(dir.path() + "/"));
    EXPECT_EQ(form->Label4->text(), Q(dir.path()));
    EXPECT_EQ(EnsureTrailingSeparator(form->outputFolder()), dir.path() + "/");

    dialogs.folderAnswers = {"/"};
    form->Button9->click();
    EXPECT_EQ(form->Label4->text(), "/");
    EXPECT_EQ(EnsureTrailingSeparator(form->outputFolder()), "/");

    form->Button9->click();  // cancelled
    EXPECT_EQ(form->Label4->text(), "/");

    DropOn(0, a);
    EXPECT_EQ(form->Label4->text(), Q(dir.path() + "/"));
}

// The peak list at 1 Hz: a row per minute, 100,000 of them, go into one
// compact model (no item per cell) and the list ends scrolled to the last.
TEST(PeakList, AHundredThousandMinutesAreRowsOfOneCompactModel) {
    TForm2 form2;
    form2.show();
    QApplication::processEvents();
    PeakListView& view = form2;
    view.clearRows();
    constexpr int kMinutes = 100'000;
    const auto peakOf = [](int minute) { return (minute * 7919) % 32768; };
    for (int minute = 0; minute < kMinutes; ++minute) view.addRow(minute, minute % 60, peakOf(minute));
    view.setLabel("ピーク値:32767 ");  // after the last row: the list is drawn and scrolled now

    EXPECT_EQ(qobject_cast<QTableWidget*>(form2.ListView1), nullptr);
    ASSERT_EQ(form2.ListView1->model(), form2.Peaks);
    const QAbstractItemModel* rows = form2.ListView1->model();
    ASSERT_EQ(rows->rowCount(), kMinutes);
    ASSERT_EQ(rows->columnCount(), 3);
    EXPECT_EQ(form2.Peaks->rowsPastCap(), 0);
    for (int minute : {0, 59, 61, kMinutes / 2 + 7, kMinutes - 1}) {
        EXPECT_EQ(rows->index(minute, 0).data().toString(), QString::number(minute));
        EXPECT_EQ(rows->index(minute, 1).data().toString(), QString::number(minute % 60));
        EXPECT_EQ(rows->index(minute, 2).data().toString(), QString::number(peakOf(minute))) << minute;
    }
    const QScrollBar* bar = form2.ListView1->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(
        form2.ListView1->viewport()->rect().contains(form2.ListView1->visualRect(rows->index(kMinutes - 1, 0))));
    EXPECT_TRUE(form2.ListView1->updatesEnabled());  // drawn again once the rows are in
}

// Past the cap the rows are counted, not held, and one last row says how many
// follow; the next scan starts empty.
TEST(PeakList, RowsPastTheCapAreCountedAndTheLastRowSaysHowManyFollow) {
    TForm2 form2;
    constexpr int kCap = 500;
    form2.Peaks->setCap(kCap);
    PeakListView& view = form2;
    const QAbstractItemModel* rows = form2.ListView1->model();
    for (int added : {kCap + 12'345, kCap - 1, kCap + 1, kCap}) {
        SCOPED_TRACE(added);
        view.clearRows();
        for (int minute = 0; minute < added; ++minute) view.addFloatRow(minute, minute % 60, minute + 0.5);
        const int held = std::min(added, kCap), past = added - held;
        EXPECT_EQ(form2.Peaks->storedRows(), held);
        EXPECT_EQ(form2.Peaks->rowsPastCap(), past);
        ASSERT_EQ(rows->rowCount(), held + (past > 0 ? 1 : 0));
        EXPECT_EQ(rows->index(held - 1, 2).data().toString(), QString::fromStdString(FloatPeakText(held - 1 + 0.5)));
        if (past > 0) {
            EXPECT_EQ(rows->index(held, 0).data().toString(), QStringLiteral("ほか %1 行").arg(past));
        }
        // Across the three columns, and no span left behind by an earlier scan.
        EXPECT_EQ(form2.ListView1->columnSpan(kCap, 0), past > 0 ? 3 : 1);
    }
}

TEST(FolderBrowseDialog, RefusesATypedFolderThatDoesNotExist) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("music"));
    std::vector<QString> refusals;
    QWidget* owner = nullptr;
    FolderBrowseDialog dialog(nullptr, "フォルダを選択して下さい。", QString::fromStdString(dir.path() + "/"),
                              [&](QWidget* w, const QString& text) {
                                  owner = w;
                                  refusals.push_back(text);
                              });
    EXPECT_EQ(dialog.statusLine()->text(), QString::fromStdString(dir.path()));
    dialog.show();

    dialog.editBox()->setText("nope");
    dialog.accept();
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0], "nope ディレクトリは存在しません");
    EXPECT_EQ(owner, &dialog);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    dialog.editBox()->setText("music");  // below the selected folder
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedFolder(), QString::fromStdString(dir.file("music")));
    EXPECT_EQ(refusals.size(), 1u);

    FolderBrowseDialog root(nullptr, "t", "/", [&](QWidget*, const QString& text) { refusals.push_back(text); });
    root.editBox()->setText("/");
    root.accept();
    EXPECT_EQ(root.selectedFolder(), "/");
    EXPECT_EQ(FolderForLabel(QString::fromStdString(dir.path() + "/music/")),
              QString::fromStdString(dir.file("music")));
}

// The real boxes: captions and buttons as the user sees them.
TEST(QtDialogs, BoxesCarryTheirCaptionsAndButtons) {
    QtDialogs dialogs;
    QString caption, text;
    QStringList buttons;
    auto inspectAndPress = [&](int press) {
        QTimer::singleShot(0, [&, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            caption = box->windowTitle();
            text = box->text();
            buttons.clear();
            for (QAbstractButton* b : box->buttons()) buttons << b->text();
            box->buttons().at(press)->click();
        });
    };
    inspectAndPress(0);
    dialogs.message(nullptr, "Velmora", "RIFFチャンクがありません\r\n中断します");
    EXPECT_EQ(caption, "Velmora");
    EXPECT_EQ(text, "RIFFチャンクがありません\n中断します");
    EXPECT_EQ(buttons.size(), 1);

    bool answer = true;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        buttons.clear();
        for (QAbstractButton* b : box->buttons()) buttons << b->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "いいえ(&N)") b->click();
    });
    answer = dialogs.ask(nullptr, "ノーマライズをしますか？");
    EXPECT_EQ(caption, "確認");
    EXPECT_TRUE(buttons.contains("はい(&Y)"));
    EXPECT_TRUE(buttons.contains("いいえ(&N)"));
    EXPECT_EQ(buttons.size(), 2);
    EXPECT_FALSE(answer);

    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "はい(&Y)") b->click();
    });
    EXPECT_TRUE(dialogs.ask(nullptr, "ノーマライズをしますか？"));
}

// The real folder dialog behind the interface: a typed folder that does not
// exist gets the "確認" box with one OK button, and the dialog stays open.
TEST(QtDialogs, FolderDialogValidatesWhatIsTyped) {
    TempDir dir;
    QtDialogs dialogs;
    QString refusalCaption, refusalText;
    int refusalButtons = 0;
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        auto* browse = dynamic_cast<FolderBrowseDialog*>(dialog);
        ASSERT_NE(browse, nullptr);
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            refusalCaption = box->windowTitle();
            refusalText = box->text();
            refusalButtons = static_cast<int>(box->buttons().size());
            box->buttons().at(0)->click();
        });
        browse->editBox()->setText("no-such-folder");
        browse->accept();
        stayedOpen = browse->isVisible();
        browse->editBox()->setText(QString::fromStdString(dir.path()));
        browse->accept();
    });
    std::optional<QString> chosen = dialogs.browseFolder(nullptr, "フォルダを選択して下さい。", "/");
    EXPECT_EQ(refusalCaption, "確認");
    EXPECT_EQ(refusalText, "no-such-folder ディレクトリは存在しません");
    EXPECT_EQ(refusalButtons, 1);
    EXPECT_TRUE(stayedOpen);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, QString::fromStdString(dir.path()));
}

TEST(QtDialogs, ClipboardHoldsThePlainText) {
    QtDialogs dialogs;
    dialogs.setClipboardText("a\r\nb");
    if (!QGuiApplication::clipboard()->supportsSelection() && QGuiApplication::clipboard()->text().isEmpty())
        GTEST_SKIP() << "this platform has no clipboard";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "a\r\nb");
}

TEST_F(WindowTest, CueOptionFollowsTheExtendedHeaderOption) {
    form->cuechk->setChecked(true);
    form->exwavechk->click();
    EXPECT_FALSE(form->exwavechk->isChecked());
    EXPECT_FALSE(form->cuechk->isEnabled());
    EXPECT_FALSE(form->cuechk->isChecked());
    form->exwavechk->click();
    EXPECT_TRUE(form->exwavechk->isChecked());
    EXPECT_TRUE(form->cuechk->isEnabled());
    EXPECT_FALSE(form->cuechk->isChecked());
}

TEST_F(WindowTest, ClipboardGetsTheReportWithCrLf) {
    form->Button2->click();
    ASSERT_TRUE(dialogs.clipboard.has_value());
    EXPECT_EQ(*dialogs.clipboard, "");

    std::string a = Write("a.wav", Canonical(2).Build());
    DropOn(0, a);
    form->Button2->click();
    EXPECT_EQ(*dialogs.clipboard, ReportOf(a).join("\r\n"));
    EXPECT_FALSE(dialogs.clipboard->contains(QRegularExpression("[^\r]\n")));
}

TEST_F(WindowTest, EnabledStatesFollowTheAnalysedFile) {
    dialogs.openAnswers = {Q(Write("canonical.wav", Canonical(2).Build()))};
    form->Button1->click();
    EXPECT_EQ(dialogs.openFilters, std::vector<QString>{"Wav(*.wav)"});
    // split, surround, normalize, rebuild, mux, footer, rate, rate field, riff size
    EXPECT_EQ(OperationStates(), (std::vector<bool>{true, true, true, false, true, false, true, true, false}));
    EXPECT_TRUE(form->Button4->isEnabled() == form->surround->isEnabled());

    WavBuilder footer = Canonical(2);
    footer.trailer = ListChunk(26);
    dialogs.openAnswers = {Q(Write("footer.wav", footer.Build()))};
    form->Button1->click();
    EXPECT_EQ(OperationStates(), (std::vector<bool>{false, false, false, false, false, true, false, false, false}));
    EXPECT_FALSE(form->Button4->isEnabled());
    EXPECT_TRUE(form->Button12->isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());

    // A rejected file leaves the states, the report and the dump as they were.
    const QString report = form->Memo1->toPlainText();
    const QString dump = form->Memo4->toPlainText();
    std::string short3 = Write("short.wav", Bytes{'R', 'I', 'F'});
    dialogs.openAnswers = {Q(short3)};
    form->Button1->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].caption, "Velmora");
    EXPECT_EQ(dialogs.messages[0].text, "RIFFチャンクがありません\r\n中断します");
    EXPECT_TRUE(form->Edit1->text().isEmpty());
    EXPECT_EQ(OperationStates(), (std::vector<bool>{false, false, false, false, false, true, false, false, false}));
    EXPECT_EQ(form->Memo1->toPlainText(), report);
    EXPECT_EQ(form->Memo4->toPlainText(), dump);

    dialogs.openAnswers.clear();
    form->Edit1->setText("typed");
    form->Button1->click();  // cancelled: nothing changes
    EXPECT_EQ(form->Edit1->text(), "typed");
}

TEST_F(WindowTest, FormatWarningComesBeforeTheReportAndTheLogIsEmptied) {
    form->Memo3->setPlainText("old log line");
    WavBuilder floating = Canonical(2);
    floating.formatTag = 3;
    floating.bitsPerSample = 32;
    floating.samples = PatternSamples(100, 2, 4);
    QString memo1AtMessage = "unset", memo3AtMessage = "unset";
    dialogs.onMessage = [&](const ScriptedDialogs::Shown&) {
        memo1AtMessage = form->Memo1->toPlainText();
        memo3AtMessage = form->Memo3->toPlainText();
    };
    DropOn(0, Write("float.wav", floating.Build()));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              "フォーマットIDが無圧縮WAV以外ですので、\r\nヘッダ内容の正確さを保証できません");
    EXPECT_EQ(memo1AtMessage, "");
    EXPECT_EQ(memo3AtMessage, "");
    EXPECT_EQ(Lines(form->Memo1->toPlainText()).value(2), "Format ID               : 3");
}

TEST_F(WindowTest, FailuresAreShownByTheTopLevelHandler) {
    std::string a = Write("a.wav", Canonical(2).Build());
    DropOn(0, a);
    const QString report = form->Memo1->toPlainText();
    const std::vector<bool> states = OperationStates();

    // A file that cannot be opened: nothing changes, not even the output folder.
    dialogs.folderAnswers = {"/"};
    form->Button9->click();
    std::string missing = dir.file("missing.wav");
    dialogs.openAnswers = {Q(missing)};
    form->Button1->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].caption, "Velmora");
    EXPECT_EQ(dialogs.messages[0].text.toStdString(), TextCannotOpen(missing));
    EXPECT_EQ(form->Label4->text(), "/");
    EXPECT_EQ(form->Memo1->toPlainText(), report);

    // blockAlign 0: the dump is the new file's, then the division failure;
    // report and controls stay.
    WavBuilder zero = Canonical(2);
    zero.blockAlign = 0;
    DropOn(0, Write("zero.wav", zero.Build()));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, kTextDivByZero);
    EXPECT_TRUE(Lines(form->Memo4->toPlainText()).value(2).startsWith("0020: 00 00 10 00"));
    EXPECT_EQ(form->Memo1->toPlainText(), report);
    EXPECT_EQ(OperationStates(), states);
    EXPECT_THROW(RequireAnalysed(form->fileField(), form->waveInfo()), VelmoraError);

    // Any other exception in a handler is shown too, and the window goes on.
    form->runOperation([] { throw std::runtime_error("boom"); });
    form->runHandler([] { throw 42; });
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.messages[2].text, "boom");
    EXPECT_FALSE(dialogs.messages[3].text.isEmpty());
    EXPECT_FALSE(form->guard().busy());
}

TEST_F(WindowTest, AFifoASocketOrADeviceIsRefusedInsteadOfWaiting) {
    std::string a = Write("a.wav", Canonical(2).Build());
    DropOn(0, a);
    const QString report = form->Memo1->toPlainText();
    SpecialFiles special(dir);
    ASSERT_EQ(special.all().size(), 3u);
    // A FIFO with no writer would keep the window waiting: the alarm ends the test instead.
    ::alarm(30);
    for (const auto& [kind, path] : special.all()) DropOn(0, path);
    ::alarm(0);
    ASSERT_EQ(dialogs.messages.size(), special.all().size());
    for (std::size_t i = 0; i < special.all().size(); ++i)
        EXPECT_EQ(dialogs.messages[i].text.toStdString(), TextNotRegularFile(special.all()[i].second))
            << special.all()[i].first;
    EXPECT_EQ(form->Memo1->toPlainText(), report);
}

TEST_F(WindowTest, OneOperationAtATimeWhileTheWindowStaysResponsive) {
    std::string a = Write("a.wav", Canonical(2).Build());
    dialogs.openAnswers = {Q(a)};
    bool nestedRan = false;
    bool started = form->runOperation([&] {
        // What a click does while an operation lets pending messages run.
        form->Button1->click();
        nestedRan = form->runOperation([] {});
        DropOn(0, a);
        form->exwavechk->click();  // not an operation: still answers
    });
    EXPECT_TRUE(started);
    EXPECT_FALSE(nestedRan);
    EXPECT_EQ(dialogs.openCalls, 0);
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    EXPECT_FALSE(form->cuechk->isEnabled());

    form->Button1->click();
    EXPECT_EQ(dialogs.openCalls, 1);
    EXPECT_EQ(Lines(form->Memo1->toPlainText()), ReportOf(a));
}

TEST_F(WindowTest, HostsReportIntoTheWindow) {
    Host& main = form->mainHost();
    Host& mux = form->muxHost();
    main.progress(42);
    EXPECT_EQ(form->Gauge1->value(), 42);
    main.log("書込中: ");
    main.log("/tmp/x(Left)(1).wav");
    mux.log("00padding");
    EXPECT_EQ(form->Memo3->toPlainText(), "書込中: \n/tmp/x(Left)(1).wav");
    EXPECT_EQ(form->Memo2->toPlainText(), "00padding");
    mux.clearLog();
    EXPECT_TRUE(form->Memo2->toPlainText().isEmpty());
    EXPECT_FALSE(form->Memo3->toPlainText().isEmpty());

    main.message("!");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].caption, "Velmora");
    EXPECT_EQ(dialogs.messages[0].text, "!");
    dialogs.askAnswers = {false};
    EXPECT_FALSE(main.ask("ノーマライズをしますか？"));
    EXPECT_TRUE(main.ask("ノーマライズをしますか？"));
    EXPECT_EQ(dialogs.questions.size(), 2u);

    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    main.pumpMessages();
    EXPECT_TRUE(ran);
}

int main(int argc, char** argv) {
    // Window tests never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
