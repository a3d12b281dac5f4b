#pragma once
// Where a copy of the program keeps its state and, by default, what it
// receives. An installed copy shares its executable with every user of the
// computer, so it keeps each user's files in that user's own folders; a copy
// run from a build tree or a portable folder keeps them next to itself.
// Paths here are UTF-8 file-system paths.

#include <string>

namespace dz {

struct TProgramPlace {
    bool installed = false;    // the executable lies in the install prefix's binary folder
    std::string folder;        // the program folder: the state files live here; ends in '/'
    std::string receiveFolder; // the receive folder until the user chooses one; ends in '/'
};

// True when exe (an absolute path) lies directly in installedBinDir. Links
// are resolved on both sides, so /bin/x and /usr/bin/x on a merged /usr are
// one place. Whether the folder can be written decides nothing: root may
// write /usr/bin, and a read-only portable medium is still portable.
bool IsInstalledExecutable(const std::string &exe, const std::string &installedBinDir);

// The decision itself, without touching the disk beyond resolving links: an
// installed copy keeps its state in dataFolder and receives into
// downloadFolder; any other copy uses the executable's folder for both.
TProgramPlace ChooseProgramPlace(const std::string &exe, const std::string &installedBinDir,
                                 const std::string &dataFolder, const std::string &downloadFolder);

// The decision for the running process: its executable (/proc/self/exe),
// the user's data folder for the program (~/.local/share/Dizaruz/ by the XDG
// rules) and download folder, both through Qt's standard paths. An
// installed copy creates both folders when they are missing.
TProgramPlace ThisProgramPlace(const std::string &installedBinDir);

} // namespace dz
