// The rows of the peak list: "分", "秒", "ピーク", one per minute of play
// time. A long file at a low sample rate has a row per minute for millions
// of minutes, so the rows live in one compact array instead of an item
// object per cell, and past a cap they are only counted.
#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>

namespace velmora::app {

class PeakListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Rows held; a million minutes is nearly two years of play time.
    static constexpr int kDefaultCap = 1'000'000;

    explicit PeakListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void addRow(int minute, int second, int peak);
    void addFloatRow(int minute, int second, double peak);
    void clear();

    // The peak rows held (without the closing "ほか N 行" row).
    int storedRows() const { return static_cast<int>(rows_.size()); }
    // The rows that came past the cap, counted but not held.
    std::int64_t rowsPastCap() const { return pastCap_; }
    // The row that says how many follow; -1 while nothing is past the cap.
    int moreRow() const { return pastCap_ > 0 ? storedRows() : -1; }
    int cap() const { return cap_; }
    // Takes effect for rows still to come.
    void setCap(int cap) { cap_ = cap; }

signals:
    // The "ほか N 行" row has just been added at `row`.
    void moreRowAdded(int row);

private:
    // An integer peak is exact as a double; the second is 0–59.
    struct Row {
        double peak;
        std::int32_t minute;
        std::int16_t second;
        bool isFloat;
    };
    static_assert(sizeof(Row) == 16);
    void append(const Row& row);

    std::vector<Row> rows_;
    std::int64_t pastCap_ = 0;
    int cap_ = kDefaultCap;
};

}  // namespace velmora::app
