// The operations as the window starts them: the buttons read their options
// from the controls, write their files and log into the window's memos.
// Offscreen platform, scripted dialogs, small low-rate fixtures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <set>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>

#include "app/dialogs.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/widgets.h"
#include "error_of.h"
#include "scripted_dialogs.h"
#include "wav/analysis.h"
#include "wav/error.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::app;
using namespace velmora::test;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QStringList Lines(const QPlainTextEdit* memo) {
    QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList{} : text.split(QLatin1Char('\n'));
}

QStringList ReportOf(const std::string& path) {
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(path, info);
    QStringList lines;
    for (const auto& line : *r.report) lines << Q(line);
    return lines;
}

std::int16_t Sample16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(ReadU16(b, at)); }

WavBuilder Stereo(std::size_t frames, std::uint32_t rate = 1000) {
    WavBuilder b;
    b.samplesPerSec = rate;
    b.samples = PatternSamples(frames, 2, 2);
    return b;
}

WavBuilder Mono(std::size_t frames, std::uint8_t salt) {
    WavBuilder b;
    b.channels = 1;
    b.samplesPerSec = 1000;
    b.samples = PatternSamples(frames, 1, 2);
    for (auto& byte : b.samples) byte = static_cast<std::uint8_t>(byte ^ salt);
    return b;
}

class WindowOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        form2 = std::make_unique<TForm2>();
        form = std::make_unique<TForm1>(dialogs);
        form->Form2 = form2.get();  // as start-up does
        form->show();
        QApplication::processEvents();
    }

    std::string Write(const std::string& name, const Bytes& bytes) { return dir.write(name, bytes); }
    std::string Out(const std::string& name) { return dir.file(name); }

    void DropOn(int tab, const std::string& path) {
        form->PageControl1->setCurrentIndex(tab);
        form->FormDropFiles({Q(path)});
    }
    // A drop on the multiplex tab and the popup item chosen.
    void Register(const char* item, const std::string& path) {
        dialogs.popupChoices = {item};
        DropOn(1, path);
        QApplication::processEvents();  // the item's own event
    }
    QString Cell(int row, int column) { return form->ListView1->item(row, column)->text(); }
    Qt::CheckState Check(int row) { return form->ListView1->item(row, 0)->checkState(); }
    QStringList MessageTexts() {
        QStringList texts;
        for (const auto& m : dialogs.messages) texts << m.text;
        return texts;
    }

    TempDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm1> form;
};

}  // namespace

TEST_F(WindowOpsTest, SplitButtonWritesOneMonoFilePerChannel) {
    const WavBuilder src = Stereo(2100);  // 2 s and 100 frames at 1000 Hz
    std::string a = Write("a.wav", src.Build());
    DropOn(0, a);
    form->Button3->click();

    EXPECT_TRUE(dialogs.messages.empty());
    const std::string left = Out("a(Left)(0).wav"), right = Out("a(Right)(1).wav");
    EXPECT_EQ(Lines(form->Memo3), QStringList({Q("書込中: " + left), Q("書込中: " + right), "終わり"}));
    EXPECT_EQ(form->Gauge1->value(), 100);
    const std::string outs[2] = {left, right};
    for (std::size_t c = 0; c < 2; ++c) {
        Bytes out = ReadFile(outs[c]);
        ASSERT_EQ(out.size(), 44u + 4200u) << c;
        EXPECT_EQ(ReadU16(out, 22), 1);      // channels
        EXPECT_EQ(ReadU32(out, 28), 2000u);  // avgBytesPerSec
        EXPECT_EQ(ReadU32(out, 40), 4200u);  // dataSize
        EXPECT_EQ(ReadU32(out, 4), 4236u);   // riffSize
        for (std::size_t f : {0u, 999u, 1000u, 2099u})
            EXPECT_EQ(ReadU16(out, 44 + 2 * f), ReadU16(src.samples, 4 * f + 2 * c)) << c << " " << f;
    }
    // The analysis was not run again.
    EXPECT_EQ(form->waveInfo().analyzedPath, a);
}

