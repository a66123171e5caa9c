// The platform dialogs the window uses, behind one interface so the window
// tests can answer them without a person.
#pragma once

#include <optional>

#include <QPoint>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace velmora::app {

// Caption of every plain message box.
inline constexpr const char* kApplicationTitle = "Velmora";
// Caption of the confirmation box and of the folder dialog's refusal.
inline constexpr const char* kConfirmCaption = "確認";
inline constexpr const char* kYesText = "はい(&Y)";
inline constexpr const char* kNoText = "いいえ(&N)";

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // The file-open dialog with a filter such as "Wav(*.wav)"; nullopt when cancelled.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& filter) = 0;
    // The folder-browse dialog, preselecting `initial`; the chosen folder
    // (no trailing separator except for "/"), nullopt when cancelled.
    virtual std::optional<QString> browseFolder(QWidget* parent, const QString& title, const QString& initial) = 0;
    // A plain modal message box with one OK button. "\r\n" in the text is a line break.
    virtual void message(QWidget* parent, const QString& caption, const QString& text) = 0;
    // The confirmation box (caption "確認", "はい(&Y)" / "いいえ(&N)"); false only for No.
    virtual bool ask(QWidget* parent, const QString& text) = 0;
    // Opens the menu modally at a screen position. Returns the chosen action,
    // which has been triggered, or nullptr when the menu was closed without a choice.
    virtual QAction* popup(QMenu& menu, const QPoint& globalPos) = 0;
    // Replaces the clipboard's content with plain text.
    virtual void setClipboardText(const QString& text) = 0;
    // The sound of a refused click or drop (another operation is running).
    virtual void beep() = 0;
};

// The real ones: Qt's file dialog, our folder dialog, QMessageBox, QMenu, QClipboard.
class QtDialogs : public Dialogs {
public:
    std::optional<QString> openFile(QWidget* parent, const QString& filter) override;
    std::optional<QString> browseFolder(QWidget* parent, const QString& title, const QString& initial) override;
    void message(QWidget* parent, const QString& caption, const QString& text) override;
    bool ask(QWidget* parent, const QString& text) override;
    QAction* popup(QMenu& menu, const QPoint& globalPos) override;
    void setClipboardText(const QString& text) override;
    void beep() override;
};

// Message texts carry "\r\n" line breaks; a label wants "\n".
QString DisplayText(const QString& text);

}  // namespace velmora::app
