#include "receive.h"

#include "util/codepage.h"
#include "util/files.h"
#include "util/problem.h"
#include "util/safepath.h"
#include "util/space.h"
#include "util/text.h"

#include <QString>

#include <algorithm>
#include <filesystem>

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

std::string TStorePlan::path() const
{
    return folder + (utf8 ? name : Cp1251ToUtf8(name));
}

bool SameFile(const std::string &a, const std::string &b)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec))
        return fs::equivalent(a, b, ec);
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

TStorePlan PlanStore(const std::string &pending, const std::string &folderText, const std::string &programFolder,
                     const std::vector<std::string> &ownFiles, bool utf8)
{
    TStorePlan plan;
    plan.folder = ReceiveFolderFor(folderText, programFolder);
    plan.utf8 = utf8;
    if (utf8 && (CheckReceivedPath(pending, plan.folder.size()) != TPathFault::None ||
                 pending.find('/') != std::string::npos))
        return plan;
    plan.name = SafeReceivedName(pending);
    if (plan.name.empty())
        return plan;
    const auto own = [&](const std::string &path) {
        return std::any_of(ownFiles.begin(), ownFiles.end(), [&](const std::string &f) { return SameFile(path, f); });
    };
    if (!own(plan.path()))
        return plan;
    // The first variant that is neither taken nor one of ours.
    const auto dot = plan.name.rfind('.');
    const std::string base = dot == std::string::npos || dot == 0 ? plan.name : plan.name.substr(0, dot);
    const std::string ext = base.size() == plan.name.size() ? std::string() : plan.name.substr(dot);
    for (int n = 1; n < 1000000; ++n) {
        const std::string name = base + "-" + std::to_string(n) + ext;
        const std::string path = plan.folder + (utf8 ? name : Cp1251ToUtf8(name));
        if (!own(path) && !FileExists(path)) {
            plan.name = name;
            return plan;
        }
    }
    plan.name.clear(); // nothing free: better nothing than one of ours
    return plan;
}

std::string SpaceRefusal(const std::string &sFrom, const std::string &announced, std::int64_t size,
                         const std::string &folder)
{
    const TSpace space = SpaceFor(folder, size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (space.fits())
        return {};
    return TProblem{TProblemKind::NoSpaceHere, ToQString(OneLine(announced)).toStdString(),
                    ToQString(OneLine(sFrom)).toStdString(), {space.needed, space.free, space.reserve}}
        .Encode();
}

} // namespace dz::peer