TEST_F(WindowOpsTest, SurroundButtonTakesDelaySwapAndHeaderOptionsFromTheControls) {
    const WavBuilder src = Stereo(1500);
    std::string a = Write("a.wav", src.Build());
    DropOn(0, a);

    form->Edit2->setText("1001");
    form->Button4->click();
    EXPECT_EQ(MessageTexts(), QStringList{"ディレイは0～1000msの範囲内にしてください"});
    EXPECT_TRUE(Lines(form->Memo3).isEmpty());

    form->Edit2->setText(" 10");  // 10 frames at 1000 Hz
    form->CheckBox1->setChecked(true);
    form->cuechk->setChecked(true);
    form->Button4->click();
    EXPECT_EQ(Lines(form->Memo3), QStringList({"擬似サラウンド出力中", "終わり"}));
    Bytes out = ReadFile(Out("a(EX)(SS) delay(10ms) 4ch.wav"));
    ASSERT_EQ(out.size(), 128u + 1500u * 8);
    EXPECT_EQ(ReadU16(out, 20), 0xFFFE);
    EXPECT_EQ(ReadU16(out, 22), 4);
    EXPECT_EQ(ReadU32(out, 40), 0x33u);
    EXPECT_EQ(ReadU32(out, 4), 1500u * 8 + 120);
    for (std::size_t n : {0u, 9u, 10u, 999u, 1000u, 1499u}) {
        const std::size_t at = 128 + 8 * n;
        EXPECT_EQ(ReadU16(out, at), ReadU16(src.samples, 4 * n));
        EXPECT_EQ(ReadU16(out, at + 2), ReadU16(src.samples, 4 * n + 2));
        if (n < 10) {
            EXPECT_EQ(ReadU32(out, at + 4), 0u) << n;
        } else {  // rear pair delayed and exchanged
            EXPECT_EQ(ReadU16(out, at + 4), ReadU16(src.samples, 4 * (n - 10) + 2)) << n;
            EXPECT_EQ(ReadU16(out, at + 6), ReadU16(src.samples, 4 * (n - 10))) << n;
        }
    }

    // Without the extended header: six plain channels, no cue, whatever cuechk held.
    form->exwavechk->click();
    form->CheckBox1->setChecked(false);
    form->Button4->click();
    Bytes plain = ReadFile(Out("a delay(10ms) 4ch.wav"));
    ASSERT_EQ(plain.size(), 44u + 1500u * 12);
    EXPECT_EQ(ReadU16(plain, 22), 6);
    EXPECT_EQ(ReadU32(plain, 4), 1500u * 12 + 36);
    EXPECT_EQ(ReadU16(plain, 44 + 12 * 20 + 8), ReadU16(src.samples, 4 * 10));
}

namespace {

// 125 s at 100 Hz: minute 0 peaks at second 7 (again at 30), minute 1 at
// second 3, the last five seconds at second 2.
WavBuilder PeakFixture() {
    WavBuilder b;
    b.samplesPerSec = 100;
    std::vector<std::int16_t> v(125 * 100 * 2, 1);
    auto at = [&](int second, int frame, int channel) -> std::int16_t& {
        return v[static_cast<std::size_t>((second * 100 + frame) * 2 + channel)];
    };
    at(7, 5, 0) = 8000;
    at(30, 0, 1) = -8000;
    at(63, 50, 1) = 16384;
    at(70, 0, 0) = -16384;
    at(122, 99, 0) = -100;
    b.samples = Pcm16(v);
    return b;
}

}  // namespace

