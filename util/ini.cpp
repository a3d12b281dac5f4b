#include "ini.h"

#include "errors.h"
#include "files.h"
#include "text.h"

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION // template bodies for our byte-string configuration
#include <SimpleIni.h>

namespace dz {
namespace {

constexpr std::size_t kMaxValue = 2047;

// CSimpleIniA compares section and key names without regard to case, as
// Windows profile files do.
// Loads the file into ini; a missing or unreadable file leaves it empty.
void LoadInto(CSimpleIniA &ini, const std::string &file)
{
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    ini.SetSpaces(false);
    if (!FileExists(file))
        return;
    std::string bytes;
    try {
        bytes = ReadFileBytes(file);
    } catch (const EFileError &) {
        return;
    }
    const std::string text = DecodeStateText(bytes);
    ini.LoadData(text.data(), text.size());
}

} // namespace

std::string IniReadString(const std::string &file, const std::string &section,
                          const std::string &key, const std::string &def)
{
    CSimpleIniA ini;
    LoadInto(ini, file);
    const char *value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    std::string result = value ? std::string(value) : def;
    if (value && result.size() > kMaxValue)
        result.resize(kMaxValue);
    TrimBlanks(result);
    return result;
}

void IniWriteString(const std::string &file, const std::string &section,
                    const std::string &key, const std::string &value)
{
    if (!IsDriveWritable(file))
        return;
    CSimpleIniA ini;
    LoadInto(ini, file);
    if (ini.SetValue(section.c_str(), key.c_str(), TrimText(value).c_str()) < 0)
        throw EFileError("Unable to write to " + file);
    std::string text;
    if (ini.Save(text) < 0)
        throw EFileError("Unable to write to " + file);
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    try {
        WriteFileAtomic(file, EncodeStateText(crlf));
    } catch (const EFileError &) {
        throw EFileError("Unable to write to " + file);
    }
}

} // namespace dz
