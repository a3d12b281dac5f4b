#include "services/framing.h"

#include <gtest/gtest.h>

#include <string>

namespace dz::services {
namespace {

// Feeds bytes in pieces of at most `piece` (0: all at once), as a socket
// may deliver them; returns how many the framing took.
template <typename Framing>
std::size_t FeedInPieces(Framing &f, const std::string &bytes, std::size_t piece)
{
    std::size_t taken = 0;
    while (taken < bytes.size() && f.State() == TFrameState::NeedMore) {
        const std::size_t n = piece == 0 ? bytes.size() - taken : std::min(piece, bytes.size() - taken);
        const std::size_t used = f.Feed(std::string_view(bytes).substr(taken, n));
        EXPECT_LE(used, n);
        taken += used;
        if (used < n)
            break; // the framing wants no more
    }
    return taken;
}

TEST(MessageFraming, CompleteMalformedAndCutAnywhere)
{
    struct Case {
        const char *name;
        std::string bytes;
        TFrameState state;
        std::string from, msg;
        std::size_t taken; // bytes that belong to the message
    } cases[] = {
        {"worked example", "0003PC10010I_Free=Yes", TFrameState::Complete, "PC1", "I_Free=Yes", 21},
        {"both empty", "00000000", TFrameState::Complete, "", "", 8},
        {"bytes after the message stay", "0001a0001bEXTRA", TFrameState::Complete, "a", "b", 10},
        {"blanks for zeros", "   5hello   2hi", TFrameState::Complete, "hello", "hi", 15},
        {"negative is empty", "-0010002hi", TFrameState::Complete, "", "hi", 10},
        {"plus sign", "+001N0002hi", TFrameState::Complete, "N", "hi", 11},
        {"zero bytes inside", std::string("0003a\0b0000", 11), TFrameState::Complete, std::string("a\0b", 3), "", 11},
        {"longest text", "0001x9999" + std::string(9999, 't'), TFrameState::Complete, "x", std::string(9999, 't'),
         5 + 4 + 9999},
        {"four blanks", "    0001x", TFrameState::Malformed, "", "", 4},
        {"letters", "abcd0001x", TFrameState::Malformed, "", "", 4},
        {"trailing blank", "001 ", TFrameState::Malformed, "", "", 4},
        {"sign then blank", " - 1", TFrameState::Malformed, "", "", 4},
        {"bad text length", "0001aXY120003abc", TFrameState::Malformed, "a", "", 9},
        {"cut in a length", "00", TFrameState::NeedMore, "", "", 2},
        {"cut in the name", "0005ab", TFrameState::NeedMore, "ab", "", 6},
        {"cut in the text", "0001a0009abc", TFrameState::NeedMore, "a", "abc", 12},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(3)}) {
            TMessageFraming f;
            const std::size_t taken = FeedInPieces(f, c.bytes, piece);
            EXPECT_EQ(f.State(), c.state) << c.name << " piece " << piece;
            EXPECT_EQ(taken, c.taken) << c.name << " piece " << piece;
            if (c.state != TFrameState::Malformed) {
                EXPECT_EQ(f.From(), c.from) << c.name;
                EXPECT_EQ(f.Msg(), c.msg) << c.name;
            } else {
                EXPECT_NE(f.Error().find("is not a valid integer value"), std::string::npos) << c.name;
                EXPECT_EQ(f.Wanted(), 0u) << c.name;
            }
            if (c.state == TFrameState::Complete) {
                EXPECT_EQ(f.Feed("more"), 0u) << c.name;
            }
        }
    }
}

TEST(MessageFraming, EveryCutOfAMessageNeedsMoreAndWantsNoMoreThanItLacks)
{
    const std::string whole = "0004ABCD0011hello world";
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        TMessageFraming f;
        EXPECT_EQ(f.Feed(whole.substr(0, cut)), cut);
        EXPECT_EQ(f.State(), TFrameState::NeedMore) << cut;
        ASSERT_GE(f.Wanted(), 1u) << cut;
        EXPECT_LE(f.Wanted(), whole.size() - cut) << cut;
        EXPECT_EQ(f.Feed(whole.substr(cut)), whole.size() - cut) << cut;
        EXPECT_EQ(f.State(), TFrameState::Complete) << cut;
        EXPECT_EQ(f.From(), "ABCD");
        EXPECT_EQ(f.Msg(), "hello world");
    }
}

