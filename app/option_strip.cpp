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
    form_.exwavechk = Place(new QCheckBox(QStringLiteral("拡張WAVEヘッダを使用する(サラウンド作成時推奨)"), &form),
                      "exwavechk", 8, 472, 289, 17);
    form_.exwavechk->setChecked(true);
    form_.cuechk = Place(new QCheckBox(QStringLiteral("cueチャンクを使用する"), &form), "cuechk", 296, 472, 137, 17);
    form_.Gauge1 = Place(new QProgressBar(&form), "Gauge1", 440, 469, 89, 17);
    form_.Gauge1->setRange(0, 100);
    form_.Gauge1->setValue(0);
    form_.Gauge1->setAlignment(Qt::AlignCenter);
    form_.Label3 = MakeLabel(&form, "Label3", "ファイル出力先", 8, 496);
    form_.Label4 = Place(new QLabel(&form), "Label4", 96, 496, 249, 17);
    form_.Label4->setTextFormat(Qt::PlainText);
    form_.Label4->setAutoFillBackground(true);
    QPalette palette = form_.Label4->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
    form_.Label4->setPalette(palette);
    form_.Button9 = MakeButton(&form, "Button9", "参照...", 360, 496, 75, 25);

    QObject::connect(form_.Button9, &QPushButton::clicked, &form, [this] { Button9Click(); });
    QObject::connect(form_.exwavechk, &QCheckBox::clicked, &form, [this] { exwavechkClick(); });
}

void OptionStrip::showOutputFolder(const std::string& folder) { ShowPathInLabel(form_.Label4, folder); }

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
        if (form_.exwavechk->isChecked()) {
            form_.cuechk->setEnabled(true);
        } else {
            form_.cuechk->setEnabled(false);
            form_.cuechk->setChecked(false);
        }
    });
}

}  // namespace velmora::app
