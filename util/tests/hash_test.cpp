#include "util/hash.h"

#include <gtest/gtest.h>

#include <xxhash.h>

#include <random>
#include <string>

namespace dz {
namespace {

std::string Bytes(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    std::mt19937 rng(seed);
    for (auto &c : s)
        c = static_cast<char>(rng());
    return s;
}

// The library's own one-shot function, the yardstick.
THash128 OneShot(const std::string &data)
{
    const XXH128_hash_t h = XXH3_128bits(data.data(), data.size());
    return {h.high64, h.low64};
}

// Sizes on every side of the algorithm's inner limits: short inputs, the
// 240-byte mid-size path, the 256-byte buffer, 64-byte stripes and the
// 1,024-byte block.
const std::size_t kSizes[] = {0, 1, 3, 16, 17, 128, 129, 240, 241, 255, 256, 257, 1023, 1024, 1025, 4096 + 63,
                              (1 << 20) + 3};

TEST(HashTest, PiecesOfAnySizeGiveTheOneShotHash)
{
    EXPECT_EQ(THasher::Of("").Hex(), "99aa06d3014798d86001c324468d497f");
    for (const std::size_t size : kSizes) {
        const std::string data = Bytes(size, static_cast<unsigned>(size));
        for (const std::size_t piece : {std::size_t {1}, std::size_t {7}, std::size_t {63}, std::size_t {65},
                                        std::size_t {257}, std::size_t {65537}}) {
            THasher hasher;
            for (std::size_t at = 0; at < size; at += piece)
                hasher.Update(std::string_view(data).substr(at, piece));
            EXPECT_EQ(hasher.Digest(), OneShot(data)) << size << " in pieces of " << piece;
            EXPECT_EQ(hasher.Length(), size);
        }
        EXPECT_EQ(THasher::Of(data), OneShot(data));
    }
    EXPECT_EQ((THash128 {0x0123456789abcdefull, 0xfedcba9876543210ull}.Hex()), "0123456789abcdeffedcba9876543210");
}

// A hash taken up, copied or restored at any point goes on as if it never stopped.
TEST(HashTest, ARunningHashIsCopiedAndRestoredAtAnyPoint)
{
    const std::string data = Bytes(70000, 9);
    for (const std::size_t cut : {0, 1, 63, 64, 65, 240, 256, 257, 1024, 1025, 65536 + 5, 69999}) {
        THasher first;
        first.Update(std::string_view(data).substr(0, cut));
        const std::string saved = first.SaveState();
        EXPECT_EQ(first.Digest(), OneShot(data.substr(0, cut))) << "a digest does not end the hash";

        THasher copy = first;
        THasher restored;
        restored.Update("something else first");
        ASSERT_TRUE(restored.RestoreState(saved)) << cut;
        EXPECT_EQ(restored.Length(), cut);
        for (THasher *h : {&first, &copy, &restored}) {
            h->Update(std::string_view(data).substr(cut, 5));
            h->Update(std::string_view(data).substr(cut + 5 > data.size() ? data.size() : cut + 5));
            EXPECT_EQ(h->Digest(), OneShot(data)) << cut;
        }
        // The copy is on its own.
        copy.Update("more");
        EXPECT_EQ(first.Digest(), OneShot(data));
    }
}

TEST(HashTest, ADamagedStateIsRefusedAndLeavesAFreshHash)
{
    THasher hasher;
    hasher.Update(Bytes(1000, 3));
    const std::string saved = hasher.SaveState();
    std::vector<std::string> damaged = {"", saved.substr(0, saved.size() - 1), saved + "x", "DZH1"};
    for (std::size_t at = 0; at < saved.size(); at += 37) {
        damaged.push_back(saved);
        damaged.back()[at] = static_cast<char>(damaged.back()[at] ^ 0x10);
    }
    for (const std::string &bad : damaged) {
        THasher h;
        h.Update("x");
        EXPECT_FALSE(h.RestoreState(bad)) << bad.size();
        EXPECT_EQ(h.Length(), 0u);
        EXPECT_EQ(h.Digest(), OneShot(""));
    }
}

} // namespace
} // namespace dz
