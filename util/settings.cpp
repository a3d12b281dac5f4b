#include "util/settings.h"

#include "util/files.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cstdio>

namespace dz {

TSettingsStore::TSettingsStore(std::string path) : path_(std::move(path))
{
    if (path_.empty() || !FileExists(path_))
        return;
    std::string bytes;
    try {
        bytes = ReadFileBytes(path_);
    } catch (const std::exception &) {
        damaged_ = true;
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        damaged_ = true;
        // Keep what the user had, for a look; the next save starts afresh.
        std::rename(path_.c_str(), (path_ + ".damaged").c_str());
        return;
    }
    root_ = doc.object();
}

QJsonValue TSettingsStore::Value(const QString &key) const
{
    std::lock_guard lock(mutex_);
    return root_.value(key);
}

bool TSettingsStore::SetValue(const QString &key, const QJsonValue &value)
{
    std::lock_guard lock(mutex_);
    if (value.isUndefined()) {
        if (!root_.contains(key))
            return false;
        root_.remove(key);
    } else {
        if (root_.value(key) == value)
            return false;
        root_.insert(key, value);
    }
    dirty_ = true;
    return true;
}

bool TSettingsStore::Save()
{
    std::lock_guard lock(mutex_);
    if (!dirty_ || path_.empty())
        return true;
    const QByteArray bytes = QJsonDocument(root_).toJson(QJsonDocument::Indented);
    try {
        WriteFileAtomic(path_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    } catch (const std::exception &) {
        return false;
    }
    dirty_ = false;
    return true;
}

bool TSettingsStore::Put(const QString &key, const QJsonValue &value)
{
    SetValue(key, value);
    return Save();
}

bool TSettingsStore::Damaged() const
{
    std::lock_guard lock(mutex_);
    return damaged_;
}

} // namespace dz
