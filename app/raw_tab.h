// Tab 3 "強制WAV化": a headerless file made into a WAVE file of the chosen rate,
// resolution and mode.
#pragma once

#include <functional>
#include <string>

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace velmora {
class Host;
}  // namespace velmora

namespace velmora::app {

class RadioGroup;

// What the raw tab needs from the window around it. The window implements it;
// the tab sees nothing else of the window.
class RawTabHost {
public:
    // An operation body, refused while another runs; see TopLevelGuard.
    virtual bool runOperation(const std::function<void()>& body) = 0;
    virtual std::string outputFolder() const = 0;
    virtual Host& mainHost() = 0;  // logs into Memo3

protected:
    ~RawTabHost() = default;
};

class RawTab : public QWidget {
public:
    // Joins `pages` before building its controls, as the main tab does.
    RawTab(RawTabHost& host, QTabWidget* pages);

    // The tab's controls, under their form names; the window names them too.
    RadioGroup* RadioGroup1 = nullptr;  // rate: "48000", "44100", "32000", "その他"
    QLineEdit* Edit3 = nullptr;         // the other rate
    RadioGroup* RadioGroup2 = nullptr;  // "16Bit", "8Bit"
    RadioGroup* RadioGroup3 = nullptr;  // "Stereo", "Mono"
    QPushButton* Button12 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit4 = nullptr;  // the raw file

    void Button12Click();  // raw to WAV
    // Sets resolution and mode from the format detected in the raw file, or
    // says why it cannot.
    void DetectClick();

private:
    RawTabHost& host_;
    QPushButton* detectButton_ = nullptr;
};

// The folder RawToWave writes into: the output folder when one is set, else
// the raw file's own folder ("." for a bare name), never the root by accident.
std::string RawOutputFolder(const std::string& outputFolder, const std::string& rawPath);

}  // namespace velmora::app
