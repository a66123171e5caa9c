// velmora-screenshot FILE OUT.png [TAB [PEAKS.png]]: shows the main window,
// analyses FILE as a drop on the main tab would, switches to tab TAB (0–2) and
// saves what the window shows. With TAB 1, FILE is dropped on the multiplex
// tab instead and registered at "left". With PEAKS.png, the normalisation
// scans FILE too (answered No) and the peak window is saved there. Messages go
// to stderr instead of boxes nobody could close.
#include <cstdio>
#include <iostream>

#include <QAction>
#include <QApplication>
#include <QMenu>
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
    std::optional<QString> browseFolder(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    void message(QWidget*, const QString& caption, const QString& text) override {
        std::cerr << caption.toStdString() << ": " << DisplayText(text).toStdString() << "\n";
    }
    bool ask(QWidget*, const QString&) override { return false; }
    // The first item ("left"), as a user's choice.
    QAction* popup(QMenu& menu, const QPoint&) override {
        if (menu.actions().isEmpty()) return nullptr;
        QAction* first = menu.actions().first();
        first->trigger();
        return first;
    }
    void setClipboardText(const QString&) override {}
    void beep() override {}
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    if (argc < 3) {
        std::cerr << "usage: velmora-screenshot FILE OUT.png [TAB [PEAKS.png]]\n";
        return 2;
    }
    PrintingDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    QApplication::processEvents();
    const int tab = argc > 3 ? std::atoi(argv[3]) : 0;
    if (tab == 1) form.PageControl1->setCurrentIndex(1);
    form.FormDropFiles(std::vector<std::string>{argv[1]});
    form.PageControl1->setCurrentIndex(tab);
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    TForm2 form2;
    if (argc > 4) {
        form.Form2 = &form2;
        form.Button7Click();
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    }
    if (!form.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    if (argc > 4 && !form2.grab().save(QString::fromLocal8Bit(argv[4]))) {
        std::cerr << "cannot write " << argv[4] << "\n";
        return 1;
    }
    return 0;
}
