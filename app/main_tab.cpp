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
#include "form1.h"
#include "form2.h"
#include "ops/normalize.h"
#include "ops/option_text.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "ops/source_checks.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "widgets.h"

namespace velmora::app {

MainTab::MainTab(TForm1& form, QTabWidget* pages) : form_(form) {
    setObjectName("TabSheet1");
    pages->addTab(this, QStringLiteral("メイン"));

    form_.Edit1 = Place(new QLineEdit(this), "Edit1", 8, 16, 337, 20);
    form_.Button1 = MakeButton(this, "Button1", "WAVE 参照", 352, 16, 75, 25);
    form_.Memo1 = MakeFixedMemo(this, "Memo1", 8, 53, 297, 270);
    form_.Memo4 = MakeFixedMemo(this, "Memo4", 320, 56, 345, 121);
    form_.Memo3 = MakeMemo(this, "Memo3", 320, 184, 345, 129);
    form_.Button2 = MakeButton(this, "Button2", "クリップボード出力", 16, 328, 121, 25);
    form_.Button3 = MakeButton(this, "Button3", "ch分離", 16, 360, 89, 25);
    form_.Button7 = MakeButton(this, "Button7", "ノーマライズ", 16, 392, 75, 25);
    form_.Button10 = MakeButton(this, "Button10", "サンプリング周波数書換", 152, 328, 137, 33);
    form_.ComboBox1 = Place(new QComboBox(this), "ComboBox1", 152, 368, 57, 20);
    form_.ComboBox1->setEditable(true);
    form_.ComboBox1->addItems({QStringLiteral("48000"), QStringLiteral("44100"), QStringLiteral("32000")});
    form_.ComboBox1->setCurrentText(QStringLiteral("48000"));

    form_.surround = Place(new GroupBox(QStringLiteral("擬似サラウンド"), this), "surround", 472, 320, 193, 105);
    form_.Button4 = MakeButton(form_.surround, "Button4", "擬似サラウンド(2ch->4ch)", 8, 16, 137, 25);
    form_.CheckBox1 = Place(new QCheckBox(QStringLiteral("サラウンドL,R入替"), form_.surround), "CheckBox1", 8, 48, 113, 17);
    form_.Label2 = MakeLabel(form_.surround, "Label2", "ディレイ値(1-1000ms)", 7, 69);
    form_.Edit2 = Place(new QLineEdit(QStringLiteral("200"), form_.surround), "Edit2", 128, 69, 49, 20);

    form_.GroupBox2 = Place(new GroupBox(QStringLiteral("ヘッダ・フッダ操作"), this), "GroupBox2", 296, 320, 169, 105);
    // Three rows: the recovery of unfinalized recordings takes the third.
    form_.Button8 = MakeButton(form_.GroupBox2, "Button8", "ヘッダ再構築", 6, 20, 75, 25);
    form_.Button8->setToolTip(QStringLiteral("fmtチャンクのサイズを2バイト削除します"));
    form_.Button11 = MakeButton(form_.GroupBox2, "Button11", "フッタ削除", 88, 20, 73, 25);
    form_.Button11->setToolTip(QStringLiteral("フッタ情報(タグ)を削除します"));
    form_.Button13 = MakeButton(form_.GroupBox2, "Button13", "ヘッダ整合書換", 8, 47, 89, 25);
    form_.Button13->setToolTip(QStringLiteral("RIFFチャンクのサイズを正しく書き換えます"));
    form_.Button14 = MakeButton(form_.GroupBox2, "Button14", "データサイズ修復", 8, 74, 109, 25);
    form_.Button14->setToolTip(QStringLiteral("録音途中で止まったファイルのデータサイズをファイル長から書き直します"));

    auto on = [this](QPushButton* button, void (MainTab::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(form_.Button1, &MainTab::Button1Click);
    on(form_.Button2, &MainTab::Button2Click);
    on(form_.Button3, &MainTab::Button3Click);
    on(form_.Button4, &MainTab::Button4Click);
    on(form_.Button7, &MainTab::Button7Click);
    on(form_.Button8, &MainTab::Button8Click);
    on(form_.Button10, &MainTab::Button10Click);
    on(form_.Button11, &MainTab::Button11Click);
    on(form_.Button13, &MainTab::Button13Click);
    on(form_.Button14, &MainTab::Button14Click);
}

std::string MainTab::fileField() const { return PathFieldValue(form_.Edit1); }

void MainTab::Button1Click() {
    form_.runOperation([this] {
        std::optional<QString> path = form_.dialogs().openFile(&form_, QStringLiteral("Wav(*.wav)"));
        if (!path) return;
        SetPathField(form_.Edit1, PathBytes(*path));
        form_.ShowAnalysis(fileField());
    });
}

void MainTab::Button2Click() {
    form_.runHandler([this] {
        QStringList lines = form_.Memo1->toPlainText().split(QLatin1Char('\n'));
        form_.dialogs().setClipboardText(lines.join(QStringLiteral("\r\n")));
    });
}

// The options are read from the controls when the button is clicked; the
// guard keeps the operations to one at a time and shows their failures.
void MainTab::Button3Click() {
    form_.runOperation([this] {
        ChannelSplit(form_.waveInfo(), {fileField(), form_.outputFolder()}, form_.mainHost());
    });
}

void MainTab::Button4Click() {
    form_.runOperation([this] {
        SurroundOptions options;
        // The delay is checked before anything else, even without a file.
        options.delayMs = ParseSurroundDelay(form_.Edit2->text().toStdString());
        options.source = fileField();
        options.outputFolder = form_.outputFolder();
        options.swapRear = form_.CheckBox1->isChecked();
        options.header = form_.exwavechk->isChecked() ? SurroundHeader::Extensible : SurroundHeader::Plain;
        options.cue = form_.cuechk->isChecked();
        PseudoSurround(form_.waveInfo(), options, form_.mainHost());
    });
}

void MainTab::Button7Click() {
    form_.runOperation([this] {
        Normalize(form_.waveInfo(), {fileField(), form_.outputFolder()}, form_.peakWindow(), form_.mainHost());
    });
}

void MainTab::Button8Click() {
    form_.runOperation([this] {
        RebuildHeader(form_.waveInfo(), {fileField(), form_.outputFolder()}, form_.mainHost());
    });
}

void MainTab::Button10Click() {
    form_.runInPlace([this]() -> std::vector<std::string> {
        const std::string source = fileField();
        if (source.empty()) return {};
        // The file first, then the typed rate, as the user would read them.
        RequireRateRewritable(source, form_.waveInfo());
        const std::int32_t rate = ParseSampleRate(form_.ComboBox1->currentText().toStdString(), form_.waveInfo().format.blockAlign);
        return RewriteSampleRate(form_.waveInfo(), {source, rate}, form_.mainHost());
    });
}

void MainTab::Button11Click() {
    form_.runOperation([this] {
        RemoveFooter(form_.waveInfo(), {fileField(), form_.outputFolder()}, form_.mainHost());
    });
}

void MainTab::Button13Click() {
    form_.runInPlace([this] { return RewriteRiffSize(form_.waveInfo(), {fileField()}, form_.mainHost()); });
}

void MainTab::Button14Click() {
    form_.runInPlace([this] { return RecoverDataSize(form_.waveInfo(), {fileField()}, form_.mainHost()); });
}

}  // namespace velmora::app
