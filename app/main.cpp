// Start-up: the application, the main window, the hidden normalize window,
// then the event loop until the main window is closed. `velmora FILE` starts
// with FILE analysed on the main tab (a file manager's "open with").
#include <QApplication>
#include <QCommandLineParser>

#include "dialogs.h"
#include "form1.h"
#include "form2.h"
#include "startup.h"

int main(int argc, char** argv) {
    using namespace velmora::app;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Inspect, repair and transform uncompressed RIFF/WAVE files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("WAV file to analyse on the main tab"),
                                 QStringLiteral("[FILE]"));
    parser.process(app);

    QtDialogs dialogs;
    TForm1 form1(dialogs);
    TForm2 form2;
    // Closing the main window ends the program, whether or not this one is shown.
    form2.setAttribute(Qt::WA_QuitOnClose, false);
    form1.Form2 = &form2;

    form1.show();
    OpenAtStart(form1, parser.positionalArguments());
    return app.exec();
}
