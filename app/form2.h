// The normalize window: the peak list shown beside the main window while the
// normalisation scans. Created hidden at start-up; the operation fills it.
#pragma once

#include <string>

#include <QPointer>
#include <QWidget>

#include "ops/normalize.h"

class QFrame;
class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora::app {

class TForm2 : public QWidget, public PeakListView {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;        // the overall peak
    QPushButton* Button1;  // "閉じる"
    QTableWidget* ListView1;  // columns "分", "秒", "ピーク"

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
    void appendRow(int minute, int second, const QString& peak);
    QPointer<QWidget> mainWindow_;
};

}  // namespace velmora::app
