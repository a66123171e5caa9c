// Our folder-browse dialog: a folder tree from "/", a status line with the
// selected folder, and an edit box whose typed folder is validated on OK.
#pragma once

#include <functional>

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QTreeView;

namespace velmora::app {

class FolderBrowseDialog : public QDialog {
public:
    // Shows a refusal (the typed folder does not exist) over the dialog,
    // which stays open after it.
    using Refuse = std::function<void(QWidget* dialog, const QString& text)>;
    FolderBrowseDialog(QWidget* parent, const QString& title, const QString& initial, Refuse refuse);

    // The chosen folder after OK: absolute, no trailing separator except "/".
    QString selectedFolder() const { return chosen_; }
    // The folder the tree has selected (shown in the status line).
    QString currentFolder() const { return current_; }

    QLabel* statusLine() const { return status_; }
    QLineEdit* editBox() const { return edit_; }
    QTreeView* tree() const { return tree_; }

    // OK: accepts only a folder that exists.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void select(const QString& folder);
    void keepSelectionInView();
    void selectionChanged();

    Refuse refuse_;
    QFileSystemModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLabel* status_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QString current_;
    QString chosen_;
    // The view keeps the selection in sight until the user moves it.
    bool followSelection_ = true;
};

// A folder as the output folder label shows it: clean and absolute, without
// a trailing separator except for the root.
QString FolderForLabel(const QString& folder);

}  // namespace velmora::app
