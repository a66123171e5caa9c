// Qt's own texts (the file dialog, the edit fields' context menus, standard
// buttons) in Japanese, like the rest of the window.
#pragma once

class QCoreApplication;

namespace velmora::app {

// Loads Qt's Japanese catalogue from the toolkit's translations folder.
// Returns false when it is not installed; the window then shows Qt's English.
bool InstallQtJapanese(QCoreApplication& app);

}  // namespace velmora::app
