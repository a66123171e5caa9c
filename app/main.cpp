// Start-up: the application, the main window, the hidden normalize window,
// then the event loop until the main window is closed.
#include <QApplication>

#include "dialogs.h"
#include "form1.h"
#include "form2.h"

int main(int argc, char** argv) {
    using namespace velmora::app;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));

    QtDialogs dialogs;
    TForm1 form1(dialogs);
    TForm2 form2;
    // Closing the main window ends the program, whether or not this one is shown.
    form2.setAttribute(Qt::WA_QuitOnClose, false);
    form1.Form2 = &form2;

    form1.show();
    return app.exec();
}