TEST_F(WindowOpsTest, NormalizeShowsThePeakWindowBesideTheMainWindowAndAnswerNoKeepsIt) {
    std::string a = Write("a.wav", PeakFixture().Build());
    DropOn(0, a);
    form->move(20, 30);
    QApplication::processEvents();

    // What the window shows while the scan lets messages run.
    std::set<int> rowCounts;
    bool visibleDuringScan = true;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        rowCounts.insert(form2->ListView1->model()->rowCount());
        visibleDuringScan = visibleDuringScan && form2->isVisible();
    });
    watch.start();
    dialogs.askAnswers = {false};
    form->Button7->click();
    watch.stop();

    EXPECT_EQ(dialogs.questions, std::vector<QString>{"ノーマライズをしますか？"});
    EXPECT_TRUE(rowCounts.count(1) && rowCounts.count(2)) << "rows appear as they are found";
    EXPECT_TRUE(visibleDuringScan);
    ASSERT_TRUE(form2->isVisible());
    const QRect main = form->frameGeometry(), peaks = form2->frameGeometry();
    EXPECT_EQ(peaks.left(), main.left() + main.width());
    EXPECT_EQ(peaks.top(), main.top());
    EXPECT_EQ(peaks.height(), main.height());
    EXPECT_EQ(form2->width(), 175);
    EXPECT_LE(form2->ListView1->horizontalHeader()->length(), form2->ListView1->viewport()->width());

    const QAbstractItemModel* peakRows = form2->ListView1->model();
    ASSERT_EQ(peakRows->rowCount(), 3);
    const int expected[3][3] = {{0, 7, 8000}, {1, 3, 16384}, {2, 2, 100}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(peakRows->index(r, c).data().toString(), QString::number(expected[r][c])) << r << c;
    EXPECT_EQ(form2->Label1->text(), "ピーク値:16384 ");
    EXPECT_FALSE(std::filesystem::exists(Out("a(normalize).wav")));
    EXPECT_TRUE(dialogs.messages.empty());

    // Yes: the scaled copy, and the window goes away once it is written.
    form->Button7->click();
    EXPECT_FALSE(form2->isVisible());
    Bytes src = ReadFile(a), out = ReadFile(Out("a(normalize).wav"));
    ASSERT_EQ(out.size(), src.size());
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 44, out.begin()));
    auto sampleAt = [](const Bytes& b, int second, int frame, int channel) {
        return Sample16(b, 44 + static_cast<std::size_t>(((second * 100 + frame) * 2 + channel) * 2));
    };
    EXPECT_EQ(sampleAt(out, 63, 50, 1), 32767);
    EXPECT_EQ(sampleAt(out, 70, 0, 0), -32767);
    EXPECT_EQ(sampleAt(out, 7, 5, 0), 15999);  // 8000 × 1.99993896484375, cut toward zero
    EXPECT_EQ(sampleAt(out, 122, 99, 0), -199);
    EXPECT_EQ(sampleAt(out, 0, 0, 0), 1);
    EXPECT_EQ(form->Gauge1->value(), 100);
    EXPECT_TRUE(Lines(form->Memo3).isEmpty());  // the normalisation logs nothing
}

// Silence: the refusal in a message box, no question, nothing written.
TEST_F(WindowOpsTest, NormalizeOfSilenceShowsTheRefusal) {
    WavBuilder quiet = Stereo(1500);
    quiet.samples.assign(quiet.samples.size(), 0);
    DropOn(0, Write("quiet.wav", quiet.Build()));
    ASSERT_TRUE(form->Button7->isEnabled());
    form->Button7->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(CodeOf(dialogs.messages[0].text.toStdString()), "silent-file");
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_FALSE(std::filesystem::exists(Out("quiet(normalize).wav")));
}

TEST_F(WindowOpsTest, PeakWindowClosedDuringTheScanKeepsFillingAndScrollsToTheNewRow) {
    WavBuilder b;
    b.samplesPerSec = 100;
    b.samples = PatternSamples(30 * 60 * 100, 2, 2);  // 30 minutes
    std::string a = Write("long.wav", b.Build());
    DropOn(0, a);

    dialogs.askAnswers = {false, false};
    form->Button7->click();
    ASSERT_EQ(form2->ListView1->model()->rowCount(), 30);
    const QModelIndex last = form2->ListView1->model()->index(29, 0);
    EXPECT_EQ(last.data().toString(), "29");
    EXPECT_GT(form2->ListView1->verticalScrollBar()->value(), 0);
    // The three columns fit beside the scroll bar: nothing to scroll sideways.
    EXPECT_LE(form2->ListView1->horizontalHeader()->length(), form2->ListView1->viewport()->width());
    EXPECT_TRUE(form2->ListView1->viewport()->rect().contains(form2->ListView1->visualRect(last)));

    // "閉じる" at the first pending messages of the next scan: hidden, filled all the same.
    QTimer::singleShot(0, form2.get(), [&] { form2->Button1->click(); });
    form->Button7->click();
    EXPECT_FALSE(form2->isVisible());
    EXPECT_EQ(form2->ListView1->model()->rowCount(), 30);
    EXPECT_FALSE(form2->Label1->text().isEmpty());
    EXPECT_EQ(dialogs.questions.size(), 2u);
}

