#include "peak_list_model.h"

#include "ops/normalize.h"

namespace velmora::app {

PeakListModel::PeakListModel(QObject* parent) : QAbstractTableModel(parent) {}

int PeakListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return storedRows() + (pastCap_ > 0 ? 1 : 0);
}

int PeakListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant PeakListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
    if (index.row() == moreRow()) return index.column() == 0 ? QStringLiteral("ほか %1 行").arg(pastCap_) : QVariant();
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
        case 0: return QString::number(row.minute);
        case 1: return QString::number(row.second);
        case 2:
            return row.isFloat ? QString::fromStdString(FloatPeakText(row.peak))
                               : QString::number(static_cast<int>(row.peak));
        default: return {};
    }
}

QVariant PeakListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
        case 0: return QStringLiteral("分");
        case 1: return QStringLiteral("秒");
        case 2: return QStringLiteral("ピーク");
        default: return {};
    }
}

Qt::ItemFlags PeakListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void PeakListModel::addRow(int minute, int second, int peak) {
    append({static_cast<double>(peak), minute, static_cast<std::int16_t>(second), false});
}

void PeakListModel::addFloatRow(int minute, int second, double peak) {
    append({peak, minute, static_cast<std::int16_t>(second), true});
}

void PeakListModel::append(const Row& row) {
    const int at = storedRows();
    if (at < cap_) {
        beginInsertRows(QModelIndex(), at, at);
        rows_.push_back(row);
        endInsertRows();
        return;
    }
    if (++pastCap_ == 1) {
        beginInsertRows(QModelIndex(), at, at);
        endInsertRows();
        emit moreRowAdded(at);
    } else {
        const QModelIndex more = index(at, 0);
        emit dataChanged(more, more, {Qt::DisplayRole});
    }
}

void PeakListModel::clear() {
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();  // a long scan's array is not kept for the next, short one
    pastCap_ = 0;
    endResetModel();
}

}  // namespace velmora::app
