#include "controls.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "widgets.h"

namespace velmora::app {

namespace {

constexpr int kMemoLineHeight = 13;

}  // namespace

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                        int height) {
    return Place(new QPushButton(Q(caption), parent), name, left, top, width, height);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(Q(caption), parent);
    label->setObjectName(Q(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* memo = Place(new QPlainTextEdit(parent), name, left, top, width, height);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return memo;
}

QTextEdit* MakeFixedMemo(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* memo = Place(new QTextEdit(parent), name, left, top, width, height);
    memo->setReadOnly(true);
    memo->setAcceptRichText(false);
    memo->setFont(FixedFont());
    memo->document()->setDocumentMargin(3);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return memo;
}

void SetLines(QTextEdit* memo, const std::vector<std::string>& lines) {
    QStringList text;
    for (const auto& line : lines) text << Q(line);
    memo->setPlainText(text.join(QLatin1Char('\n')));
    QTextCursor cursor(memo->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setLineHeight(kMemoLineHeight, QTextBlockFormat::FixedHeight);
    cursor.mergeBlockFormat(format);
}

}  // namespace velmora::app
