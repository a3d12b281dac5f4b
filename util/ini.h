#pragma once
// Windows-style INI files, one value at a time: sections in brackets,
// key=value lines, names compared without regard to case, values trimmed.
// Values are UTF-8 in the program; the file is Windows-1251 whenever its
// content fits, else UTF-8 after a byte-order mark, and is read either way.
// Lines are written with CR LF.

#include <string>

namespace dz {

// The stored value (at most 2047 bytes) or the default, trimmed of blanks.
// A missing file, section or key gives the default.
std::string IniReadString(const std::string &file, const std::string &section,
                          const std::string &key, const std::string &def);

// Writes the trimmed value, creating the file and the section when needed,
// but only when IsDriveWritable(file). Raises EFileError
// "Unable to write to <file>" when the file cannot be written.
void IniWriteString(const std::string &file, const std::string &section,
                    const std::string &key, const std::string &value);

} // namespace dz
