#include "place.h"

#include <QDir>
#include <QStandardPaths>

#include <climits>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace dz {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The folder with its links resolved as far as it exists.
fs::path Resolved(const std::string &folder)
{
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(folder), ec);
    if (ec)
        p = fs::path(folder).lexically_normal();
    // "/usr/bin/" and "/usr/bin" must compare equal.
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path())
        p = p.parent_path();
    return p;
}

std::string FolderOf(const std::string &exe)
{
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::string ExecutablePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

bool IsInstalledExecutable(const std::string &exe, const std::string &installedBinDir)
{
    if (exe.empty() || exe.front() != '/' || installedBinDir.empty() || installedBinDir.front() != '/')
        return false;
    return Resolved(FolderOf(exe)) == Resolved(installedBinDir);
}

TProgramPlace ChooseProgramPlace(const std::string &exe, const std::string &installedBinDir,
                                 const std::string &dataFolder, const std::string &downloadFolder)
{
    TProgramPlace place;
    place.installed = IsInstalledExecutable(exe, installedBinDir);
    if (place.installed) {
        place.folder = WithSlash(dataFolder);
        place.receiveFolder = WithSlash(downloadFolder.empty() ? dataFolder : downloadFolder);
    } else {
        place.folder = FolderOf(exe);
        place.receiveFolder = place.folder;
    }
    return place;
}

TProgramPlace ThisProgramPlace(const std::string &installedBinDir)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                         + QStringLiteral("/Dizaruz");
    const QString download = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    TProgramPlace place = ChooseProgramPlace(ExecutablePath(), installedBinDir, data.toStdString(),
                                             download.toStdString());
    if (place.installed) {
        // Created on first use; a folder that cannot be made shows up later
        // as a program that remembers nothing, as on a read-only medium.
        QDir().mkpath(QString::fromStdString(place.folder));
        QDir().mkpath(QString::fromStdString(place.receiveFolder));
    }
    return place;
}

} // namespace dz
