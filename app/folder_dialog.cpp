#include "folder_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace velmora::app {

QString FolderForLabel(const QString& folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

FolderBrowseDialog::FolderBrowseDialog(QWidget* parent, const QString& title, const QString& initial, Refuse refuse)
    : QDialog(parent), refuse_(std::move(refuse)) {
    setObjectName("FolderBrowseDialog");
    setWindowTitle(title);
    resize(420, 460);

    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(title, this);
    layout->addWidget(caption);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model_->setRootPath(QStringLiteral("/"));
    tree_ = new QTreeView(this);
    tree_->setObjectName("tree");
    tree_->setModel(model_);
    // The invisible root holds "/" itself, so the root can be chosen too.
    tree_->setRootIndex(QModelIndex());
    for (int c = 1; c < model_->columnCount(); ++c) tree_->hideColumn(c);
    tree_->header()->hide();
    layout->addWidget(tree_, 1);

    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);

    edit_ = new QLineEdit(this);
    edit_->setObjectName("edit");
    layout->addWidget(edit_);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &FolderBrowseDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FolderBrowseDialog::reject);
    layout->addWidget(buttons);

    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { keepSelectionInView(); });
    connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { keepSelectionInView(); });
    connect(tree_->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { followSelection_ = false; });
    connect(tree_, &QAbstractItemView::pressed, this, [this] { followSelection_ = false; });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { selectionChanged(); });
    select(initial.isEmpty() ? QDir::homePath() : initial);
}

void FolderBrowseDialog::select(const QString& folder) {
    QModelIndex index = model_->index(FolderForLabel(folder));
    if (!index.isValid()) return;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) tree_->expand(up);
    tree_->setCurrentIndex(index);
    // The model reads and sorts folders in the background, and every row it
    // adds above the selection moves it: the view follows the selection
    // until the user scrolls or clicks.
    followSelection_ = true;
    keepSelectionInView();
    selectionChanged();
}

void FolderBrowseDialog::keepSelectionInView() {
    if (followSelection_) tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
}

void FolderBrowseDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    keepSelectionInView();
}

void FolderBrowseDialog::selectionChanged() {
    QModelIndex index = tree_->currentIndex();
    if (!index.isValid()) return;
    current_ = FolderForLabel(model_->filePath(index));
    status_->setText(current_);
    edit_->setText(current_);
}

void FolderBrowseDialog::accept() {
    const QString typed = edit_->text();
    QString folder = typed.trimmed();
    if (folder.isEmpty())
        folder = current_;
    else if (QDir::isRelativePath(folder))
        folder = current_ + QLatin1Char('/') + folder;  // a name typed below the selected folder
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        refuse_(this, typed + QStringLiteral(" ディレクトリは存在しません"));
        return;
    }
    chosen_ = FolderForLabel(folder);
    QDialog::accept();
}

}  // namespace velmora::app