TEST_F(WindowOpsTest, RegistrationFillsTheRowAndShowsTheAnalysis) {
    std::string m1 = Write("m1.wav", Mono(1500, 0).Build());
    std::string m2 = Write("m2.wav", Mono(1200, 0x5A).Build());
    std::string st = Write("stereo.wav", Stereo(1000).Build());

    Register("left1", m1);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Check(0), Qt::Checked);
    EXPECT_EQ(Cell(0, 0), "Left");
    EXPECT_EQ(Cell(0, 1), "3000 36 1000 16");
    EXPECT_EQ(Cell(0, 2), "m1.wav");
    EXPECT_EQ(Cell(0, 3), Q(dir.path() + "/"));
    EXPECT_TRUE(form->ListView1->isColumnHidden(1));
    EXPECT_EQ(form->Memo1->toPlainText().split('\n'), ReportOf(m1));
    EXPECT_TRUE(form->Memo4->toPlainText().startsWith("0000: 52 49 46 46"));
    EXPECT_EQ(form->Label4->text(), Q(dir.path() + "/"));
    for (int row = 1; row < 6; ++row) EXPECT_EQ(Cell(row, 2), " ");

    // A stereo file: the analysis is shown first, then the refusal; the row stays.
    QStringList reportAtRefusal;
    dialogs.onMessage = [&](const ScriptedDialogs::Shown&) {
        reportAtRefusal = form->Memo1->toPlainText().split('\n');
    };
    Register("left1", st);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].caption, "Velmora");
    EXPECT_EQ(dialogs.messages[0].text, "モノラルwavしか登録できません");
    EXPECT_EQ(reportAtRefusal, ReportOf(st));
    EXPECT_EQ(form->waveInfo().format.channels, 2);
    EXPECT_EQ(Cell(0, 2), "m1.wav");
    EXPECT_EQ(Cell(0, 1), "3000 36 1000 16");
    EXPECT_EQ(Check(0), Qt::Checked);

    // A file the analysis rejects is not registered either.
    Register("center1", Write("junk.wav", Bytes(64, 'j')));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, "RIFFチャンクがありません\r\n中断します");
    EXPECT_EQ(Cell(2, 2), " ");
    EXPECT_EQ(Check(2), Qt::Unchecked);

    // A second registration at a row replaces the first and checks it again.
    form->ListView1->item(0, 0)->setCheckState(Qt::Unchecked);  // the user's click
    EXPECT_FALSE(form->channelList().at(0).checked);
    Register("left1", m2);
    EXPECT_EQ(Cell(0, 2), "m2.wav");
    EXPECT_EQ(Cell(0, 1), "2400 36 1000 16");
    EXPECT_EQ(Check(0), Qt::Checked);
    EXPECT_TRUE(form->channelList().at(0).checked);
}

TEST_F(WindowOpsTest, ClearEmptiesEveryRowAndTheLog) {
    std::string m1 = Write("m1.wav", Mono(1500, 0).Build());
    Register("left1", m1);
    Register("sright1", m1);
    form->ListView1->item(3, 0)->setCheckState(Qt::Checked);  // checked without a file
    EXPECT_TRUE(form->channelList().at(3).checked);
    form->Memo2->setPlainText("old line");
    const QString report = form->Memo1->toPlainText();

    form->Button6->click();
    const char* captions[] = {"Left", "Right", "Center", "LFE", "S-Left", "S-Right"};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(Cell(row, 0), captions[row]);
        EXPECT_EQ(Check(row), Qt::Unchecked) << row;
        for (int column = 1; column < 4; ++column) EXPECT_EQ(Cell(row, column), " ") << row;
        EXPECT_FALSE(form->channelList().at(row).registered());
        EXPECT_FALSE(form->channelList().at(row).checked);
    }
    EXPECT_TRUE(form->Memo2->toPlainText().isEmpty());
    EXPECT_EQ(form->Memo1->toPlainText(), report);
    EXPECT_EQ(form->Label4->text(), Q(dir.path() + "/"));
}

TEST_F(WindowOpsTest, MultiplexButtonWritesTheCheckedRowsAndLogsIntoMemo2) {
    const WavBuilder left = Mono(1500, 0), right = Mono(1500, 0x5A);
    std::string m1 = Write("m1.wav", left.Build());
    std::string m2 = Write("m2.wav", right.Build());
    Register("left1", m1);
    Register("right1", m2);
    form->Memo2->setPlainText("old line");

    form->Button5->click();
    EXPECT_TRUE(dialogs.messages.empty());
    const std::string outPath = Out("m1(mux).wav");
    EXPECT_EQ(Lines(form->Memo2), QStringList({Q(outPath), "00padding", Q(m1), Q(m2), "end"}));
    EXPECT_TRUE(Lines(form->Memo3).isEmpty());
    Bytes out = ReadFile(outPath);
    ASSERT_EQ(out.size(), 44u + 6000u);
    EXPECT_EQ(ReadU16(out, 20), 1);
    EXPECT_EQ(ReadU16(out, 22), 2);
    EXPECT_EQ(ReadU16(out, 32), 4);
    EXPECT_EQ(ReadU32(out, 40), 6000u);
    for (std::size_t k : {0u, 999u, 1000u, 1499u}) {
        EXPECT_EQ(ReadU16(out, 44 + 4 * k), ReadU16(left.samples, 2 * k)) << k;
        EXPECT_EQ(ReadU16(out, 46 + 4 * k), ReadU16(right.samples, 2 * k)) << k;
    }
}

