// velmora-screenshot FILE OUT.png [TAB]: shows the main window, analyses FILE
// as a drop on the main tab would, switches to tab TAB (0–2) and saves what
// the window shows. Messages go to stderr instead of boxes nobody could close.
#include <cstdio>
#include <iostream>

#include <QAction>
#include <QApplication>
#include <QPixmap>
#include <QTabWidget>

#include "dialogs.h"
#include "form1.h"
#include "form2.h"

namespace {

using namespace velmora::app;

class PrintingDialogs : public Dialogs {
public:
    std::optional<QString> openFile(QWidget*, const QString&) override { return std::nullopt; }
    std::optional<QString> browseFolder(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    void message(QWidget*, const QString& caption, const QString& text) override {
        std::cerr << caption.toStdString() << ": " << DisplayText(text).toStdString() << "\n";
    }
    bool ask(QWidget*, const QString&) override { return false; }
    QAction* popup(QMenu&, const QPoint&) override { return nullptr; }
    void setClipboardText(const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    if (argc < 3) {
        std::cerr << "usage: velmora-screenshot FILE OUT.png [TAB]\n";
        return 2;
    }
    PrintingDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QApplication::processEvents();
    form.FormDropFiles({QString::fromLocal8Bit(argv[1])});
    if (argc > 3) form.PageControl1->setCurrentIndex(std::atoi(argv[3]));
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    if (!form.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
