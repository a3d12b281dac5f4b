// Where a received stream goes: the announced name made safe, and the
// receive folder checked.

#include "peer/receive.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

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

    EXPECT_EQ(PlanStore("a.txt", dir, program, 5).path(), dir + "/a.txt");
    EXPECT_EQ(PlanStore("a.txt", dir, program, 0).name, "") << "an empty stream stores nothing";
    EXPECT_EQ(PlanStore("..", dir, program, 5).name, "");
}

} // namespace
