#pragma once
// TReceiveLogModel: the list of received files, without widgets. Each row
// is the text the list file keeps ("date time | sender | name", UTF-8) and
// the full path the file was stored at, so opening a row finds its file
// after a restart or a change of the receive folder.
//
// The list file keeps only the texts, exactly as ever; the paths go to a
// file of their own beside it, one "text<TAB>path" line per row that has
// one (tab, CR, LF and '%' percent-encoded). A row whose path is not known
// (listed by an older copy) falls back to its name in the receive folder.
//
// Owner thread only.

#include <QAbstractListModel>
#include <QString>

#include <string>
#include <vector>

namespace dz::peer {

class TReceiveLogModel : public QAbstractListModel {
public:
    explicit TReceiveLogModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    int Count() const { return static_cast<int>(rows_.size()); }
    // A new row at the top (the newest first).
    // verified: its bytes were checked against the sender's hash (known
    // for the files of this run only: the list files keep no such mark).
    void Prepend(const QString &text, const QString &path, bool verified = false)
    {
        Insert(0, text, path, verified);
    }
    void Insert(int row, const QString &text, const QString &path, bool verified = false);
    void Clear();
    QString Text(int row) const;
    // The path the row's file was stored at; empty when not known.
    QString StoredPath(int row) const;
    static constexpr int kVerifiedRole = Qt::UserRole + 1;
    // The row's file: its stored path, else its name in folder (ending in
    // '/'); empty when the row names no file.
    QString FileOf(int row, const QString &folder) const;

    // What the two files keep (UTF-8 lines), and the rows back from them.
    std::vector<std::string> Texts() const;
    std::vector<std::string> PathLines() const;
    void Load(const std::vector<std::string> &texts, const std::vector<std::string> &pathLines);

    // The paths file beside a list file.
    static std::string PathsFileFor(const std::string &listFile) { return listFile + ".paths"; }

private:
    struct TRow {
        QString text;
        QString path;
        bool verified = false;
    };
    std::vector<TRow> rows_;
};

// The name a row's text ends with (after its second " | "); "" when none is safe.
std::string ReceivedNameOf(const std::string &rowText);

} // namespace dz::peer
