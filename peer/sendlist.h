#pragma once
// TSendListModel: the send list, without widgets. Each row is a file (a
// UTF-8 path) with a check mark and an id that never changes while the row
// lives, so a send run finds its rows again whatever the user adds, removes
// or selects meanwhile. A list view shows it directly (the path as the
// row's text, the check mark as its check state).
//
// A row may name a folder: whether it does, and what it holds, is found
// out on a pool thread after the row goes in (a list read at start may name
// slow or hung disks), and shown through the roles below.
//
// Owner thread only (the window's).

#include "peer/worker.h"

#include <QAbstractListModel>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dz::peer {

class TSendListModel : public QAbstractListModel {
public:
    using TId = std::uint64_t; // 0: no row
    enum Role {
        FolderRole = Qt::UserRole + 1, // bool: the row is a folder
        CountedRole,                   // bool: its files are counted (or could not be: FilesRole -1)
        FilesRole,                     // int: how many files it holds; -1: it cannot be read
        BytesRole,                     // qint64: their total size
    };

    explicit TSendListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int Count() const { return static_cast<int>(rows_.size()); }
    // Appends a row and returns its id.
    TId Append(const QString &path, bool checked = true);
    void Remove(int row);
    void Clear();
    // The row with that id now, or -1 when it is gone.
    int RowOf(TId id) const;
    TId IdAt(int row) const;
    QString Path(int row) const;
    bool Checked(int row) const;
    void SetChecked(int row, bool checked);
    // Every path, top to bottom, as the list file keeps them (UTF-8).
    std::vector<std::string> Paths() const;

private:
    struct TRow {
        TId id;
        QString path;
        bool checked;
        bool folder = false;
        bool counted = false;
        int files = 0;
        std::int64_t bytes = 0;
    };
    // Looks at the row's path on a pool thread.
    void Inspect(TId id, const QString &path);
    void Inspected(TId id, bool folder, int files, std::int64_t bytes);
    std::vector<TRow> rows_;
    TId lastId_ = 0;
    // Gone with the model: an inspection's answer checks it on this thread.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    // Looks at the rows' paths off the owner's thread, in the order added;
    // a thread of our own, so the race checker sees the hand-over.
    std::unique_ptr<TWorker> inspector_ = std::make_unique<TWorker>("dz-inspect");
};

} // namespace dz::peer
