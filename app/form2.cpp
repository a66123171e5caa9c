#include "form2.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
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

    ListView1 = new QTableWidget(0, 3, this);
    ListView1->setObjectName("ListView1");
    ListView1->setHorizontalHeaderLabels({QStringLiteral("分"), QStringLiteral("秒"), QStringLiteral("ピーク")});
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setMinimumSectionSize(16);
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(19);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->setColumnWidth(0, 40);
    ListView1->setColumnWidth(1, 40);
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setShowGrid(true);
    layout->addWidget(ListView1, 1);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm2::Button1Click() { hide(); }

}  // namespace velmora::app
