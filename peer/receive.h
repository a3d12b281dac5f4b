#pragma once
// Where a received stream is stored, decided without widgets: the name the
// peer announced made safe, the receive folder checked, and the path that
// results. Names are Windows-1251 as the peer sent them; folders and paths
// are UTF-8, as the file system has them.

#include <cstdint>
#include <string>
#include <vector>

namespace dz::peer {

// The announced name reduced to a name that stays inside the receive
// folder: its last component (after '/' or '\'), without control
// characters, trimmed; "" when nothing safe is left ("", "." or "..").
std::string SafeReceivedName(const std::string &announced);

struct TStorePlan {
    std::string folder; // the folder the file goes into, ending in '/' (UTF-8)
    std::string name;   // the file's name there, as listed (Windows-1251), or UTF-8 when utf8
    bool utf8 = false;
    std::string path() const; // UTF-8
};

// The receive folder text trimmed; the program folder when that is empty or
// names no existing folder. Always ends in exactly one '/'.
std::string ReceiveFolderFor(const std::string &folderText, const std::string &programFolder);

// Where a stream announced as pending goes; the name is empty when nothing
// is to be stored (no safe name). A file of the program's own (any of
// ownFiles, full paths) is never replaced: the stream goes to the first free
// variant of its name instead ("Dizaruz-1.ini").
// utf8: pending is a UTF-8 name (from a copy with Folders), taken only when
// it passes CheckReceivedPath as one segment.
TStorePlan PlanStore(const std::string &pending, const std::string &folderText, const std::string &programFolder,
                     const std::vector<std::string> &ownFiles = {}, bool utf8 = false);

// Whether a stream of size announced bytes (from sFrom, to be stored as
// announced, both Windows-1251) fits into folder (UTF-8, as
// ReceiveFolderFor gives it) with the disk's reserve kept free: "" when it
// does or the space cannot be told, else the receiving user's notice
// (UTF-8), and the stream is to be refused before a byte is written.
std::string SpaceRefusal(const std::string &sFrom, const std::string &announced, std::int64_t size,
                         const std::string &folder);

// Whether two paths name the same file (also when either does not exist yet).
bool SameFile(const std::string &a, const std::string &b);

} // namespace dz::peer
