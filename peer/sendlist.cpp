#include "sendlist.h"

#include "peer/folders.h"

#include <QCoreApplication>
#include <QPointer>

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
    case FolderRole:
        return row.folder;
    case CountedRole:
        return row.counted;
    case FilesRole:
        return row.files;
    case BytesRole:
        return static_cast<qint64>(row.bytes);
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
    Inspect(lastId_, path);
    return lastId_;
}

void TSendListModel::Inspect(TId id, const QString &path)
{
    inspector_->Post([self = this, alive = std::weak_ptr<int>(alive_), id, path = path.toStdString()] {
        if (!IsFolder(path))
            return;
        int files = -1;
        std::int64_t bytes = 0;
        try {
            const TFolderTree tree = WalkFolder(path);
            files = tree.files;
            bytes = tree.bytes;
        } catch (...) {
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [self, alive, id, files, bytes] {
                if (alive.lock())
                    self->Inspected(id, true, files, bytes);
            },
            Qt::QueuedConnection);
    });
}

void TSendListModel::Inspected(TId id, bool folder, int files, std::int64_t bytes)
{
    const int row = RowOf(id);
    if (row < 0)
        return;
    TRow &r = rows_[static_cast<std::size_t>(row)];
    r.folder = folder;
    r.counted = true;
    r.files = files;
    r.bytes = bytes;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {FolderRole, CountedRole, FilesRole, BytesRole});
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
