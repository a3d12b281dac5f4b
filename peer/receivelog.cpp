#include "receivelog.h"

#include "peer/receive.h"

#include <algorithm>
#include <map>

namespace dz::peer {
namespace {

std::string Escaped(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescaped(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex = text.substr(i + 1, 2);
            char *end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace

std::string ReceivedNameOf(const std::string &rowText)
{
    // The sender is a computer name, which holds no " | ": the name is all
    // that follows the second one, whatever it holds itself.
    const std::string bar = " | ";
    const auto first = rowText.find(bar);
    const auto second = first == std::string::npos ? first : rowText.find(bar, first + bar.size());
    if (second == std::string::npos)
        return {};
    return SafeReceivedName(rowText.substr(second + bar.size()));
}

TReceiveLogModel::TReceiveLogModel(QObject *parent) : QAbstractListModel(parent) {}

int TReceiveLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant TReceiveLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const TRow &row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return row.text;
    if (role == Qt::ToolTipRole && !row.path.isEmpty())
        return row.path;
    if (role == kVerifiedRole)
        return row.verified;
    return {};
}

void TReceiveLogModel::Insert(int row, const QString &text, const QString &path, bool verified)
{
    row = std::clamp(row, 0, Count());
    beginInsertRows({}, row, row);
    rows_.insert(rows_.begin() + row, {text, path, verified});
    endInsertRows();
}

void TReceiveLogModel::Clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
}

QString TReceiveLogModel::Text(int row) const
{
    return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].text : QString();
}

QString TReceiveLogModel::StoredPath(int row) const
{
    return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].path : QString();
}

QString TReceiveLogModel::FileOf(int row, const QString &folder) const
{
    if (row < 0 || row >= Count())
        return {};
    if (!StoredPath(row).isEmpty())
        return StoredPath(row);
    const std::string name = ReceivedNameOf(Text(row).toStdString());
    return name.empty() ? QString() : folder + QString::fromStdString(name);
}

std::vector<std::string> TReceiveLogModel::Texts() const
{
    std::vector<std::string> lines;
    for (const TRow &row : rows_)
        lines.push_back(row.text.toStdString());
    return lines;
}

std::vector<std::string> TReceiveLogModel::PathLines() const
{
    std::vector<std::string> lines;
    for (const TRow &row : rows_)
        if (!row.path.isEmpty())
            lines.push_back(Escaped(row.text.toStdString()) + '\t' + Escaped(row.path.toStdString()));
    return lines;
}

void TReceiveLogModel::Load(const std::vector<std::string> &texts, const std::vector<std::string> &pathLines)
{
    // Paired by text, top to bottom: a list rewritten by a copy that keeps
    // no paths still finds the paths of the rows it kept.
    std::multimap<std::string, std::string> paths;
    for (const std::string &line : pathLines) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos)
            paths.emplace(Unescaped(line.substr(0, tab)), Unescaped(line.substr(tab + 1)));
    }
    beginResetModel();
    rows_.clear();
    for (const std::string &text : texts) {
        QString path;
        if (const auto it = paths.find(text); it != paths.end()) {
            path = QString::fromStdString(it->second);
            paths.erase(it);
        }
        rows_.push_back({QString::fromStdString(text), path});
    }
    endResetModel();
}

} // namespace dz::peer
