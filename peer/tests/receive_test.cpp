// Where a received stream goes: the announced name made safe, and the
// receive folder checked.

#include "peer/receive.h"
#include "util/problem.h"
#include "util/tests/tmpfs.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

namespace {

using dz::peer::PlanStore;
using dz::peer::ReceiveFolderFor;
using dz::peer::SafeReceivedName;

TEST(ReceiveTest, ReceivedNamesAreReducedToTheirLastComponent)
{
    struct Case { std::string announced, stored; } cases[] = {
        {"a.txt", "a.txt"}, {"../x.txt", "x.txt"}, {"/etc/passwd", "passwd"}, {"..\\..\\win.ini", "win.ini"},
        {"sub/..", ""}, {"..", ""}, {".", ""}, {"", ""}, {"a\nb\x01.txt", "ab.txt"}, {"  name  ", "name"},
        {"C:\\Temp\\r.doc", "r.doc"}, {"dir/", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SafeReceivedName(c.announced), c.stored) << c.announced;
}

TEST(ReceiveTest, TheFolderIsCheckedAndJoinedWithOneSeparator)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string dir = tmp.path().toStdString();
    const std::string program = "/opt/dizaruz/";
    const struct {
        std::string text, folder;
    } rows[] = {
        {dir, dir + "/"},           {dir + "/", dir + "/"},      {"  " + dir + "  ", dir + "/"},
        {dir + "//", dir + "/"},    {"", program},               {"   ", program},
        {dir + "/missing/", program}, {"/", "/"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ReceiveFolderFor(row.text, program), row.folder) << row.text;

    EXPECT_EQ(PlanStore("a.txt", dir, program).path(), dir + "/a.txt");
    EXPECT_EQ(PlanStore("..", dir, program).name, "");
}

TEST(ReceiveTest, TheProgramsOwnFilesAreNeverReplaced)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string dir = tmp.path().toStdString() + "/";
    const std::vector<std::string> own = {dir + "Dizaruz.ini", dir + "~MSG.txt", dir + "dizaruz"};
    for (const char *existing : {"Dizaruz.ini", "Dizaruz-1.ini", "dizaruz"})
        std::ofstream(dir + existing) << "x";
    const struct {
        const char *announced, *stored;
    } rows[] = {
        {"Dizaruz.ini", "Dizaruz-2.ini"}, // -1 is taken
        {"~MSG.txt", "~MSG-1.txt"},       // ours even before it exists
        {"dizaruz", "dizaruz-1"},
        {"dizaruz.ini", "dizaruz.ini"},   // another file: names are case-sensitive
        {"notes.txt", "notes.txt"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(PlanStore(row.announced, dir, "/elsewhere/", own).name, row.stored) << row.announced;
    // The same folder written differently is still the program folder.
    EXPECT_EQ(PlanStore("Dizaruz.ini", dir + "./", "/elsewhere/", own).name, "Dizaruz-2.ini");
}

// Refused before a byte is written, with the figures the user needs.
TEST(ReceiveTest, AStreamThatDoesNotFitIsRefusedWithItsFigures)
{
    QTemporaryDir tmp;
    const std::string disk = tmp.path().toStdString() + "/";
    const dz::testing::TSmallDisk small(disk, "100m"); // the reserve is 64 MiB
    if (!small.Mounted())
        GTEST_SKIP() << "mounting a small disk needs root";
    EXPECT_EQ(dz::peer::SpaceRefusal("ALPHA", "small.bin", 36 << 20, disk), "");
    const auto refused = dz::TProblem::Decode(
        dz::peer::SpaceRefusal("ALPHA", "\xCF\xF0\xEE\xE5\xEA\xF2.iso", (36 << 20) + 1, disk));
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind, dz::TProblemKind::NoSpaceHere);
    EXPECT_EQ(refused->name, "Проект.iso") << "the peer's name bytes are decoded";
    EXPECT_EQ(refused->from, "ALPHA");
    EXPECT_EQ(refused->figures[0], (36u << 20) + 1);
    EXPECT_GT(refused->figures[1], 90u << 20);
    EXPECT_LE(refused->figures[1], 100u << 20);
    EXPECT_EQ(refused->figures[2], 64u << 20);
    EXPECT_EQ(dz::peer::SpaceRefusal("ALPHA", "x", 0, disk), "");
    EXPECT_EQ(dz::peer::SpaceRefusal("ALPHA", "x", 1 << 20, disk + "missing/"), "") << "unknown space: the write tells";
}

} // namespace
