#include "util/files.h"
#include "util/codepage.h"
#include "util/ini.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace dz {
namespace {

class IniTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    std::string Ini() const { return tmp.path().toStdString() + "/Dizaruz.ini"; }
    QTemporaryDir tmp;
};

TEST_F(IniTest, DefaultsForMissingFileSectionAndKey)
{
    EXPECT_EQ(IniReadString(Ini(), "LOCAL", "SubDir_for_Reciv", "/prog/"), "/prog/");
    WriteFileAtomic(Ini(), std::string("[LOCAL]\r\nOther=1\r\n"));
    EXPECT_EQ(IniReadString(Ini(), "LOCAL", "SubDir_for_Reciv", "dflt"), "dflt");
    EXPECT_EQ(IniReadString(Ini(), "REMOTE", "ComputerName", ""), "");
}

TEST_F(IniTest, ValuesAreTrimmedAndNamesIgnoreCase)
{
    WriteFileAtomic(Ini(), std::string("[REMOTE]\nComputerName=  BETA  \r\n[local]\rsubdir_for_reciv= /in/ \n"));
    EXPECT_EQ(IniReadString(Ini(), "REMOTE", "ComputerName", ""), "BETA");
    EXPECT_EQ(IniReadString(Ini(), "LOCAL", "SubDir_for_Reciv", ""), "/in/");
    // The default is trimmed too.
    EXPECT_EQ(IniReadString(Ini(), "REMOTE", "Nope", "  d  "), "d");
}

TEST_F(IniTest, WritesCyrillicInWindows1251WithCrLf)
{
    const std::string cyr = "/home/\xCF\xF0\xE8\xE5\xEC/"; // /home/Прием/ in Windows-1251
    IniWriteString(Ini(), "LOCAL", "SubDir_for_Reciv", "  " + Cp1251ToUtf8(cyr) + "  ");
    IniWriteString(Ini(), "REMOTE", "ComputerName", "BETA");
    IniWriteString(Ini(), "REMOTE", "ComputerIP", "10.0.0.2");
    EXPECT_EQ(IniReadString(Ini(), "LOCAL", "SubDir_for_Reciv", ""), Cp1251ToUtf8(cyr));
    EXPECT_EQ(IniReadString(Ini(), "REMOTE", "ComputerIP", ""), "10.0.0.2");

    const std::string bytes = ReadFileBytes(Ini());
    EXPECT_NE(bytes.find("[LOCAL]\r\nSubDir_for_Reciv=" + cyr + "\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("ComputerName=BETA\r\n"), std::string::npos) << bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n')
            { EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i; }

    // Rewriting one key keeps the others.
    IniWriteString(Ini(), "REMOTE", "ComputerName", "GAMMA");
    EXPECT_EQ(IniReadString(Ini(), "REMOTE", "ComputerName", ""), "GAMMA");
    EXPECT_EQ(IniReadString(Ini(), "LOCAL", "SubDir_for_Reciv", ""), Cp1251ToUtf8(cyr));

    // A folder Windows-1251 cannot say: the whole file turns UTF-8 with a
    // byte-order mark, and every value reads back.
    const std::string accented = "/home/u/T\xC3\xA9l\xC3\xA9chargements/"; // Téléchargements
    IniWriteString(Ini(), "LOCAL", "SubDir_for_Reciv", accented);
    EXPECT_EQ(ReadFileBytes(Ini()).rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_EQ(IniReadString(Ini(), "LOCAL", "SubDir_for_Reciv", ""), accented);
    EXPECT_EQ(IniReadString(Ini(), "REMOTE", "ComputerName", ""), "GAMMA");
}

TEST_F(IniTest, NoWriteWhereTheProbeFails)
{
    IniWriteString("relative.ini", "LOCAL", "K", "v");
    EXPECT_FALSE(FileExists("relative.ini"));
    IniWriteString("/proc/Dizaruz.ini", "LOCAL", "K", "v"); // read-only file system: silently skipped
    EXPECT_FALSE(FileExists("/proc/Dizaruz.ini"));
}

} // namespace
} // namespace dz
