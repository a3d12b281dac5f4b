#pragma once
// Where a received stream is stored, decided without widgets: the name the
// peer announced made safe, the receive folder checked, and the path that
// results. Texts are Windows-1251.

#include <string>

namespace dz::peer {

// The announced name reduced to a name that stays inside the receive
// folder: its last component (after '/' or '\'), without control
// characters, trimmed; "" when nothing safe is left ("", "." or "..").
std::string SafeReceivedName(const std::string &announced);

struct TStorePlan {
    std::string folder; // the folder the file goes into, ending in '/'
    std::string name;   // the file's name there, as listed
    std::string path() const { return folder + name; }
};

// The receive folder text trimmed; the program folder when that is empty or
// names no existing folder. Always ends in exactly one '/'.
std::string ReceiveFolderFor(const std::string &folderText, const std::string &programFolder);

// Where a stream of size bytes announced as pending goes; the name is empty
// when nothing is to be stored (an empty stream, no safe name).
TStorePlan PlanStore(const std::string &pending, const std::string &folderText,
                     const std::string &programFolder, long long size);

} // namespace dz::peer
