// The normalize window: the peak list shown beside the main window while the
// normalisation scans. Created hidden at start-up; the operation fills it.
#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora::app {

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;        // the overall peak
    QPushButton* Button1;  // "閉じる"
    QTableWidget* ListView1;  // columns "分", "秒", "ピーク"

    // "閉じる": hides the window and does nothing else.
    void Button1Click();
};

}  // namespace velmora::app
