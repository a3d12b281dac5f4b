#pragma once
// File, folder and path helpers. Paths are UTF-8, exactly as the file system
// has them, whatever characters they hold; only texts that go to a peer are
// Windows-1251.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dz {

// True when the path names an existing regular file (folders do not count).
bool FileExists(const std::string &path);
// True when the trimmed path is not empty and names an existing folder.
bool FolderExists(const std::string &path);

// True when a new file can be created where the path points: a probe file
// is created and deleted in the folder the path names (or, for a path that
// names a file or nothing yet, its nearest existing parent folder). A blank
// or relative path is false and touches no disk.
bool IsDriveWritable(const std::string &path);

// The path itself, or the first free variant "<base>-<n><ext>" (n = 1..999998).
std::string UniqueFileName(const std::string &path);

// Trims the folder text and ends it with '/'. Letter case is kept: Linux
// file names are case-sensitive, so upper-casing would name another folder.
void NormalizeFolderPath(std::string &folder);

// The folder of the running executable, ending in '/'.
std::string ProgramFolder();
// The running executable's own path.
std::string ExecutablePath();

// The last component of a path: the text after its last '/'.
std::string FileNameOf(const std::string &path);

// Whole-file reads and writes. A write goes to a temporary file in the same
// folder that is renamed over the target, so a crash or a full disk never
// leaves a truncated file where the old one was. mode: the permissions of
// the new file, less the umask (0600 for a file only its user may read).
// Raises EFileError "Cannot open file <path>" / "Cannot create file <path>".
std::string ReadFileBytes(const std::string &path);
// The pieces are written one after the other; large page-aligned pieces go
// to the disk without passing through the page cache.
void WriteFileAtomic(const std::string &path, std::span<const std::string_view> pieces, unsigned mode = 0666);
inline void WriteFileAtomic(const std::string &path, const char *data, std::size_t size, unsigned mode = 0666)
{
    const std::string_view piece(data, size);
    WriteFileAtomic(path, std::span<const std::string_view>(&piece, 1), mode);
}
inline void WriteFileAtomic(const std::string &path, const std::string &bytes, unsigned mode = 0666)
{
    WriteFileAtomic(path, bytes.data(), bytes.size(), mode);
}

// The bytes of a state file for a UTF-8 text: Windows-1251 whenever every
// character has a Windows-1251 form, else UTF-8 after a byte-order mark.
std::string EncodeStateText(const std::string &utf8);
// The UTF-8 text of a state file's bytes, written either way.
std::string DecodeStateText(const std::string &bytes);

// Text lines of a state file, UTF-8 in the program: CR, LF and CR LF all
// end a line on reading; every line is ended by CR LF on writing.
std::vector<std::string> SplitLines(const std::string &bytes);
std::vector<std::string> LoadLines(const std::string &path);
void SaveLines(const std::string &path, const std::vector<std::string> &lines);

} // namespace dz
