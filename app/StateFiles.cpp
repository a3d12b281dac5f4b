#include "StateFiles.h"

#include "util/files.h"
#include "util/ini.h"

#include <utility>

TStateFiles::TStateFiles(std::string programFolder) : folder_(std::move(programFolder)) {}

bool TStateFiles::writable() const
{
    return dz::IsDriveWritable(folder_);
}

bool TStateFiles::saveLines(const std::string &file, const std::vector<std::string> &lines) const
{
    if (!writable())
        return false;
    dz::SaveLines(file, lines);
    return true;
}

std::vector<std::string> TStateFiles::loadLines(const std::string &file)
{
    if (!dz::FileExists(file))
        return {};
    return dz::LoadLines(file);
}

std::string TStateFiles::readIni(const std::string &section, const std::string &key,
                                 const std::string &def) const
{
    return dz::IniReadString(iniFile(), section, key, def);
}

void TStateFiles::writeIni(const std::string &section, const std::string &key, const std::string &value) const
{
    // IniWriteString asks IsDriveWritable about the INI file's own path,
    // which lies in the program folder: the same guard as for the lists.
    dz::IniWriteString(iniFile(), section, key, value);
}
