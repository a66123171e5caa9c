// Small pieces the two forms share: their fonts, fixed placement, and the
// radio group (a captioned box of radio buttons with one item index).
#pragma once

#include <QFont>
#include <QGroupBox>
#include <QStringList>

#include <string>

class QLabel;
class QLineEdit;

class QButtonGroup;
class QRadioButton;

namespace velmora::app {

// "ＭＳ Ｐゴシック" at 12 px, with the Japanese sans face Linux has.
QFont FormFont();
// "ＭＳ ゴシック" at 12 px, with a fixed-pitch face whose Japanese characters
// are two Latin columns wide, so the report's colons line up.
QFont FixedFont();

// A group box with its caption on the frame line, so that controls placed
// just below the caption lie inside the frame.
class GroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Names, places and sizes as left, top, width × height in the parent.
template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

class RadioGroup : public GroupBox {
public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent);
    int itemIndex() const;
    void setItemIndex(int index);
    int count() const;
    QRadioButton* button(int index) const;
    // Places the buttons for the current size (also done on every resize).
    void arrange();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QButtonGroup* group_;
};

// Paths keep the bytes of the file's real name; the screen shows them decoded,
// so a name that is not valid UTF-8 is shown approximately and still opens.
QString DisplayPath(const std::string& path);
std::string PathBytes(const QString& path);
// A line edit holding a path: set with the real bytes; read back as those
// bytes while the text is what was set, else as the text the user typed.
void SetPathField(QLineEdit* edit, const std::string& path);
std::string PathFieldValue(const QLineEdit* edit);
// A label too narrow for a path shows it elided in the middle, with the whole
// path as its tooltip.
void ShowPathInLabel(QLabel* label, const std::string& path);

}  // namespace velmora::app