TEST_F(WindowOpsTest, CheckBoxClickedWhileTheWriterRunsCountsFromTheNextRun) {
    const WavBuilder left = Mono(1500, 0), right = Mono(1500, 0x5A);
    std::string m1 = Write("m1.wav", left.Build());
    std::string m2 = Write("m2.wav", right.Build());
    Register("left1", m1);
    Register("right1", m2);

    // At the first pending messages: the run has read its rows already.
    QTimer::singleShot(0, form.get(), [&] { form->ListView1->item(1, 0)->setCheckState(Qt::Unchecked); });
    form->Button5->click();
    EXPECT_EQ(Lines(form->Memo2), QStringList({Q(Out("m1(mux).wav")), "00padding", Q(m1), Q(m2), "end"}));
    Bytes out = ReadFile(Out("m1(mux).wav"));
    ASSERT_EQ(out.size(), 44u + 6000u);
    EXPECT_EQ(ReadU16(out, 22), 2);
    for (std::size_t k : {0u, 1000u, 1499u}) {
        EXPECT_EQ(ReadU16(out, 44 + 4 * k), ReadU16(left.samples, 2 * k));
        EXPECT_EQ(ReadU16(out, 46 + 4 * k), ReadU16(right.samples, 2 * k));
    }
    EXPECT_FALSE(form->channelList().at(1).checked);
}

TEST_F(WindowOpsTest, ClearRunsDuringTheWriterWhileASecondWriterIsIgnored) {
    std::string m1 = Write("m1.wav", Mono(1500, 0).Build());
    std::string m2 = Write("m2.wav", Mono(1500, 0x5A).Build());
    Register("left1", m1);
    Register("right1", m2);

    QTimer::singleShot(0, form.get(), [&] {
        form->Button5->click();  // ignored: the writer runs
        form->Button6->click();  // runs: clearing is allowed meanwhile
    });
    form->Button5->click();
    EXPECT_TRUE(dialogs.messages.empty());
    // Memo2 was emptied mid-run; the run goes on with the rows it read at
    // its start.
    EXPECT_EQ(Lines(form->Memo2), QStringList({Q(m1), Q(m2), "end"}));
    for (int row = 0; row < 6; ++row) EXPECT_EQ(Cell(row, 2), " ");
    Bytes out = ReadFile(Out("m1(mux).wav"));
    ASSERT_EQ(out.size(), 44u + 6000u);
    EXPECT_FALSE(std::all_of(out.begin() + 44, out.end(), [](std::uint8_t v) { return v == 0; }));
}

TEST_F(WindowOpsTest, SecondOperationStartedWhileOneRunsIsIgnored) {
    std::string a = Write("a.wav", Stereo(2100).Build());
    DropOn(0, a);
    int pumped = 0;
    QTimer::singleShot(0, form.get(), [&] {
        ++pumped;
        form->Button4->click();
        form->Button3->click();
        form->Button7->click();
        form->exwavechk->click();  // not an operation: still answers
    });
    form->Button3->click();
    EXPECT_EQ(pumped, 1);
    EXPECT_FALSE(std::filesystem::exists(Out("a(EX) delay(200ms) 4ch.wav")));
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(Lines(form->Memo3).size(), 3);  // one split: two files and "終わり"
    EXPECT_FALSE(form->cuechk->isEnabled());
    EXPECT_FALSE(form->guard().busy());

    form->exwavechk->click();
    form->Button4->click();  // the window takes operations again
    EXPECT_TRUE(std::filesystem::exists(Out("a(EX) delay(200ms) 4ch.wav")));
}