TEST(StreamFraming, HeaderSizesAndTheBody)
{
    struct Case {
        const char *name;
        std::string bytes;
        TFrameState state;
        std::string from;
        std::int64_t size;
        std::size_t taken;
        std::int64_t bodyLeft;
    } cases[] = {
        {"worked example", "0003PC1         5hello", TFrameState::Complete, "PC1", 5, 22, 0},
        {"empty stream", "0001a         0", TFrameState::Complete, "a", 0, 15, 0},
        {"negative is empty", "0001a        -5xyz", TFrameState::Complete, "a", 0, 15, 0},
        {"leading zeros", "0002PC0000000005abcde", TFrameState::Complete, "PC", 5, 21, 0},
        {"body beyond the size stays", "0000         3abcdef", TFrameState::Complete, "", 3, 17, 0},
        {"largest int", "00002147483647", TFrameState::NeedMore, "", 2147483647, 14, 2147483647},
        {"past 2^31", "00003000000000", TFrameState::NeedMore, "", 3000000000, 14, 3000000000},
        {"field's limit", "00009999999999abc", TFrameState::NeedMore, "", 9999999999, 17, 9999999996},
        {"sign", "0000+000000012abc", TFrameState::NeedMore, "", 12, 17, 9},
        {"cut in the size", "0001a   12", TFrameState::NeedMore, "a", 0, 10, 0},
        {"letters in the size", "0001a    12x456", TFrameState::Malformed, "a", 0, 15, 0},
        {"blank size", "0001a          ", TFrameState::Malformed, "a", 0, 15, 0},
        {"blank after digits", "0001a12        ", TFrameState::Malformed, "a", 0, 15, 0},
        {"letters in the length", "abcd", TFrameState::Malformed, "", 0, 4, 0},
        // A copy of ours may put its layout bits first, once, and only known ones.
        {"preamble", "DZ030003PC1         5hello", TFrameState::Complete, "PC1", 5, 26, 0},
        {"preamble twice", "DZ01DZ01", TFrameState::Malformed, "", 0, 8, 0},
        {"no bits", "DZ000001a         0", TFrameState::Malformed, "", 0, 4, 0},
        {"continuable", "DZ090001a         0", TFrameState::Complete, "a", 0, 19, 0},
        {"continuable without its hash", "DZ080001a         0", TFrameState::Malformed, "", 0, 4, 0},
        {"unknown bit", "DZ400001a         0", TFrameState::Malformed, "", 0, 4, 0},
        {"lower-case digits", "DZ0a0001a         0", TFrameState::Malformed, "", 0, 4, 0},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(7)}) {
            TStreamFraming f;
            const std::size_t taken = FeedInPieces(f, c.bytes, piece);
            EXPECT_EQ(f.State(), c.state) << c.name << " piece " << piece;
            EXPECT_EQ(taken, c.taken) << c.name << " piece " << piece;
            EXPECT_EQ(f.From(), c.from) << c.name;
            if (c.state == TFrameState::Malformed)
                continue;
            EXPECT_EQ(f.Size(), c.size) << c.name;
            EXPECT_EQ(f.BodyLeft(), c.bodyLeft) << c.name;
            EXPECT_EQ(f.InBody(), c.bodyLeft > 0) << c.name;
            EXPECT_EQ(f.Bits(), c.bytes.rfind("DZ", 0) == 0 ? std::stoul(c.bytes.substr(2, 2), nullptr, 16) : 0u) << c.name;
        }
    }
}

TEST(StreamFraming, BodyCountedElsewhereEndsTheStream)
{
    TStreamFraming f;
    EXPECT_EQ(f.Feed("0001a      1000"), 15u);
    ASSERT_TRUE(f.InBody());
    EXPECT_EQ(f.Wanted(), 1000u);
    f.BodyArrived(600);
    EXPECT_EQ(f.BodyLeft(), 400);
    EXPECT_EQ(f.Wanted(), 400u);
    EXPECT_EQ(f.Feed(std::string(100, 'x')), 100u);
    f.BodyArrived(1000); // more than is left counts as what is left
    EXPECT_EQ(f.State(), TFrameState::Complete);
    EXPECT_EQ(f.BodyLeft(), 0);
    EXPECT_FALSE(f.InBody());
    EXPECT_EQ(f.Size(), 1000);
}

TEST(StreamFraming, StrToInt64Fields)
{
    struct Case { std::string field; bool ok; std::int64_t value; } cases[] = {
        {"0003", true, 3}, {"   5", true, 5}, {"-001", true, -1}, {"+012", true, 12},
        {"9999999999", true, 9999999999}, {"-999999999", true, -999999999}, {"0000000000", true, 0},
        {"", false, 0}, {"    ", false, 0}, {"-", false, 0}, {"12a4", false, 0}, {"5   ", false, 0},
        {"99999999999", false, 0}, {"0x10", false, 0}, {"1e10", false, 0},
        // Far more digits than a field holds: refused without overflowing on the way
        // (the address-sanitizer build's undefined-behaviour check sees that).
        {"9999999999999999999", false, 0}, {"-99999999999999999999999", false, 0},
        {"00000000000000000000001", false, 0},
    };
    for (const auto &c : cases) {
        if (c.ok)
            EXPECT_EQ(StrToInt64(c.field), c.value) << '[' << c.field << ']';
        else
            EXPECT_THROW(StrToInt64(c.field), EConvertError) << '[' << c.field << ']';
    }
}

} // namespace
} // namespace dz::services
