#include "raw_tab.h"

#include <array>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "controls.h"
#include "io/file.h"
#include "ops/option_text.h"
#include "ops/output_paths.h"
#include "ops/rawwave.h"
#include "ops/rescue.h"
#include "wav/text.h"
#include "widgets.h"

namespace velmora::app {

namespace {

constexpr const char* kTextRawNotSure = "サンプル形式を判定できません(確信が持てないため設定しません)";
// A format the resolution and mode choices cannot take: 24/32-bit, float,
// more than two channels, or frames that do not start at the first byte.
std::string TextRawNeedsCli(const FormatGuess& g) {
    const std::string shift = g.alignment ? Format("(先頭から %u バイトずれ)", g.alignment) : "";
    return Format("判定結果は %s%s です。この画面では扱えないため velmora-cli raw2wav --detect を使ってください",
                  FormatLabel(g.format).c_str(), shift.c_str());
}

}  // namespace

RawTab::RawTab(RawTabHost& host, QTabWidget* pages) : host_(host) {
    setObjectName("TabSheet3");
    pages->addTab(this, QStringLiteral("強制WAV化"));

    RadioGroup1 = Place(new RadioGroup(QStringLiteral("サンプリング周波数"),
                                       {QStringLiteral("48000"), QStringLiteral("44100"), QStringLiteral("32000"),
                                        QStringLiteral("その他")},
                                       this),
                        "RadioGroup1", 16, 8, 185, 89);
    RadioGroup1->arrange();
    // Lies over the lower right of RadioGroup1, beside its item "その他".
    Edit3 = Place(new QLineEdit(this), "Edit3", 88, 72, 97, 20);
    Edit3->raise();
    RadioGroup2 =
        Place(new RadioGroup(QStringLiteral("Bit解像度"), {QStringLiteral("16Bit"), QStringLiteral("8Bit")}, this),
              "RadioGroup2", 208, 8, 73, 89);
    RadioGroup2->arrange();
    RadioGroup3 =
        Place(new RadioGroup(QStringLiteral("モード"), {QStringLiteral("Stereo"), QStringLiteral("Mono")}, this),
              "RadioGroup3", 288, 8, 73, 89);
    RadioGroup3->arrange();
    Button12 = MakeButton(this, "Button12", "実行", 16, 104, 75, 25);
    detectButton_ = MakeButton(this, "RawDetectButton", "形式を判定", 96, 104, 97, 25);
    Label5 = MakeLabel(this, "Label5", "対象ファイル", 16, 136);
    Edit4 = Place(new QLineEdit(this), "Edit4", 16, 152, 449, 20);

    connect(Button12, &QPushButton::clicked, this, [this] { Button12Click(); });
    connect(detectButton_, &QPushButton::clicked, this, [this] { DetectClick(); });
}

void RawTab::DetectClick() {
    host_.runOperation([this] {
        const std::string path = PathFieldValue(Edit4);
        if (path.empty()) return;
        File file = File::OpenRead(path);
        const Detection d = DetectRawFormat(file);
        if (d.ranked.empty() || !d.sure) {
            host_.mainHost().message(kTextRawNotSure);
            return;
        }
        const FormatGuess& g = d.ranked.front();
        if (g.format.isFloat() || g.format.bits() > 16 || g.format.channels > 2 || g.alignment != 0) {
            host_.mainHost().message(TextRawNeedsCli(g));
            return;
        }
        RadioGroup2->setItemIndex(g.format.bits() == 16 ? 0 : 1);
        RadioGroup3->setItemIndex(g.format.channels == 2 ? 0 : 1);
    });
}

void RawTab::Button12Click() {
    host_.runOperation([this] {
        RawToWaveOptions options;
        options.rawPath = PathFieldValue(Edit4);
        if (options.rawPath.empty()) return;
        // "48000", "44100", "32000", or "その他" with the rate typed into Edit3.
        static constexpr std::array<std::int32_t, 3> kItemRates = {48000, 44100, 32000};
        const int rateItem = RadioGroup1->itemIndex();
        options.rate = rateItem == 3 ? ParseInteger(Edit3->text().toStdString())
                                     : kItemRates.at(static_cast<std::size_t>(rateItem));
        options.bits = RadioGroup2->itemIndex() == 0 ? RawBits::Sixteen : RawBits::Eight;
        options.channels = RadioGroup3->itemIndex() == 0 ? RawChannels::Stereo : RawChannels::Mono;
        options.outputFolder = RawOutputFolder(host_.outputFolder(), options.rawPath);
        RawToWave(options, host_.mainHost());
    });
}

std::string RawOutputFolder(const std::string& outputFolder, const std::string& rawPath) {
    return OutputFolderFor(outputFolder, rawPath);
}

}  // namespace velmora::app
