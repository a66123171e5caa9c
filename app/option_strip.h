// The strip below the tabs: the header options the writers read, the progress
// gauge and the output folder. Not a widget of its own: its controls lie on the
// window itself, where they have always been, so their places and the tab
// order stay the window's.
#pragma once

#include <string>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace velmora::app {

class TForm1;

class OptionStrip {
public:
    // Builds the controls on the window; the window outlives the strip's handlers.
    explicit OptionStrip(TForm1& form);


    void showOutputFolder(const std::string& folder);

    void Button9Click();
    void exwavechkClick();

private:
    TForm1& form_;
};

}  // namespace velmora::app
