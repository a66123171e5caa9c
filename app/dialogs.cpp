#include "dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "folder_dialog.h"

namespace velmora::app {

namespace {

// A dialog opened while an operation runs (its busy cursor is up) shows the
// normal pointer over it.
struct NormalCursor {
    NormalCursor() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~NormalCursor() { QApplication::restoreOverrideCursor(); }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;
};

}  // namespace

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

std::optional<QString> QtDialogs::openFile(QWidget* parent, const QString& filter) {
    NormalCursor pointer;
    QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> QtDialogs::browseFolder(QWidget* parent, const QString& title, const QString& initial) {
    // The refusal is a confirmation-kind box with one OK button over the dialog.
    FolderBrowseDialog dialog(parent, title, initial, [this](QWidget* owner, const QString& text) {
        message(owner, QString::fromUtf8(kConfirmCaption), text);
    });
    NormalCursor pointer;
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFolder();
}

void QtDialogs::message(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, DisplayText(text), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    NormalCursor pointer;
    box.exec();
}

bool QtDialogs::ask(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kConfirmCaption), DisplayText(text), QMessageBox::NoButton,
                    parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(QString::fromUtf8(kYesText), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QString::fromUtf8(kNoText), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // Left to itself the box would make the No button its escape button, so
    // Escape or the close box would answer No. Only a press of No stops;
    // closing the box any other way goes on, as Yes does.
    box.setEscapeButton(yes);
    NormalCursor pointer;
    box.exec();
    return box.clickedButton() != no;
}

QAction* QtDialogs::popup(QMenu& menu, const QPoint& globalPos) {
    NormalCursor pointer;
    return menu.exec(globalPos);
}

void QtDialogs::setClipboardText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

void QtDialogs::beep() { QApplication::beep(); }

}  // namespace velmora::app
