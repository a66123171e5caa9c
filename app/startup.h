// What the command line hands the window when it starts.
#pragma once

#include <string>
#include <vector>

#include <QStringList>

namespace velmora::app {

class TForm1;

// Analyses the first of `files` on the main tab as soon as the event loop
// runs (the window is on screen by then, so a failure's box has its owner),
// through the window's own drop handler. Relative paths are taken from the
// current folder. Nothing happens for an empty list.
void OpenAtStart(TForm1& form, const std::vector<std::string>& files);

}  // namespace velmora::app
