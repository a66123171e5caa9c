#include "startup.h"

#include <filesystem>

#include <QMetaObject>
#include <QTabWidget>

#include "form1.h"

namespace velmora::app {

void OpenAtStart(TForm1& form, const std::vector<std::string>& files) {
    if (files.empty()) return;
    std::vector<std::string> paths;
    // A file manager passes absolute paths; a shell may not, and the output
    // folder is taken from the path's own folder. The bytes of each name are
    // kept as they are.
    for (const std::string& file : files) paths.push_back(std::filesystem::absolute(file).string());
    QMetaObject::invokeMethod(
        &form,
        [&form, paths] {
            form.PageControl1->setCurrentWidget(form.TabSheet1);
            form.FormDropFiles(paths);
        },
        Qt::QueuedConnection);
}

}  // namespace velmora::app
