#include "option_strip.h"

#include <QCheckBox>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

#include "controls.h"
#include "dialogs.h"
#include "folder_dialog.h"
#include "widgets.h"

namespace velmora::app {

OptionStrip::OptionStrip(QWidget& surface, OptionStripHost& host) : surface_(surface), host_(host) {
    exwavechk = Place(new QCheckBox(QStringLiteral("拡張WAVEヘッダを使用する(サラウンド作成時推奨)"), &surface),
                      "exwavechk", 8, 472, 289, 17);
    exwavechk->setChecked(true);
    cuechk = Place(new QCheckBox(QStringLiteral("cueチャンクを使用する"), &surface), "cuechk", 296, 472, 137, 17);
    Gauge1 = Place(new QProgressBar(&surface), "Gauge1", 440, 469, 89, 17);
    Gauge1->setRange(0, 100);
    Gauge1->setValue(0);
    Gauge1->setAlignment(Qt::AlignCenter);
    Label3 = MakeLabel(&surface, "Label3", "ファイル出力先", 8, 496);
    Label4 = Place(new QLabel(&surface), "Label4", 96, 496, 249, 17);
    Label4->setTextFormat(Qt::PlainText);
    Label4->setAutoFillBackground(true);
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
    Label4->setPalette(palette);
    Button9 = MakeButton(&surface, "Button9", "参照...", 360, 496, 75, 25);

    QObject::connect(Button9, &QPushButton::clicked, &surface, [this] { Button9Click(); });
    QObject::connect(exwavechk, &QCheckBox::clicked, &surface, [this] { exwavechkClick(); });
}

bool OptionStrip::extensibleHeader() const { return exwavechk->isChecked(); }
bool OptionStrip::cueChunk() const { return cuechk->isChecked(); }

void OptionStrip::showOutputFolder(const std::string& folder) { ShowPathInLabel(Label4, folder); }

void OptionStrip::Button9Click() {
    host_.runHandler([this] {
        std::optional<QString> folder = host_.dialogs().browseFolder(
            &surface_, QStringLiteral("フォルダを選択して下さい。"), DisplayPath(host_.outputFolder()));
        if (!folder) return;
        host_.setOutputFolder(PathBytes(FolderForLabel(*folder)));
    });
}

void OptionStrip::exwavechkClick() {
    host_.runHandler([this] {
        if (exwavechk->isChecked()) {
            cuechk->setEnabled(true);
        } else {
            cuechk->setEnabled(false);
            cuechk->setChecked(false);
        }
    });
}

}  // namespace velmora::app
