#include "receive.h"

#include "util/files.h"
#include "util/text.h"

namespace dz::peer {

std::string SafeReceivedName(const std::string &announced)
{
    // A Windows peer may send either separator; only the last part counts.
    std::string name = announced;
    const auto cut = name.find_last_of("/\\");
    if (cut != std::string::npos)
        name.erase(0, cut + 1);
    std::string clean;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 32 && c != 127)
            clean += c;
    TrimBlanks(clean);
    if (clean.empty() || clean == "." || clean == "..")
        return {};
    return clean;
}

std::string ReceiveFolderFor(const std::string &folderText, const std::string &programFolder)
{
    std::string folder = TrimText(folderText);
    if (folder.empty() || !FolderExists(folder))
        folder = programFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder != "/")
        folder += '/';
    return folder;
}

TStorePlan PlanStore(const std::string &pending, const std::string &folderText, const std::string &programFolder,
                     long long size)
{
    TStorePlan plan;
    plan.folder = ReceiveFolderFor(folderText, programFolder);
    if (size > 0)
        plan.name = SafeReceivedName(pending);
    return plan;
}

} // namespace dz::peer
