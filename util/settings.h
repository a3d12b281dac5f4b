#pragma once
// TSettingsStore: the program's own per-user settings, beside the design's
// INI (which keeps only its own keys). One JSON object in one file of the
// program folder, rewritten whole and atomically on every change, so a
// crash leaves the old or the new file, never half of one.
//
// Keys are plain names, grouped by a dot where it helps ("window.size",
// "computers.remembered", "pins"). Values are JSON values; a caller owns
// the shape of its own keys and must accept any value back (the file is the
// user's, and may have been edited or damaged).
//
// Any thread may call; each call takes the store's lock. A write happens on
// the calling thread: callers on the window's thread hand it to a worker
// (see Save()).

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <mutex>
#include <string>

namespace dz {

class TSettingsStore {
public:
    // The store's file name in the program folder.
    static constexpr const char *kFileName = "Dizaruz-settings.json";

    // Reads path (a UTF-8 file-system path) when it exists. A file that is
    // not a JSON object is kept aside as path + ".damaged" and the store
    // starts empty; Damaged() tells so once. An empty path: a store that
    // remembers nothing on disk (tests, a read-only medium).
    explicit TSettingsStore(std::string path = {});
    TSettingsStore(const TSettingsStore &) = delete;
    TSettingsStore &operator=(const TSettingsStore &) = delete;

    QJsonValue Value(const QString &key) const;
    // Sets (or, with an undefined value, removes) a key in memory; Save()
    // writes it. Returns whether anything changed.
    bool SetValue(const QString &key, const QJsonValue &value);
    // Writes the store when it changed since the last write. Returns false
    // when the file could not be written (the values stay in memory and the
    // next Save tries again). Never raises.
    bool Save();
    // SetValue and Save at once.
    bool Put(const QString &key, const QJsonValue &value);

    const std::string &Path() const { return path_; }
    // True when the file held something that could not be read.
    bool Damaged() const;

private:
    std::string path_;
    mutable std::mutex mutex_;
    QJsonObject root_;
    bool dirty_ = false;
    bool damaged_ = false;
};

} // namespace dz
