#pragma once
// Paths that a peer sends for the files of a folder, checked before
// anything is created, and files and folders created strictly beneath the
// receive folder.
//
// A received path is relative, of UTF-8 segments joined by '/'. Every
// segment is checked as a bare received name is, and lengths within the
// system's limits. Even a checked path is only ever resolved beneath the
// receive folder without following any symbolic link (openat2 with
// RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS), so a link that exists there, or
// appears there meanwhile, leads nowhere outside it.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dz {

// What makes a received path unusable.
enum class TPathFault {
    None,
    Empty,          // "" as a whole
    Rooted,         // begins with '/'
    EmptySegment,   // "a//b", or a final '/'
    Dot,            // a segment "."
    DotDot,         // a segment ".."
    Nul,            // a NUL byte
    Control,        // another control character (it would break the list files' lines)
    NotUtf8,        // not valid UTF-8 (overlong forms and surrogates included)
    SegmentTooLong, // a segment above NAME_MAX bytes
    TooLong,        // the whole, with the receive folder, at PATH_MAX bytes or above
};

// An English text of the fault, for a notice ("a segment is \"..\"").
const char *PathFaultText(TPathFault fault);

// Checks path; folderLength: the length of the receive folder's path that
// it will be joined to (with its final '/'), counted in the PATH_MAX limit.
TPathFault CheckReceivedPath(std::string_view path, std::size_t folderLength = 0);

// The segments of a path (split at '/', nothing dropped).
std::vector<std::string> PathSegments(std::string_view path);

// A file descriptor, closed once when it goes. -1: none.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    TFd(TFd &&other) noexcept : fd_(other.Release()) {}
    TFd &operator=(TFd &&other) noexcept;
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    ~TFd();
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The receive folder, opened once; every path is taken beneath it. The
// folder itself may be reached through symbolic links (the user chose it);
// nothing beneath it is. Not thread-affine: its calls only read the handle.
class TBeneath {
public:
    // folder: a UTF-8 path, with or without a final '/'. Raises EFileError
    // "Cannot open file <folder>" when it is no folder that can be opened.
    explicit TBeneath(const std::string &folder);

    // The folder, ending in '/'.
    const std::string &Folder() const { return folder_; }
    int Fd() const { return root_.Get(); }

    // Creates the missing folders of relative (a checked path), one segment
    // at a time, an existing folder being taken as it is; returns the last,
    // open. Raises EFileError "Cannot create folder <path>" when a segment
    // is a file, a symbolic link, or cannot be made. A folder made here
    // survives a crash once its parent is flushed (TFileSink::SyncFolder,
    // or the file system's flush in TFileSink::CommitBatch).
    TFd MakeFolders(const std::string &relative) const;

    // Creates a new file at relative (its folder exists), open for writing;
    // never opens what exists. Raises EFileError "Cannot create file <path>".
    TFd CreateFile(const std::string &relative) const;

    // Opens what exists at relative (flags as for open, O_CLOEXEC added);
    // -1 when it is absent or reached only through a symbolic link.
    TFd Open(const std::string &relative, int flags) const;

    // Creates a top-level folder for a received folder called name (one
    // checked segment): name itself when nothing of that name exists there
    // and it is none of ownFiles (full paths of the program's own files),
    // else the first free variant "name-1", "name-2", ... Nothing existing is
    // replaced. Returns the name created; raises EFileError "Cannot create
    // folder <path>" when none can be.
    std::string ClaimTopFolder(const std::string &name, const std::vector<std::string> &ownFiles = {}) const;

    // A path for the file-system calls that take paths (such as TFileSink)
    // that names the opened folder itself, whatever its path now leads to:
    // "/proc/self/fd/<fd>/" + relative.
    static std::string Through(const TFd &folder, const std::string &relative = {});

private:
    TFd root_;
    std::string folder_;
};

} // namespace dz
