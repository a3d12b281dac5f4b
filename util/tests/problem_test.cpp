#include "util/problem.h"

#include <gtest/gtest.h>

#include <limits>

namespace dz {
namespace {

TEST(ProblemTest, NamesWithAnyByteSurviveTheRoundTrip)
{
    const TProblem rows[] = {
        {TProblemKind::NoSpaceHere, "Проект.iso", "ALPHA", {36u << 20, 100u << 20, 64u << 20}},
        // Separators, digits and colons inside the fields must not shift the next one.
        {TProblemKind::BadName, "3:abc\x1F\x1E" "P1", "", {}},
        {TProblemKind::TooBigForPeer, std::string("a\0b", 3), "x", {std::numeric_limits<std::uint64_t>::max(), 1, 0}},
    };
    for (const TProblem &row : rows) {
        const std::optional<TProblem> back = TProblem::Decode(row.Encode());
        ASSERT_TRUE(back.has_value()) << row.name;
        EXPECT_EQ(*back, row);
    }
}

TEST(ProblemTest, OrdinaryAndDamagedTextsAreNoProblems)
{
    const std::string whole = TProblem{TProblemKind::Mismatch, "got.txt", "PEER", {}}.Encode();
    const std::string texts[] = {
        "Connection Failed",
        "",
        whole.substr(0, whole.size() - 1),            // cut short
        whole + "1:x",                                  // trailing field
        std::string(whole).replace(5, 1, "9"),          // a kind that does not exist
        "\x1EP1" "99999999999999999999999:x",           // a length beyond everything
    };
    for (const std::string &text : texts) {
        EXPECT_FALSE(TProblem::Decode(text).has_value()) << text;
        EXPECT_EQ(PlainText(text), text);
    }
    EXPECT_EQ(PlainText(whole), "A file from PEER was not stored: \"got.txt\" arrived unlike it left (XXH3-128 mismatch).");
}

} // namespace
} // namespace dz
