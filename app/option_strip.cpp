#include "option_strip.h"

#include <QCheckBox>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

#include "controls.h"
#include "dialogs.h"
#include "folder_dialog.h"
#include "form1.h"
#include "widgets.h"

namespace velmora::app {

OptionStrip::OptionStrip(TForm1& form) : form_(form) {
    exwavechk = Place(new QCheckBox(QStringLiteral("拡張WAVEヘッダを使用する(サラウンド作成時推奨)"), &form),
                      "exwavechk", 8, 472, 289, 17);
    exwavechk->setChecked(true);
    cuechk = Place(new QCheckBox(QStringLiteral("cueチャンクを使用する"), &form), "cuechk", 296, 472, 137, 17);
    Gauge1 = Place(new QProgressBar(&form), "Gauge1", 440, 469, 89, 17);
    Gauge1->setRange(0, 100);
    Gauge1->setValue(0);
    Gauge1->setAlignment(Qt::AlignCenter);
    Label3 = MakeLabel(&form, "Label3", "ファイル出力先", 8, 496);
    Label4 = Place(new QLabel(&form), "Label4", 96, 496, 249, 17);
    Label4->setTextFormat(Qt::PlainText);
    Label4->setAutoFillBackground(true);
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
    Label4->setPalette(palette);
    Button9 = MakeButton(&form, "Button9", "参照...", 360, 496, 75, 25);

    QObject::connect(Button9, &QPushButton::clicked, &form, [this] { Button9Click(); });
    QObject::connect(exwavechk, &QCheckBox::clicked, &form, [this] { exwavechkClick(); });
}

void OptionStrip::showOutputFolder(const std::string& folder) { ShowPathInLabel(Label4, folder); }

void OptionStrip::Button9Click() {
    form_.runHandler([this] {
        std::optional<QString> folder = form_.dialogs().browseFolder(
            &form_, QStringLiteral("フォルダを選択して下さい。"), DisplayPath(form_.outputFolder()));
        if (!folder) return;
        form_.setOutputFolder(PathBytes(FolderForLabel(*folder)));
    });
}

void OptionStrip::exwavechkClick() {
    form_.runHandler([this] {
        if (exwavechk->isChecked()) {
            cuechk->setEnabled(true);
        } else {
            cuechk->setEnabled(false);
            cuechk->setChecked(false);
        }
    });
}

}  // namespace velmora::app
