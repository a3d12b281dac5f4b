#include "kept.h"

#include "util/filesink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace dz::peer {
namespace {

constexpr const char *kFolderName = ".dizaruz-resume/";
constexpr const char *kRecordHead = "Dizaruz kept part 1";
constexpr const char *kDataSuffix = ".part";
constexpr const char *kRecordSuffix = ".rec";
constexpr const char *kTempSuffix = ".rec.tmp";

std::string HexOf(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::optional<std::string> BytesOf(const std::string &hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        for (const char c : hex.substr(i, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else
                return std::nullopt;
        }
        out += static_cast<char>(value);
    }
    return out;
}

std::string IdOf(const TKeptKey &key)
{
    std::string text = key.from;
    text += '\0';
    text += key.name;
    text += '\0';
    text += std::to_string(key.size) + '\0' + std::to_string(key.modified);
    return THasher::Of(text).Hex();
}

// The record's lines before its check line.
std::string RecordBody(const TKeptKey &key, std::int64_t length, const std::string &state)
{
    return std::string(kRecordHead) + "\nfrom " + HexOf(key.from) + "\nname " + HexOf(key.name) + "\nsize " +
           std::to_string(key.size) + "\nmodified " + std::to_string(key.modified) + "\nlength " +
           std::to_string(length) + "\nstate " + HexOf(state) + "\n";
}

bool ReadWhole(const std::string &path, std::string &out, std::size_t most)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    out.clear();
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > most) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

bool WriteDurably(const std::string &path, const std::string &text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == text.size() && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bool EndsWith(const std::string &text, const char *suffix)
{
    const std::string s = suffix;
    return text.size() > s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

} // namespace

std::string KeptFolder(const std::string &receiveFolder)
{
    std::string folder = receiveFolder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + kFolderName;
}

TKeptPaths KeptPathsFor(const std::string &receiveFolder, const TKeptKey &key)
{
    const std::string stem = KeptFolder(receiveFolder) + IdOf(key);
    return {stem + kDataSuffix, stem + kRecordSuffix};
}

namespace {

bool IsRealFolder(std::string path)
{
    // With its final '/', lstat would follow a link.
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool MakeKeptFolder(const std::string &receiveFolder)
{
    const std::string folder = KeptFolder(receiveFolder);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return IsRealFolder(folder);
}

std::optional<TKeptPart> FindKept(const std::string &receiveFolder, const TKeptKey &key)
{
    if (!IsRealFolder(KeptFolder(receiveFolder)))
        return std::nullopt;
    const TKeptPaths paths = KeptPathsFor(receiveFolder, key);
    std::string text;
    if (!ReadWhole(paths.record, text, 1 << 16))
        return std::nullopt;
    const auto bad = [&]() -> std::optional<TKeptPart> {
        ForgetKept(receiveFolder, key);
        return std::nullopt;
    };
    // The check line covers everything before it.
    const std::size_t checkAt = text.rfind("check ");
    if (checkAt == std::string::npos || text.substr(checkAt) != "check " + THasher::Of(text.substr(0, checkAt)).Hex() + "\n")
        return bad();
    std::map<std::string, std::string> fields;
    std::size_t at = text.find('\n') + 1;
    if (text.substr(0, at) != std::string(kRecordHead) + "\n")
        return bad();
    while (at < checkAt) {
        const std::size_t end = text.find('\n', at);
        const std::size_t blank = text.find(' ', at);
        if (end == std::string::npos || blank == std::string::npos || blank > end)
            return bad();
        fields[text.substr(at, blank - at)] = text.substr(blank + 1, end - blank - 1);
        at = end + 1;
    }
    TKeptPart part;
    try {
        const auto state = BytesOf(fields["state"]);
        part.length = std::stoll(fields.at("length"));
        if (BytesOf(fields["from"]) != key.from || BytesOf(fields["name"]) != key.name ||
            std::stoll(fields.at("size")) != key.size || std::stoll(fields.at("modified")) != key.modified || !state ||
            !part.hash.RestoreState(*state) || part.length <= 0 || part.length > key.size ||
            static_cast<std::int64_t>(part.hash.Length()) != part.length)
            return bad();
    } catch (const std::exception &) {
        return bad();
    }
    struct stat st {};
    if (::lstat(paths.data.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < part.length)
        return bad();
    part.data = paths.data;
    return part;
}

bool RecordKept(const std::string &receiveFolder, const TKeptKey &key, std::int64_t length, const THasher &hash)
{
    if (!IsRealFolder(KeptFolder(receiveFolder)))
        return false;
    const TKeptPaths paths = KeptPathsFor(receiveFolder, key);
    const std::string body = RecordBody(key, length, hash.SaveState());
    const std::string temp = paths.record.substr(0, paths.record.size() - std::string(kRecordSuffix).size()) + kTempSuffix;
    if (!WriteDurably(temp, body + "check " + THasher::Of(body).Hex() + "\n") ||
        ::rename(temp.c_str(), paths.record.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return TFileSink::SyncFolder(KeptFolder(receiveFolder));
}

void ForgetKept(const std::string &receiveFolder, const TKeptKey &key)
{
    if (!IsRealFolder(KeptFolder(receiveFolder)))
        return;
    const TKeptPaths paths = KeptPathsFor(receiveFolder, key);
    // The record first: data without a record is never taken for a part.
    ::unlink(paths.record.c_str());
    ::unlink(paths.data.c_str());
}

bool KeptBytesIntact(const std::string &path, std::int64_t length, const THash128 &hash, const std::atomic<bool> *stop)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    ::posix_fadvise(fd, 0, length, POSIX_FADV_SEQUENTIAL);
    std::vector<char> buffer(1 << 20);
    THasher hasher;
    std::int64_t done = 0;
    while (done < length && !(stop && *stop)) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - done, static_cast<std::int64_t>(buffer.size())));
        const ssize_t n = ::pread(fd, buffer.data(), want, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        hasher.Update(buffer.data(), static_cast<std::size_t>(n));
        done += n;
    }
    ::close(fd);
    return done == length && hasher.Digest() == hash;
}

int PruneKept(const std::string &receiveFolder, TKeptLimits limits)
{
    const std::string folder = KeptFolder(receiveFolder);
    DIR *dir = IsRealFolder(folder) ? ::opendir(folder.c_str()) : nullptr;
    if (!dir)
        return 0;
    struct TEntry {
        bool data = false, record = false;
        std::int64_t size = 0;
        std::time_t written = 0;
    };
    std::map<std::string, TEntry> parts;
    std::vector<std::string> temps;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (EndsWith(name, kTempSuffix)) {
            temps.push_back(name);
        } else if (EndsWith(name, kRecordSuffix)) {
            TEntry &e = parts[name.substr(0, name.size() - std::string(kRecordSuffix).size())];
            e.record = true;
            e.written = st.st_mtime;
        } else if (EndsWith(name, kDataSuffix)) {
            TEntry &e = parts[name.substr(0, name.size() - std::string(kDataSuffix).size())];
            e.data = true;
            e.size = st.st_size;
        }
    }
    ::closedir(dir);
    for (const std::string &temp : temps)
        ::unlink((folder + temp).c_str());
    const auto remove = [&](const std::string &stem) {
        ::unlink((folder + stem + kRecordSuffix).c_str());
        ::unlink((folder + stem + kDataSuffix).c_str());
    };
    int removed = 0;
    const std::time_t now = std::time(nullptr);
    std::vector<std::pair<std::time_t, std::string>> left; // oldest first, once sorted
    std::int64_t total = 0;
    for (const auto &[stem, e] : parts) {
        if (!e.data || !e.record || now - e.written > limits.maxAge.count()) {
            remove(stem);
            removed += e.data ? 1 : 0;
            continue;
        }
        left.emplace_back(e.written, stem);
        total += e.size;
    }
    struct statvfs vfs {};
    if (!left.empty() && ::statvfs(folder.c_str(), &vfs) == 0) {
        const double budget = static_cast<double>(vfs.f_bavail) * static_cast<double>(vfs.f_frsize) * limits.share;
        std::sort(left.begin(), left.end());
        for (const auto &[written, stem] : left) {
            if (static_cast<double>(total) <= budget)
                break;
            total -= parts[stem].size;
            remove(stem);
            ++removed;
        }
    }
    return removed;
}

} // namespace dz::peer