TEST_F(WindowOpsTest, RepairButtonsWriteExactlyTheirBytes) {
    // Button8: an 18-byte format chunk becomes the plain 16-byte one.
    WavBuilder fmt18 = Stereo(1100);
    fmt18.fmtSize = 18;
    std::string r = Write("r.wav", fmt18.Build());
    DropOn(0, r);
    ASSERT_TRUE(form->Button8->isEnabled());
    form->Button8->click();
    EXPECT_EQ(ReadFile(Out("r(reheader).wav")), Stereo(1100).Build());
    EXPECT_TRUE(dialogs.messages.empty());

    // Button11: the LIST footer is left out.
    WavBuilder footer = Stereo(1100);
    footer.trailer = ListChunk(26);
    std::string f = Write("f.wav", footer.Build());
    DropOn(0, f);
    ASSERT_TRUE(form->Button11->isEnabled());
    form->Button11->click();
    EXPECT_EQ(ReadFile(Out("f(futta del).wav")), Stereo(1100).Build());
    EXPECT_EQ(form->Gauge1->value(), 100);

    // Button13: bytes 4–7 only; then the file is analysed again, so the
    // report and the controls describe it as it now is.
    WavBuilder badRiff = Stereo(1100);
    badRiff.riffSize = 1000;
    std::string b = Write("b.wav", badRiff.Build());
    DropOn(0, b);
    ASSERT_TRUE(form->Button13->isEnabled());
    const QString report = form->Memo1->toPlainText();
    form->Gauge1->setValue(0);
    form->Button13->click();
    EXPECT_NE(form->Memo1->toPlainText(), report);
    EXPECT_TRUE(form->Memo1->toPlainText().contains("ファイルサイズ OK"));
    Bytes patched = badRiff.Build();
    const std::uint32_t riff = static_cast<std::uint32_t>(patched.size() - 8);
    for (std::size_t i = 0; i < 4; ++i) patched[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
    EXPECT_EQ(ReadFile(b), patched);
    EXPECT_EQ(form->Gauge1->value(), 100);
    EXPECT_FALSE(form->Button13->isEnabled());

    // Button10 with ComboBox1: the rate and the byte rate only.
    std::string c = Write("c.wav", Stereo(1100).Build());
    DropOn(0, c);
    const QString reportC = form->Memo1->toPlainText();
    form->ComboBox1->setCurrentText("abc");
    form->Button10->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "'abc' は整数ではありません");
    EXPECT_EQ(ReadFile(c), Stereo(1100).Build());
    form->ComboBox1->setCurrentIndex(1);
    EXPECT_EQ(form->ComboBox1->currentText(), "44100");
    form->Button10->click();
    Bytes rated = Stereo(1100).Build();
    for (std::size_t i = 0; i < 4; ++i) {
        rated[24 + i] = static_cast<std::uint8_t>(44100u >> (8 * i));
        rated[28 + i] = static_cast<std::uint8_t>(176400u >> (8 * i));
    }
    EXPECT_EQ(ReadFile(c), rated);
    EXPECT_EQ(form->waveInfo().format.samplesPerSec, 44100);
    EXPECT_NE(form->Memo1->toPlainText(), reportC);
    EXPECT_TRUE(form->Memo1->toPlainText().contains("44100"));
    EXPECT_TRUE(Lines(form->Memo3).isEmpty());
    // The play time follows the new rate: a split copies every frame, no more.
    EXPECT_EQ(form->waveInfo().totalSeconds(), 0);
    EXPECT_EQ(form->waveInfo().playRemainderFrames, 1100);
    form->Button3->click();
    EXPECT_EQ(ReadFile(Out("c(Left)(0).wav")).size(), 44u + 1100 * 2);
    form->Memo3->clear();

    // The rebuild refuses a plain 16-byte format chunk at 12.
    form->Button8Click();
    EXPECT_EQ(dialogs.messages.back().text, "fmtチャンクが再構築対象外です。");
    EXPECT_FALSE(std::filesystem::exists(Out("c(reheader).wav")));
}

TEST_F(WindowOpsTest, RecoverButtonPatchesTheTwoSizesOrSaysTheFileIsHealthy) {
    EXPECT_EQ(form->Button14->text(), "データサイズ修復");
    EXPECT_EQ(form->Button14->parentWidget(), form->GroupBox2);
    WavBuilder unfinished = Stereo(1100);
    unfinished.dataSize = 0;
    unfinished.riffSize = 36;
    std::string u = Write("u.wav", unfinished.Build());
    DropOn(0, u);
    ASSERT_TRUE(form->Button14->isEnabled());
    form->Button14->click();
    EXPECT_EQ(ReadFile(u), Stereo(1100).Build());
    EXPECT_TRUE(dialogs.messages.empty());

    std::string h = Write("h.wav", Stereo(1100).Build());
    DropOn(0, h);
    EXPECT_FALSE(form->Button14->isEnabled());
    form->Button14Click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "データサイズは正常です。修復の必要はありません(ファイルは変更していません)");
    EXPECT_EQ(ReadFile(h), Stereo(1100).Build());
}

