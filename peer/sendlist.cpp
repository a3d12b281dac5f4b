#include "sendlist.h"

namespace dz::peer {

TSendListModel::TSendListModel(QObject *parent) : QAbstractListModel(parent) {}

int TSendListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant TSendListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const TRow &row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.path;
    case Qt::CheckStateRole:
        return row.checked ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool TSendListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= Count() || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags TSendListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

TSendListModel::TId TSendListModel::Append(const QString &path, bool checked)
{
    const int row = Count();
    beginInsertRows({}, row, row);
    rows_.push_back({++lastId_, path, checked});
    endInsertRows();
    return lastId_;
}

void TSendListModel::Remove(int row)
{
    if (row < 0 || row >= Count())
        return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void TSendListModel::Clear()
{
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int TSendListModel::RowOf(TId id) const
{
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id)
            return static_cast<int>(i);
    return -1;
}

TSendListModel::TId TSendListModel::IdAt(int row) const
{
    return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].id : 0;
}

QString TSendListModel::Path(int row) const
{
    return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].path : QString();
}

bool TSendListModel::Checked(int row) const
{
    return row >= 0 && row < Count() && rows_[static_cast<std::size_t>(row)].checked;
}

void TSendListModel::SetChecked(int row, bool checked)
{
    if (row < 0 || row >= Count() || rows_[static_cast<std::size_t>(row)].checked == checked)
        return;
    rows_[static_cast<std::size_t>(row)].checked = checked;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {Qt::CheckStateRole});
}

std::vector<std::string> TSendListModel::Paths() const
{
    std::vector<std::string> paths;
    paths.reserve(rows_.size());
    for (const TRow &row : rows_)
        paths.push_back(row.path.toStdString());
    return paths;
}

} // namespace dz::peer
