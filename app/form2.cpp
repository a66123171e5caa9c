#include "form2.h"

#include <algorithm>

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "widgets.h"

namespace velmora::app {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("ノーマライズ"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(FormFont());
    // 183 × 501 outside; the client area is what Qt sizes.
    resize(175, 472);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFixedHeight(41);
    Label1 = Place(new QLabel(Panel1), "Label1", 8, 14, 88, 17);
    Button1 = Place(new QPushButton(QStringLiteral("閉じる"), Panel1), "Button1", 96, 8, 75, 25);
    layout->addWidget(Panel1);

    Peaks = new PeakListModel(this);
    ListView1 = new QTableView(this);
    ListView1->setObjectName("ListView1");
    ListView1->setModel(Peaks);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setMinimumSectionSize(16);
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(19);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->setColumnWidth(0, 40);
    ListView1->setColumnWidth(1, 40);
    // "ピーク" takes the rest of the width; a stretched last section would
    // keep at least the default section size and overflow the narrow window.
    ListView1->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setShowGrid(true);
    layout->addWidget(ListView1, 1);
    // "ほか N 行" reads across the three columns.
    connect(Peaks, &PeakListModel::moreRowAdded, this, [this](int row) { ListView1->setSpan(row, 0, 1, 3); });

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm2::Button1Click() { hide(); }

void TForm2::showList() {
    show();
    if (!mainWindow_) return;
    // Outer edges, title bar and frame included, as the user sees them line up.
    const QRect main = mainWindow_->frameGeometry();
    const int frameHeight = frameGeometry().height() - height();
    resize(width(), std::max(0, main.height() - frameHeight));
    move(main.x() + main.width(), main.y());
}

void TForm2::clearRows() { Peaks->clear(); }  // the reset drops the "ほか N 行" span too

void TForm2::addRow(int minute, int second, int peak) {
    Peaks->addRow(minute, second, peak);
    refreshLater();
}

void TForm2::addFloatRow(int minute, int second, double peak) {
    Peaks->addFloatRow(minute, second, peak);
    refreshLater();
}

// Rows can come a few thousand a second (a long file at a low rate); the
// list is drawn and scrolled at most every kRefreshMs instead of per row.
void TForm2::refreshLater() {
    if (refreshPending_) return;
    refreshPending_ = true;
    ListView1->setUpdatesEnabled(false);
    QTimer::singleShot(kRefreshMs, this, [this] { refreshRows(); });
}

void TForm2::refreshRows() {
    if (!refreshPending_) return;
    refreshPending_ = false;
    ListView1->setUpdatesEnabled(true);
    // Scrolling to the bottom lays the list out first; scrolling to the
    // last index would use the range before the new rows.
    ListView1->scrollToBottom();
}

void TForm2::setLabel(const std::string& text) {
    refreshRows();  // the label comes after the last row
    Label1->setText(QString::fromStdString(text));
}

}  // namespace velmora::app