TEST_F(WindowOpsTest, RawTabWrapsTheRawFileBesideItWhenNoFolderIsSet) {
    Bytes raw = PatternSamples(1001, 1, 1);  // odd length
    std::string path = Write("take.raw", raw);
    DropOn(2, path);
    ASSERT_TRUE(form->Label4->text().isEmpty());
    form->Button12->click();
    EXPECT_TRUE(dialogs.messages.empty());
    WavBuilder expected;
    expected.samplesPerSec = 48000;
    expected.samples = raw;
    expected.trailer = {0};  // the pad byte of the odd length
    EXPECT_EQ(ReadFile(Out("take.raw(wavemaker).wav")), expected.Build());
    EXPECT_EQ(form->Gauge1->value(), 100);

    // "その他" with Edit3, 8 bits, mono, into the chosen folder.
    std::filesystem::create_directory(dir.file("out"));
    dialogs.folderAnswers = {Q(dir.file("out"))};
    form->Button9->click();
    form->RadioGroup1->setItemIndex(3);
    form->Edit3->setText("22050");
    form->RadioGroup2->setItemIndex(1);
    form->RadioGroup3->setItemIndex(1);
    form->Button12->click();
    Bytes out = ReadFile(dir.file("out/take.raw(wavemaker).wav"));
    ASSERT_EQ(out.size(), 44u + 1001u + 1u);
    EXPECT_EQ(ReadU16(out, 22), 1);
    EXPECT_EQ(ReadU32(out, 24), 22050u);
    EXPECT_EQ(ReadU32(out, 28), 22050u);
    EXPECT_EQ(ReadU16(out, 32), 1);
    EXPECT_EQ(ReadU16(out, 34), 8);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), out.begin() + 44));

    form->Edit3->setText("");
    form->Button12->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "'' は整数ではありません");
}

// Samples of a sound with a few partials and a slow swell; channel c a
// little softer and a sample later than the one before.
Bytes Partials(int frames, int channels, int bytesPerSample) {
    Bytes b;
    for (int t = 0; t < frames; ++t)
        for (int c = 0; c < channels; ++c) {
            const double u = (t - c) / 48000.0;
            const double v = (0.5 + 0.4 * std::sin(6.0 * u)) * (1 - 0.1 * c) *
                             (0.5 * std::sin(2 * M_PI * 220 * u) + 0.3 * std::sin(2 * M_PI * 347 * u) +
                              0.2 * std::sin(2 * M_PI * 1210 * u));
            const auto q = static_cast<std::int32_t>(v * (bytesPerSample == 3 ? 6000000 : 20000));
            for (int k = 0; k < bytesPerSample; ++k) b.push_back(static_cast<std::uint8_t>(q >> (8 * k)));
        }
    return b;
}

TEST_F(WindowOpsTest, RawTabDetectSetsResolutionAndModeOrSaysToUseTheCli) {
    DropOn(2, Write("mono.raw", Partials(48000, 1, 2)));
    form->RadioGroup3->setItemIndex(0);
    QPushButton* detect = form->findChild<QPushButton*>("RawDetectButton");
    ASSERT_NE(detect, nullptr);
    detect->click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->RadioGroup2->itemIndex(), 0);  // 16Bit
    EXPECT_EQ(form->RadioGroup3->itemIndex(), 1);  // Mono

    // 24 bits: the choices stay, the message names the format and the CLI.
    DropOn(2, Write("wide.raw", Partials(48000, 2, 3)));
    detect->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              "判定結果は 24-bit 2ch です。この画面では扱えないため velmora-cli raw2wav --detect を使ってください");
    EXPECT_EQ(form->RadioGroup3->itemIndex(), 1);

    Bytes noise(100000);
    std::uint32_t x = 12345;
    for (auto& v : noise) v = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    DropOn(2, Write("noise.raw", noise));
    detect->click();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, "サンプル形式を判定できません(確信が持てないため設定しません)");
}

TEST(RawOutputFolder, FallsBackToTheRawFilesFolder) {
    EXPECT_EQ(RawOutputFolder("/out", "/cap/take1.pcm"), "/out");
    EXPECT_EQ(RawOutputFolder("", "/cap/take1.pcm"), "/cap/");
    EXPECT_EQ(RawOutputFolder("", "take1.pcm"), ".");
}

