#include "util/space.h"
#include "util/tests/tmpfs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <string>

namespace dz {
namespace {

TEST(SpaceTest, TheReserveIsTheLargerOfOnePercentAnd64MiB)
{
    QTemporaryDir tmp;
    const std::string small = tmp.path().toStdString() + "/small/", large = tmp.path().toStdString() + "/large/";
    QDir().mkpath(QString::fromStdString(small));
    QDir().mkpath(QString::fromStdString(large));
    const testing::TSmallDisk smallDisk(small, "100m");
    const testing::TSmallDisk largeDisk(large, "16g"); // tmpfs takes memory only as it is written
    if (!smallDisk.Mounted() || !largeDisk.Mounted())
        GTEST_SKIP() << "mounting a small disk needs root";

    const std::uint64_t mib = 1 << 20;
    TSpace space = SpaceFor(small, 1);
    EXPECT_TRUE(space.known);
    EXPECT_EQ(space.free, 100 * mib);
    EXPECT_EQ(space.reserve, 64 * mib);
    EXPECT_TRUE(SpaceFor(small, 36 * mib).fits());
    EXPECT_FALSE(SpaceFor(small, 36 * mib + 1).fits());
    EXPECT_FALSE(SpaceFor(small, UINT64_MAX).fits());

    // What is written counts at once.
    std::ofstream(small + "taken.bin") << std::string(8 * mib, 'x');
    EXPECT_EQ(SpaceFor(small, 0).free, 92 * mib);
    EXPECT_FALSE(SpaceFor(small, 36 * mib).fits());
    EXPECT_TRUE(SpaceFor(small, 28 * mib).fits());

    space = SpaceFor(large, 0);
    EXPECT_EQ(space.reserve, (16ull << 30) / 100);
    EXPECT_EQ(space.usable(), (16ull << 30) - (16ull << 30) / 100);

    space = SpaceFor(small + "missing/", 1ull << 60);
    EXPECT_FALSE(space.known);
    EXPECT_TRUE(space.fits()) << "unknown space is no reason to refuse";
}

} // namespace
} // namespace dz
