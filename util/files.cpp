#include "files.h"

#include "codepage.h"
#include "errors.h"
#include "text.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz {
namespace {

bool IsDir(const std::string &fsPath)
{
    struct stat st {};
    return ::stat(fsPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The parent of an absolute path ("/a/b" -> "/a", "/a" -> "/").
std::string ParentOf(const std::string &path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const auto slash = p.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return p.substr(0, slash);
}

bool WriteAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the pieces in order. A large piece that starts on a page boundary
// at a page-aligned offset goes to the disk unbuffered: a big file then
// costs no second copy in the page cache and leaves the fsync little to do.
// Everything else, and every file system that refuses unbuffered writes,
// goes through the cache as usual.
bool WritePieces(int fd, std::span<const std::string_view> pieces)
{
    constexpr std::size_t kAlign = 4096;
    constexpr std::size_t kDirectMin = std::size_t {1} << 16;
    const int flags = ::fcntl(fd, F_GETFL);
    bool direct = false;
    bool refused = flags < 0;
    const auto setDirect = [&](bool on) {
        if (direct == on)
            return true;
        if (::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) != 0)
            return false;
        direct = on;
        return true;
    };
    std::uint64_t offset = 0;
    for (const std::string_view piece : pieces) {
        const char *data = piece.data();
        const std::size_t size = piece.size();
        const std::size_t aligned = size & ~(kAlign - 1);
        std::size_t done = 0;
        if (!refused && offset % kAlign == 0 && reinterpret_cast<std::uintptr_t>(data) % kAlign == 0 &&
            aligned >= kDirectMin) {
            if (!setDirect(true))
                refused = true;
            while (direct && done < aligned) {
                const ssize_t n = ::write(fd, data + done, aligned - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno == EINVAL) {
                    refused = true; // alignment this file system does not take
                    break;
                }
                if (n <= 0)
                    return false;
                done += static_cast<std::size_t>(n);
                offset += static_cast<std::uint64_t>(n);
                if (static_cast<std::size_t>(n) % kAlign != 0)
                    break; // a short write: the rest goes through the cache
            }
        }
        if (done < size) {
            if (!setDirect(false))
                return false;
            if (!WriteAll(fd, data + done, size - done))
                return false;
            offset += size - done;
        }
    }
    return true;
}

} // namespace

bool FileExists(const std::string &path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string &path)
{
    const std::string p = TrimText(path);
    return !p.empty() && IsDir(p);
}

bool IsDriveWritable(const std::string &path)
{
    const std::string p = TrimText(path);
    if (p.empty() || p.front() != '/')
        return false;
    std::string folder = p;
    while (!IsDir(folder)) {
        if (folder == "/")
            return false;
        folder = ParentOf(folder);
    }
    if (folder.back() != '/')
        folder += '/';
    const std::string probe = UniqueFileName(folder + "~!789.~~~");
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string UniqueFileName(const std::string &path)
{
    if (!FileExists(path))
        return path;
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    for (int n = 1; n <= 999998; ++n) {
        std::string candidate = folder + base + "-" + std::to_string(n) + ext;
        if (!FileExists(candidate))
            return candidate;
    }
    return path;
}

void NormalizeFolderPath(std::string &folder)
{
    TrimBlanks(folder);
    if (folder.empty())
        return;
    if (folder.back() != '/')
        folder += '/';
}

std::string ExecutablePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramFolder()
{
    const std::string exe = ExecutablePath();
    if (exe.empty())
        return "./";
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string FileNameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadFileBytes(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        throw EFileError("Cannot open file " + path);
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            throw EFileError("Cannot open file " + path);
        }
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void WriteFileAtomic(const std::string &path, std::span<const std::string_view> pieces, unsigned mode)
{
    const std::string &target = path;
    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string tmp = dir + ".~dz-XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EFileError("Cannot create file " + path);
    // The permissions an ordinary new file of that mode would get; set
    // before any byte is written, so a secret is never readable by others.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, static_cast<mode_t>(mode & 0777) & ~mask);
    const bool ok = WritePieces(fd, pieces) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw EFileError("Cannot create file " + path);
    }
}

std::vector<std::string> SplitLines(const std::string &bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(bytes, start, i - start);
            i += (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < bytes.size())
        lines.emplace_back(bytes, start, bytes.size() - start);
    return lines;
}

namespace {
const std::string kUtf8Mark = "\xEF\xBB\xBF";
} // namespace

std::string EncodeStateText(const std::string &utf8)
{
    // A Windows copy reads Windows-1251; only what it cannot say is marked.
    bool fits = true;
    std::string cp1251 = Utf8ToCp1251(utf8, &fits);
    return fits ? cp1251 : kUtf8Mark + utf8;
}

std::string DecodeStateText(const std::string &bytes)
{
    if (bytes.compare(0, kUtf8Mark.size(), kUtf8Mark) == 0)
        return bytes.substr(kUtf8Mark.size());
    return Cp1251ToUtf8(bytes);
}

std::vector<std::string> LoadLines(const std::string &path)
{
    return SplitLines(DecodeStateText(ReadFileBytes(path)));
}

void SaveLines(const std::string &path, const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &line : lines) {
        text += line;
        text += "\r\n";
    }
    WriteFileAtomic(path, EncodeStateText(text));
}

} // namespace dz