TEST_F(WindowOpsTest, RawTabWithABareNameWritesIntoTheCurrentFolder) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Write("bare.pcm", Bytes(8, 3));
    form->PageControl1->setCurrentIndex(2);
    form->Edit4->setText("bare.pcm");
    form->Button12->click();
    std::filesystem::current_path(before);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(ReadFile(Out("bare.pcm(wavemaker).wav")).size(), 52u);
}

TEST_F(WindowOpsTest, MainTabOperationsRefuseTheFileADropOnTheRawTabNamed) {
    std::string a = Write("a.wav", Stereo(1100).Build());
    DropOn(0, a);
    WavBuilder wrongRiff = Stereo(1100);
    wrongRiff.riffSize = 5;
    const Bytes rawBytes = wrongRiff.Build();
    std::string raw = Write("take.raw", rawBytes);
    DropOn(2, raw);
    form->PageControl1->setCurrentIndex(0);

    // Button13 is disabled for the consistent a.wav; its handler must refuse all the same.
    using Handler = void (TForm1::*)();
    for (Handler h : {&TForm1::Button3Click, &TForm1::Button4Click, &TForm1::Button7Click, &TForm1::Button13Click,
                      &TForm1::Button10Click, &TForm1::Button8Click, &TForm1::Button11Click}) {
        dialogs.messages.clear();
        (form.get()->*h)();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, "解析済みのファイルではありません。ファイルを選び直してください。");
    }
    EXPECT_EQ(ReadFile(raw), rawBytes);  // the in-place repairs did not touch it
    EXPECT_FALSE(form2->isVisible());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// The real confirmation box: only its No button answers No.
TEST(QtDialogsQuestion, OnlyTheNoButtonAnswersNo) {
    QtDialogs dialogs;
    auto answerWith = [&](std::function<void(QMessageBox*)> act) {
        QTimer::singleShot(0, [act] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            act(box);
        });
        return dialogs.ask(nullptr, "ノーマライズをしますか？");
    };
    EXPECT_TRUE(answerWith([](QMessageBox* box) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &escape);
    }));
    EXPECT_TRUE(answerWith([](QMessageBox* box) { box->close(); }));
    EXPECT_FALSE(answerWith([](QMessageBox* box) {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "いいえ(&N)") b->click();
    }));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(WindowOpsTest, AFileChangedOnDiskAfterTheDropIsRefusedByEveryButton) {
    // The same name, other contents: the guard looks at the file, not at its name.
    WavBuilder src = Stereo(1500);
    src.fmtSize = 18;  // so that the rebuild is offered too
    std::string a = Write("a.wav", src.Build());
    DropOn(0, a);
    const Bytes replaced = Stereo(700).Build();
    WriteFile(a + ".new", replaced);
    std::filesystem::rename(a + ".new", a);
    for (QPushButton* button : {form->Button3, form->Button4, form->Button7, form->Button8, form->Button10}) {
        ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
        dialogs.messages.clear();
        button->click();
        EXPECT_EQ(MessageTexts(), QStringList{Q(TextSourceChanged(a))}) << button->text().toStdString();
    }
    EXPECT_EQ(ReadFile(a), replaced);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A disabled button says why after its own hint; offered again, it keeps
// only the hint.
TEST_F(WindowOpsTest, ADisabledButtonsTooltipGivesTheReason) {
    DropOn(0, Write("mono.wav", Mono(1500, 0).Build()));
    EXPECT_FALSE(form->Button3->isEnabled());
    EXPECT_EQ(form->Button3->toolTip(), "モノラルのため分離するチャンネルがありません");
    EXPECT_FALSE(form->Button13->isEnabled());
    EXPECT_EQ(form->Button13->toolTip(), "RIFFチャンクのサイズを正しく書き換えます\nRIFFサイズは正しい値です");

    WavBuilder off = Stereo(1500);
    off.riffSize = 7;
    DropOn(0, Write("off.wav", off.Build()));
    EXPECT_TRUE(form->Button13->isEnabled());
    EXPECT_EQ(form->Button13->toolTip(), "RIFFチャンクのサイズを正しく書き換えます");
    EXPECT_FALSE(form->Button3->isEnabled());
    EXPECT_EQ(form->Button3->toolTip(), "ヘッダのRIFFサイズがファイルの長さと合っていません");
}
