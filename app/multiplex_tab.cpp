#include "multiplex_tab.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include "controls.h"
#include "wav/text.h"
#include "widgets.h"

namespace velmora::app {

namespace {

const char* const kChannelNames[6] = {"Left", "Right", "Center", "LFE", "S-Left", "S-Right"};

}  // namespace

MultiplexTab::MultiplexTab(MultiplexTabHost& host, QTabWidget* pages) : host_(host) {
    setObjectName("TabSheet2");
    pages->addTab(this, QStringLiteral("多重化"));

    ListView1 = Place(new QTableWidget(6, 4, this), "ListView1", 8, 8, 657, 145);
    ListView1->setHorizontalHeaderLabels(
        {QStringLiteral("Channel"), QStringLiteral("Sample"), QStringLiteral("File"), QStringLiteral("Path")});
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setMinimumSectionSize(16);
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(19);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->setColumnWidth(0, 100);
    ListView1->setColumnWidth(1, 0);
    ListView1->setColumnHidden(1, true);
    ListView1->setColumnWidth(2, 200);
    ListView1->setColumnWidth(3, 200);
    ListView1->setShowGrid(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < 6; ++row) {
        auto* caption = new QTableWidgetItem(Q(kChannelNames[row]));
        caption->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        caption->setCheckState(Qt::Unchecked);
        ListView1->setItem(row, 0, caption);
        for (int column = 1; column < 4; ++column) {
            auto* blank = new QTableWidgetItem(QStringLiteral(" "));
            blank->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            ListView1->setItem(row, column, blank);
        }
    }
    Button6 = MakeButton(this, "Button6", "クリア", 8, 296, 75, 25);
    Button5 = MakeButton(this, "Button5", "多重化", 8, 328, 75, 25);
    Memo2 = MakeMemo(this, "Memo2", 424, 160, 241, 193);

    // Owned by the window itself (this tab is on its pages by now), so the
    // menu lives exactly as long as the window.
    PopupMenu1 = new QMenu(window());
    PopupMenu1->setObjectName("PopupMenu1");
    QAction** items[6] = {&left1, &right1, &center1, &lfe1, &sleft1, &sright1};
    const char* names[6] = {"left1", "right1", "center1", "lfe1", "sleft1", "sright1"};
    const char* captions[6] = {"left", "right", "center", "lfe", "s-left", "s-right"};
    for (int i = 0; i < 6; ++i) {
        *items[i] = PopupMenu1->addAction(Q(captions[i]));
        (*items[i])->setObjectName(Q(names[i]));
    }

    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
    // Only the check boxes are the user's to change; the window's own redraws
    // block the list's signals.
    connect(ListView1, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == 0) ListView1ItemChecked(item->row(), item->checkState() == Qt::Checked);
    });
    // A menu item's registration runs from its own event, after the drop
    // handler that opened the menu has returned.
    for (int row = 0; row < 6; ++row)
        connect(
            *items[row], &QAction::triggered, this, [this, row] { itemClick(row); }, Qt::QueuedConnection);
}

void MultiplexTab::itemClick(int row) {
    host_.runOperation([this, row] { host_.RegisterChannelFile(row); });
}

void MultiplexTab::registerChannelFile(int row) {
    const ChannelRegistration reg = velmora::RegisterChannelFile(row, droppedFile_, host_.waveInfo(), channelList_);
    host_.ShowAnalysisResult(reg.analysis);
    if (reg.refusal) host_.showMessage(*reg.refusal);
    showChannelRow(row);
}

void MultiplexTab::showChannelRow(int row) {
    const ChannelRow& r = channelList_.at(row);
    const QSignalBlocker quiet(ListView1);
    ListView1->item(row, 0)->setCheckState(r.checked ? Qt::Checked : Qt::Unchecked);
    // The columns of an empty row hold a blank; the hidden "Sample" column
    // keeps the four numbers the list has always shown.
    std::string sample = " ", file = " ", folder = " ";
    if (r.entry) {
        const ChannelEntry& e = *r.entry;
        sample = Format("%d %d %d %d", static_cast<std::int32_t>(e.dataSize), e.dataChunkPos, e.samplesPerSec,
                        static_cast<int>(e.bitsPerSample));
        file = FileNamePart(e.path);
        folder = FolderPart(e.path);
    }
    ListView1->item(row, 1)->setText(Q(sample));
    ListView1->item(row, 2)->setText(Q(file));
    ListView1->item(row, 3)->setText(Q(folder));
}

void MultiplexTab::ListView1ItemChecked(int row, bool checked) {
    host_.runHandler([this, row, checked] {
        if (row < 0 || row >= kChannelRows) return;
        channelList_.setChecked(row, checked);
    });
}

void MultiplexTab::Button6Click() {
    // Not an operation: the list may be cleared while the writer runs.
    host_.runHandler([this] {
        ClearChannelList(channelList_);
        for (int row = 0; row < kChannelRows; ++row) showChannelRow(row);
        Memo2->clear();
    });
}

void MultiplexTab::Button5Click() {
    host_.runOperation([this] {
        MultiplexOptions options;
        options.extensible = host_.extensibleHeader();
        options.cue = host_.cueChunk();
        options.outputFolder = host_.outputFolder();
        // The writer reads the rows from the list again once the first
        // pending messages have run, so a change the user makes at the start
        // is seen.
        WriteMultiplex(channelList_, options, host_.muxHost());
    });
}

}  // namespace velmora::app
