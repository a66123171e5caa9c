#include "widgets.h"

#include <QButtonGroup>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QRadioButton>

namespace velmora::app {

QFont FormFont() {
    const QString preferred = QStringLiteral("ＭＳ Ｐゴシック");
    QFont font;
    font.setFamilies({preferred, QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(12);
    // The captions were fitted to the narrower proportional face; the
    // fallback's full-width kana need a little less width to fit them.
    if (!QFontDatabase::hasFamily(preferred)) font.setStretch(90);
    return font;
}

QFont FixedFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP")});
    font.setPixelSize(12);
    font.setStretch(QFont::Unstretched);
    font.setFixedPitch(true);
    font.setStyleHint(QFont::Monospace);
    return font;
}

void GroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QString caption = title();
    const QRect textRect(7, 0, caption.isEmpty() ? 0 : metrics.horizontalAdvance(caption) + 4, metrics.height());
    // The frame line is broken where the caption stands.
    painter.setClipRegion(QRegion(rect()).subtracted(QRegion(textRect)));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, metrics.height() / 2, -1, -1));
    painter.setClipping(false);
    style()->drawItemText(&painter, textRect, Qt::AlignCenter, palette(), isEnabled(), caption, QPalette::WindowText);
}

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : GroupBox(caption, parent), group_(new QButtonGroup(this)) {
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
    }
    setItemIndex(0);
}

int RadioGroup::itemIndex() const { return group_->checkedId(); }

void RadioGroup::setItemIndex(int index) {
    if (QAbstractButton* b = group_->button(index)) b->setChecked(true);
}

int RadioGroup::count() const { return static_cast<int>(group_->buttons().size()); }

QRadioButton* RadioGroup::button(int index) const { return static_cast<QRadioButton*>(group_->button(index)); }

void RadioGroup::resizeEvent(QResizeEvent* event) {
    GroupBox::resizeEvent(event);
    arrange();
}

// One column of equal rows below the caption, the way such groups are laid out.
void RadioGroup::arrange() {
    const int n = count();
    if (n == 0) return;
    const int textHeight = 12;
    const int free = height() - textHeight - 5;
    const int rowHeight = free / n;
    const int top = textHeight + 1 + (free % n) / 2;
    for (int i = 0; i < n; ++i) {
        QRadioButton* b = button(i);
        b->setObjectName(objectName() + QStringLiteral("Item%1").arg(i));
        b->setGeometry(8, top + i * rowHeight, width() - 10, rowHeight);
    }
}

namespace {
constexpr const char* kPathProperty = "velmoraPath";
}

QString DisplayPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

void SetPathField(QLineEdit* edit, const std::string& path) {
    edit->setText(DisplayPath(path));
    edit->setProperty(kPathProperty, QByteArray::fromStdString(path));
}

std::string PathFieldValue(const QLineEdit* edit) {
    const QVariant kept = edit->property(kPathProperty);
    if (kept.isValid()) {
        const std::string path = kept.toByteArray().toStdString();
        if (edit->text() == DisplayPath(path)) return path;
    }
    return PathBytes(edit->text());
}

void ShowPathInLabel(QLabel* label, const std::string& path) {
    const QString full = DisplayPath(path);
    const int room = label->width() - 2 * label->margin() - 2;
    label->setText(label->fontMetrics().elidedText(full, Qt::ElideMiddle, room));
    label->setToolTip(full);
}

}  // namespace velmora::app
