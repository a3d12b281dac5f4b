#pragma once
// Conversion between the program's Windows-1251 byte strings and UTF-8 or
// Qt's Unicode strings. Used at the widget boundary and where a text becomes
// a file-system path (Linux file names are UTF-8).

#include <QString>
#include <string>
#include <string_view>

namespace dz {

// Every byte has a Unicode form except 0x98, which becomes '?'.
std::string Cp1251ToUtf8(std::string_view cp1251);
// A character with no Windows-1251 form becomes '?'; *lossless (when given)
// tells whether every character had one. Invalid UTF-8 counts as lossy.
std::string Utf8ToCp1251(std::string_view utf8, bool *lossless = nullptr);

// A file name as a Windows copy can take it, in Windows-1251: a character
// without a Windows-1251 form is transliterated (é -> e, ß -> ss), or becomes
// '_' when nothing fits; the characters Windows refuses in file names
// (? * : " < > \ | / and control characters) become '_'. The same for any
// locale.
std::string FileNameToCp1251(const QString &name);

QString ToQString(std::string_view cp1251);
std::string FromQString(const QString &text, bool *lossless = nullptr);

} // namespace dz
