// Tab 2 "多重化": the six channel rows of the multiplex writer, the menu a drop
// on this tab opens to register the dropped file at a row, and the writer's log.
#pragma once

#include <QWidget>

#include "ops/multiplex.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace velmora::app {

class TForm1;

class MultiplexTab : public QWidget {
public:
    // Joins `pages` before building its controls, as the main tab does.
    MultiplexTab(TForm1& form, QTabWidget* pages);

    const ChannelList& channelList() const { return channelList_; }

    // An item of PopupMenu1: registers the dropped file at its row through the
    // window's RegisterChannelFile.
    void itemClick(int row);
    // What the window's RegisterChannelFile does.
    void registerChannelFile(int row);
    // The file a drop on this tab brought, registered by the popup's items.
    void setDroppedFile(const std::string& path) { droppedFile_ = path; }
    const std::string& droppedFile() const { return droppedFile_; }

    void Button5Click();  // multiplex writer
    void Button6Click();  // "クリア"; also while the writer runs
    void ListView1ItemChecked(int row, bool checked);

private:
    // Redraws a row of ListView1 from the channel list.
    void showChannelRow(int row);

    TForm1& form_;
    ChannelList channelList_;
    std::string droppedFile_;
};

}  // namespace velmora::app
