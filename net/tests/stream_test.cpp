#include "net/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <span>

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

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::string data(size, '\0');
    std::mt19937 rng(seed);
    for (auto &c : data)
        c = static_cast<char>(rng());
    return data;
}

// The views go to the disk unbuffered, which needs every block but the
// last full and page-aligned; together they are the content.
TEST(MemoryStream, PiecesAreTheContentInWholeAlignedBlocks)
{
    const std::int64_t block = TMemoryStream::kBlockSize;
    for (const std::int64_t size : {std::int64_t {0}, std::int64_t {1}, block - 1, block, block + 1, 3 * block + 5}) {
        const std::string data = RandomBytes(static_cast<std::size_t>(size), 5);
        TMemoryStream s;
        s.Write(data.data(), size);
        const std::vector<std::string_view> pieces = s.Pieces();
        EXPECT_EQ(static_cast<std::int64_t>(pieces.size()), (size + block - 1) / block) << size;
        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pieces[i].data()) % TMemoryStream::kBlockAlign, 0u) << size;
            if (i + 1 < pieces.size()) {
                EXPECT_EQ(static_cast<std::int64_t>(pieces[i].size()), block) << size;
            }
            joined += pieces[i];
        }
        EXPECT_TRUE(joined == data) << size;
    }
}

TEST(MemoryStream, MovingHandsTheBytesOverAndEmptiesTheSource)
{
    const std::string data = RandomBytes(static_cast<std::size_t>(TMemoryStream::kBlockSize + 10), 9);
    TMemoryStream a;
    a.Write(data.data(), static_cast<std::int64_t>(data.size()));
    const char *first = a.Pieces().front().data();
    TMemoryStream b(std::move(a));
    EXPECT_EQ(a.Size(), 0);
    EXPECT_EQ(a.Position(), 0);
    EXPECT_TRUE(a.Pieces().empty());
    EXPECT_EQ(b.Pieces().front().data(), first); // no copy
    EXPECT_TRUE(b.ToString() == data);
    TMemoryStream c;
    c.Write("old", 3);
    c = std::move(b);
    EXPECT_TRUE(c.ToString() == data);
    EXPECT_EQ(c.Position(), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(b.Size(), 0);
    // The emptied source is an ordinary empty stream again.
    a.Write("new", 3);
    EXPECT_EQ(a.ToString(), "new");
}

// Filling the room at the end in odd amounts builds the same stream as
// Write; the room is never offered in the middle, and never across a block.
TEST(MemoryStream, RoomAtTheEndFillsLikeWrite)
{
    const std::int64_t block = TMemoryStream::kBlockSize;
    const std::string data = RandomBytes(static_cast<std::size_t>(2 * block + 999), 11);
    TMemoryStream s;
    std::size_t at = 0;
    const std::size_t asks[] = {1, 65536, 70000, static_cast<std::size_t>(block), 3};
    for (int i = 0; at < data.size(); ++i) {
        const std::span<char> room = s.AppendRoom(asks[i % 5]);
        ASSERT_FALSE(room.empty());
        EXPECT_LE(room.size(), asks[i % 5]);
        EXPECT_LE(static_cast<std::int64_t>(at) % block + static_cast<std::int64_t>(room.size()), block);
        // Fill less than offered now and then, as a short recv does.
        const std::size_t n = std::min({room.size(), data.size() - at, i % 3 == 0 ? room.size() / 2 + 1 : room.size()});
        std::memcpy(room.data(), data.data() + at, n);
        s.Appended(n);
        at += n;
        EXPECT_EQ(s.Size(), static_cast<std::int64_t>(at));
        EXPECT_EQ(s.Position(), s.Size());
    }
    EXPECT_TRUE(s.ToString() == data);
    EXPECT_TRUE(s.AppendRoom(0).empty());
    s.SetPosition(5);
    EXPECT_TRUE(s.AppendRoom(100).empty());

    // Reading runs walk the content without a copy, a block at most.
    s.SetPosition(0);
    std::string back;
    while (true) {
        const std::span<const char> run = s.ReadableRun(65536);
        if (run.empty())
            break;
        EXPECT_LE(run.size(), 65536u);
        back.append(run.data(), run.size());
        s.Skip(static_cast<std::int64_t>(run.size()));
    }
    EXPECT_TRUE(back == data);
}

} // namespace
} // namespace dz::net
