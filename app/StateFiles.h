#pragma once
// The files in the program folder that carry the program's state from one
// run to the next, and the write guard in front of every write to them.
// Paths, texts and lines are UTF-8 here; each file is Windows-1251 whenever
// its content fits (see EncodeStateText).

#include <string>
#include <vector>

class TStateFiles {
public:
    // programFolder ends in '/'.
    explicit TStateFiles(std::string programFolder);

    const std::string &programFolder() const { return folder_; }
    std::string iniFile() const { return folder_ + "Dizaruz.ini"; }
    std::string sendListFile() const { return folder_ + "~ListFile_send.txt"; }
    std::string recvListFile() const { return folder_ + "~ListFile_reciv.txt"; }
    std::string msgFile() const { return folder_ + "~MSG.txt"; }

    // The write guard: can new files be created in the program folder?
    bool writable() const;

    // Rewrites a list file whole (a temporary file renamed over the old one,
    // so a failed write never leaves half a list), each line ended by CR LF,
    // but only when writable(); returns whether it wrote. Raises
    // dz::EFileError "Cannot create file <path>" when the write fails.
    bool saveLines(const std::string &file, const std::vector<std::string> &lines) const;

    // The lines of a list file (CR, LF or CR LF end a line); none when the
    // file does not exist. Raises dz::EFileError "Cannot open file <path>".
    static std::vector<std::string> loadLines(const std::string &file);

    // One INI value, trimmed; the default when the file, section or key is missing.
    std::string readIni(const std::string &section, const std::string &key, const std::string &def) const;
    // Writes one INI value under the write guard. Raises dz::EFileError
    // "Unable to write to <path>" when the write fails.
    void writeIni(const std::string &section, const std::string &key, const std::string &value) const;

private:
    std::string folder_;
};
