// Start-up: the application, the main window, the hidden normalize window,
// then the event loop until the main window is closed. `velmora FILE` starts
// with FILE analysed on the main tab (a file manager's "open with").
#include <iostream>
#include <string_view>

#include <QApplication>
#include <QStringList>

#include "dialogs.h"
#include "form1.h"
#include "form2.h"
#include "startup.h"
#include "translation.h"

namespace {

const char kUsage[] =
    "usage: velmora [FILE]\n"
    "Inspect, repair and transform uncompressed RIFF/WAVE files.\n"
    "FILE is analysed on the main tab at start.\n"
    "  -h, --help     print this and exit\n"
    "  -v, --version  print the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora::app;
    // Answered before the toolkit starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-v" || arg == "--version") {
            std::cout << kApplicationTitle << " " << VELMORA_VERSION << "\n";
            return 0;
        }
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    InstallQtJapanese(app);

    // The toolkit has taken its own options (-platform, -style ...) out of argv.
    std::vector<std::string> files;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (!optionsEnd && arg == QLatin1String("--")) {
            optionsEnd = true;
        } else if (!optionsEnd && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            std::cerr << "velmora: unknown option " << argv[i] << "\n" << kUsage;
            return 2;
        } else {
            files.emplace_back(argv[i]);
        }
    }

    QtDialogs dialogs;
    TForm1 form1(dialogs);
    TForm2 form2;
    // Closing the main window ends the program, whether or not this one is shown.
    form2.setAttribute(Qt::WA_QuitOnClose, false);
    form1.Form2 = &form2;

    form1.show();
    OpenAtStart(form1, files);
    return app.exec();
}
