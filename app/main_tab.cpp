#include "main_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTextEdit>

#include "controls.h"
#include "dialogs.h"
#include "ops/normalize.h"
#include "ops/option_text.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "ops/source_checks.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "widgets.h"

namespace velmora::app {

MainTab::MainTab(MainTabHost& host, QTabWidget* pages) : host_(host) {
    setObjectName("TabSheet1");
    pages->addTab(this, QStringLiteral("メイン"));

    Edit1 = Place(new QLineEdit(this), "Edit1", 8, 16, 337, 20);
    Button1 = MakeButton(this, "Button1", "WAVE 参照", 352, 16, 75, 25);
    Memo1 = MakeFixedMemo(this, "Memo1", 8, 53, 297, 270);
    Memo4 = MakeFixedMemo(this, "Memo4", 320, 56, 345, 121);
    Memo3 = MakeMemo(this, "Memo3", 320, 184, 345, 129);
    Button2 = MakeButton(this, "Button2", "クリップボード出力", 16, 328, 121, 25);
    Button3 = MakeButton(this, "Button3", "ch分離", 16, 360, 89, 25);
    Button7 = MakeButton(this, "Button7", "ノーマライズ", 16, 392, 75, 25);
    Button10 = MakeButton(this, "Button10", "サンプリング周波数書換", 152, 328, 137, 33);
    ComboBox1 = Place(new QComboBox(this), "ComboBox1", 152, 368, 57, 20);
    ComboBox1->setEditable(true);
    ComboBox1->addItems({QStringLiteral("48000"), QStringLiteral("44100"), QStringLiteral("32000")});
    ComboBox1->setCurrentText(QStringLiteral("48000"));

    surround = Place(new GroupBox(QStringLiteral("擬似サラウンド"), this), "surround", 472, 320, 193, 105);
    Button4 = MakeButton(surround, "Button4", "擬似サラウンド(2ch->4ch)", 8, 16, 137, 25);
    CheckBox1 = Place(new QCheckBox(QStringLiteral("サラウンドL,R入替"), surround), "CheckBox1", 8, 48, 113, 17);
    Label2 = MakeLabel(surround, "Label2", "ディレイ値(1-1000ms)", 7, 69);
    Edit2 = Place(new QLineEdit(QStringLiteral("200"), surround), "Edit2", 128, 69, 49, 20);

    GroupBox2 = Place(new GroupBox(QStringLiteral("ヘッダ・フッダ操作"), this), "GroupBox2", 296, 320, 169, 105);
    // Three rows: the recovery of unfinalized recordings takes the third.
    Button8 = MakeButton(GroupBox2, "Button8", "ヘッダ再構築", 6, 20, 75, 25);
    Button8->setToolTip(QStringLiteral("fmtチャンクのサイズを2バイト削除します"));
    Button11 = MakeButton(GroupBox2, "Button11", "フッタ削除", 88, 20, 73, 25);
    Button11->setToolTip(QStringLiteral("フッタ情報(タグ)を削除します"));
    Button13 = MakeButton(GroupBox2, "Button13", "ヘッダ整合書換", 8, 47, 89, 25);
    Button13->setToolTip(QStringLiteral("RIFFチャンクのサイズを正しく書き換えます"));
    Button14 = MakeButton(GroupBox2, "Button14", "データサイズ修復", 8, 74, 109, 25);
    Button14->setToolTip(QStringLiteral("録音途中で止まったファイルのデータサイズをファイル長から書き直します"));

    auto on = [this](QPushButton* button, void (MainTab::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(Button1, &MainTab::Button1Click);
    on(Button2, &MainTab::Button2Click);
    on(Button3, &MainTab::Button3Click);
    on(Button4, &MainTab::Button4Click);
    on(Button7, &MainTab::Button7Click);
    on(Button8, &MainTab::Button8Click);
    on(Button10, &MainTab::Button10Click);
    on(Button11, &MainTab::Button11Click);
    on(Button13, &MainTab::Button13Click);
    on(Button14, &MainTab::Button14Click);
}

std::string MainTab::fileField() const { return PathFieldValue(Edit1); }

void MainTab::Button1Click() {
    host_.runOperation([this] {
        std::optional<QString> path = host_.dialogs().openFile(window(), QStringLiteral("Wav(*.wav)"));
        if (!path) return;
        SetPathField(Edit1, PathBytes(*path));
        host_.ShowAnalysis(fileField());
    });
}

void MainTab::Button2Click() {
    host_.runHandler([this] {
        QStringList lines = Memo1->toPlainText().split(QLatin1Char('\n'));
        host_.dialogs().setClipboardText(lines.join(QStringLiteral("\r\n")));
    });
}

// The options are read from the controls when the button is clicked; the
// guard keeps the operations to one at a time and shows their failures.
void MainTab::Button3Click() {
    host_.runOperation([this] {
        ChannelSplit(host_.waveInfo(), {fileField(), host_.outputFolder()}, host_.mainHost());
    });
}

void MainTab::Button4Click() {
    host_.runOperation([this] {
        SurroundOptions options;
        // The delay is checked before anything else, even without a file.
        options.delayMs = ParseSurroundDelay(Edit2->text().toStdString());
        options.source = fileField();
        options.outputFolder = host_.outputFolder();
        options.swapRear = CheckBox1->isChecked();
        options.header = host_.extensibleHeader() ? SurroundHeader::Extensible : SurroundHeader::Plain;
        options.cue = host_.cueChunk();
        PseudoSurround(host_.waveInfo(), options, host_.mainHost());
    });
}

void MainTab::Button7Click() {
    host_.runOperation([this] {
        Normalize(host_.waveInfo(), {fileField(), host_.outputFolder()}, host_.peakWindow(), host_.mainHost());
    });
}

void MainTab::Button8Click() {
    host_.runOperation([this] {
        RebuildHeader(host_.waveInfo(), {fileField(), host_.outputFolder()}, host_.mainHost());
    });
}

void MainTab::Button10Click() {
    host_.runInPlace([this]() -> std::vector<std::string> {
        const std::string source = fileField();
        if (source.empty()) return {};
        // The file first, then the typed rate, as the user would read them.
        RequireRateRewritable(source, host_.waveInfo());
        const std::int32_t rate =
            ParseSampleRate(ComboBox1->currentText().toStdString(), host_.waveInfo().format.blockAlign);
        return RewriteSampleRate(host_.waveInfo(), {source, rate}, host_.mainHost());
    });
}

void MainTab::Button11Click() {
    host_.runOperation([this] {
        RemoveFooter(host_.waveInfo(), {fileField(), host_.outputFolder()}, host_.mainHost());
    });
}

void MainTab::Button13Click() {
    host_.runInPlace([this] { return RewriteRiffSize(host_.waveInfo(), {fileField()}, host_.mainHost()); });
}

void MainTab::Button14Click() {
    host_.runInPlace([this] { return RecoverDataSize(host_.waveInfo(), {fileField()}, host_.mainHost()); });
}

}  // namespace velmora::app
