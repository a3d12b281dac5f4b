#include "net/stream.h"

#include <gtest/gtest.h>

#include <random>

namespace dz::net {
namespace {

TEST(MemoryStream, WritesAndReadsAcrossBlocks)
{
    const std::int64_t block = TMemoryStream::kBlockSize;
    std::string data(static_cast<std::size_t>(3 * block + 123), '\0');
    std::mt19937 rng(3);
    for (auto &c : data)
        c = static_cast<char>(rng());

    TMemoryStream s;
    // Pieces of awkward sizes that straddle block boundaries.
    const std::int64_t pieces[] = {1, block - 2, 3, block, 65536, block - 65536, 121};
    std::int64_t at = 0;
    for (std::int64_t n : pieces) {
        EXPECT_EQ(s.Write(data.data() + at, n), n);
        at += n;
        EXPECT_EQ(s.Size(), at);
        EXPECT_EQ(s.Position(), at);
    }
    ASSERT_EQ(at, static_cast<std::int64_t>(data.size()));
    EXPECT_TRUE(s.ToString() == data);

    // Reads from any position, short at the end.
    struct Case { std::int64_t from, count, expected; } cases[] = {
        {0, 10, 10}, {block - 5, 10, 10}, {2 * block - 1, block + 2, block + 2}, {at - 4, 100, 4}, {at, 10, 0},
    };
    for (const auto &c : cases) {
        s.SetPosition(c.from);
        std::string out(static_cast<std::size_t>(c.count), '\0');
        EXPECT_EQ(s.Read(out.data(), c.count), c.expected) << c.from;
        out.resize(static_cast<std::size_t>(c.expected));
        EXPECT_TRUE(out == data.substr(static_cast<std::size_t>(c.from), out.size())) << c.from;
    }

    // Overwriting in the middle keeps the size; positions are clamped.
    s.SetPosition(block - 1);
    s.Write("XY", 2);
    EXPECT_EQ(s.Size(), at);
    data[static_cast<std::size_t>(block - 1)] = 'X';
    data[static_cast<std::size_t>(block)] = 'Y';
    EXPECT_TRUE(s.ToString() == data);
    s.SetPosition(at + 100);
    EXPECT_EQ(s.Position(), at);
    s.SetPosition(-5);
    EXPECT_EQ(s.Position(), 0);

    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.ToString(), "");
}

} // namespace
} // namespace dz::net
