#include "startup.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QTabWidget>

#include "form1.h"

namespace velmora::app {

void OpenAtStart(TForm1& form, const QStringList& files) {
    if (files.isEmpty()) return;
    QStringList paths;
    // A file manager passes absolute paths; a shell may not, and the output
    // folder is taken from the path's own folder.
    for (const QString& file : files) paths << QFileInfo(file).absoluteFilePath();
    QMetaObject::invokeMethod(
        &form,
        [&form, paths] {
            form.PageControl1->setCurrentWidget(form.TabSheet1);
            form.FormDropFiles(paths);
        },
        Qt::QueuedConnection);
}

}  // namespace velmora::app
