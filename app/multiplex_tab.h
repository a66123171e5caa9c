// Tab 2 "多重化": the six channel rows of the multiplex writer, the menu a drop
// on this tab opens to register the dropped file at a row, and the writer's log.
#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "ops/multiplex.h"
#include "wav/analysis.h"
#include "wav/waveinfo.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace velmora {
class Host;
}  // namespace velmora

namespace velmora::app {

// What the multiplex tab needs from the window around it. The window
// implements it; the tab sees nothing else of the window.
class MultiplexTabHost {
public:
    // A handler body that is not an operation, and an operation body (refused
    // while another runs); see TopLevelGuard.
    virtual void runHandler(const std::function<void()>& body) = 0;
    virtual bool runOperation(const std::function<void()>& body) = 0;
    // Registers the dropped file at a row of ListView1: started by the items
    // of PopupMenu1, done by the tab's registerChannelFile.
    virtual void RegisterChannelFile(int row) = 0;
    // Shows the analysis a registration ran, as a drop on the main tab would.
    virtual void ShowAnalysisResult(const AnalysisResult& result) = 0;
    virtual void showMessage(const std::string& text) = 0;

    virtual WaveInfo& waveInfo() = 0;
    virtual std::string outputFolder() const = 0;
    // The header options of the strip below the tabs (exwavechk, cuechk).
    virtual bool extensibleHeader() const = 0;
    virtual bool cueChunk() const = 0;
    virtual Host& muxHost() = 0;  // logs into Memo2

protected:
    ~MultiplexTabHost() = default;
};

class MultiplexTab : public QWidget {
public:
    // Joins `pages` before building its controls, as the main tab does.
    MultiplexTab(MultiplexTabHost& host, QTabWidget* pages);

    // The tab's controls, under their form names; the window names them too.
    // ListView1: column 0 "Channel" (check box), 1 "Sample" (hidden), 2 "File",
    // 3 "Path"; six fixed rows "Left" … "S-Right".
    QTableWidget* ListView1 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button5 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;  // log of the multiplex writer
    QMenu* PopupMenu1 = nullptr;      // opened only by a drop on this tab
    QAction* left1 = nullptr;
    QAction* right1 = nullptr;
    QAction* center1 = nullptr;
    QAction* lfe1 = nullptr;
    QAction* sleft1 = nullptr;
    QAction* sright1 = nullptr;

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

    MultiplexTabHost& host_;
    ChannelList channelList_;
    std::string droppedFile_;
};

}  // namespace velmora::app
