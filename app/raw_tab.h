// Tab 3 "強制WAV化": a headerless file made into a WAVE file of the chosen rate,
// resolution and mode.
#pragma once

#include <string>

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace velmora::app {

class RadioGroup;
class TForm1;

class RawTab : public QWidget {
public:
    // Joins `pages` before building its controls, as the main tab does.
    RawTab(TForm1& form, QTabWidget* pages);


    void Button12Click();  // raw to WAV
    // Sets resolution and mode from the format detected in the raw file, or
    // says why it cannot.
    void DetectClick();

private:
    TForm1& form_;
    QPushButton* detectButton_;
};

// The folder RawToWave writes into: the output folder when one is set, else
// the raw file's own folder ("." for a bare name), never the root by accident.
std::string RawOutputFolder(const std::string& outputFolder, const std::string& rawPath);

}  // namespace velmora::app
