#include "safepath.h"

#include "util/errors.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace dz {
namespace {

bool IsUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// openat2 beneath dirfd without following any symbolic link; -1 and errno
// on failure. The kernel asks for a retry when a rename raced the lookup.
int OpenBeneath(int dirfd, const std::string &path, std::uint64_t flags, std::uint64_t mode = 0)
{
    open_how how {};
    how.flags = flags | O_CLOEXEC;
    how.mode = mode;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dirfd, path.c_str(), &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        if (errno != EINTR && errno != EAGAIN)
            break;
    }
    return -1;
}

} // namespace

const char *PathFaultText(TPathFault fault)
{
    switch (fault) {
    case TPathFault::None: return "";
    case TPathFault::Empty: return "the path is empty";
    case TPathFault::Rooted: return "the path begins at the root";
    case TPathFault::EmptySegment: return "a segment is empty";
    case TPathFault::Dot: return "a segment is \".\"";
    case TPathFault::DotDot: return "a segment is \"..\"";
    case TPathFault::Nul: return "the path holds a NUL";
    case TPathFault::Control: return "the path holds a control character";
    case TPathFault::NotUtf8: return "the path is not UTF-8";
    case TPathFault::SegmentTooLong: return "a segment is too long";
    case TPathFault::TooLong: return "the path is too long";
    }
    return "?";
}

TPathFault CheckReceivedPath(std::string_view path, std::size_t folderLength)
{
    if (path.empty())
        return TPathFault::Empty;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0)
            return TPathFault::Nul;
        if (u < 0x20 || u == 0x7F)
            return TPathFault::Control;
    }
    if (!IsUtf8(path))
        return TPathFault::NotUtf8;
    if (path.front() == '/')
        return TPathFault::Rooted;
    for (const std::string &segment : PathSegments(path)) {
        if (segment.empty())
            return TPathFault::EmptySegment;
        if (segment == ".")
            return TPathFault::Dot;
        if (segment == "..")
            return TPathFault::DotDot;
        if (segment.size() > NAME_MAX)
            return TPathFault::SegmentTooLong;
    }
    // PATH_MAX counts the final NUL.
    if (folderLength + path.size() >= PATH_MAX)
        return TPathFault::TooLong;
    return TPathFault::None;
}

std::vector<std::string> PathSegments(std::string_view path)
{
    std::vector<std::string> segments;
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = path.find('/', from);
        segments.emplace_back(path.substr(from, slash == std::string_view::npos ? path.npos : slash - from));
        if (slash == std::string_view::npos)
            return segments;
        from = slash + 1;
    }
}

TFd &TFd::operator=(TFd &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

TFd::~TFd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

TBeneath::TBeneath(const std::string &folder) : folder_(folder)
{
    if (folder_.empty() || folder_.back() != '/')
        folder_ += '/';
    root_ = TFd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root_)
        throw EFileError("Cannot open file " + folder_);
}

TFd TBeneath::MakeFolders(const std::string &relative) const
{
    TFd current(OpenBeneath(root_.Get(), ".", O_RDONLY | O_DIRECTORY));
    if (relative.empty())
        return current;
    std::string done;
    for (const std::string &segment : PathSegments(relative)) {
        done += done.empty() ? segment : "/" + segment;
        // mkdirat does not follow a link in the last place, and the open
        // below refuses one: a link where a folder should be stops here.
        if (::mkdirat(current.Get(), segment.c_str(), 0777) != 0 && errno != EEXIST)
            current = TFd();
        if (current)
            current = TFd(OpenBeneath(current.Get(), segment, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        if (!current)
            throw EFileError("Cannot create folder " + folder_ + done);
    }
    return current;
}

TFd TBeneath::CreateFile(const std::string &relative) const
{
    TFd file(OpenBeneath(root_.Get(), relative, O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!file)
        throw EFileError("Cannot create file " + folder_ + relative);
    return file;
}

TFd TBeneath::Open(const std::string &relative, int flags) const
{
    return TFd(OpenBeneath(root_.Get(), relative, static_cast<std::uint64_t>(flags)));
}

std::string TBeneath::ClaimTopFolder(const std::string &name, const std::vector<std::string> &ownFiles) const
{
    if (CheckReceivedPath(name) != TPathFault::None || name.find('/') != std::string::npos)
        throw EFileError("Cannot create folder " + folder_ + name);
    struct stat root {};
    ::fstat(root_.Get(), &root);
    // One of ours by its name in this folder, whether it exists yet or not.
    const auto isOwn = [&](const std::string &candidate) {
        for (const std::string &own : ownFiles) {
            const std::size_t slash = own.find_last_of('/');
            if (slash == std::string::npos || own.substr(slash + 1) != candidate)
                continue;
            struct stat folder {};
            if (::stat(slash == 0 ? "/" : own.substr(0, slash).c_str(), &folder) == 0 &&
                folder.st_dev == root.st_dev && folder.st_ino == root.st_ino)
                return true;
        }
        return false;
    };
    for (int n = 0; n < 10000; ++n) {
        const std::string candidate = n == 0 ? name : name + "-" + std::to_string(n);
        if (candidate.size() > NAME_MAX)
            break;
        if (isOwn(candidate))
            continue;
        if (::mkdirat(root_.Get(), candidate.c_str(), 0777) == 0)
            return candidate;
        if (errno != EEXIST)
            break;
    }
    throw EFileError("Cannot create folder " + folder_ + name);
}

std::string TBeneath::Through(const TFd &folder, const std::string &relative)
{
    return "/proc/self/fd/" + std::to_string(folder.Get()) + "/" + relative;
}

} // namespace dz
