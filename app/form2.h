// The normalize window: the peak list shown beside the main window while the
// normalisation scans. Created hidden at start-up; the operation fills it.
#pragma once

#include <string>

#include <QPointer>
#include <QWidget>

#include "ops/normalize.h"
#include "peak_list_model.h"

class QFrame;
class QLabel;
class QPushButton;
class QTableView;

namespace velmora::app {

class TForm2 : public QWidget,
               public PeakListView {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;         // the overall peak
    QPushButton* Button1;   // "閉じる"
    QTableView* ListView1;  // columns "分", "秒", "ピーク"
    PeakListModel* Peaks;   // the rows ListView1 shows

    // "閉じる": hides the window and does nothing else.
    void Button1Click();

    // The window it is shown against (the main window).
    void setMainWindow(QWidget* mainWindow) { mainWindow_ = mainWindow; }

    // The peak list of the normalisation.
    void showList() override;
    void clearRows() override;
    void addRow(int minute, int second, int peak) override;
    void addFloatRow(int minute, int second, double peak) override;
    void setLabel(const std::string& text) override;
    void hide() override { QWidget::hide(); }

private:
    void refreshLater();
    void refreshRows();
    static constexpr int kRefreshMs = 50;
    QPointer<QWidget> mainWindow_;
    bool refreshPending_ = false;
};

}  // namespace velmora::app
