#include "util/codepage.h"
#include "util/text.h"

#include <gtest/gtest.h>

namespace dz {
namespace {

// Windows-1251 literals: "Ёлка", "ёлка", "ЁЛКА".
const std::string kYolkaUpper = "\xA8\xEB\xEA\xE0";
const std::string kYolkaLower = "\xB8\xEB\xEA\xE0";
const std::string kYOLKA = "\xA8\xCB\xCA\xC0";

TEST(TrimText, BlanksOnlyAtTheEnds)
{
    struct Case { std::string in, out; } cases[] = {
        {"", ""},
        {"    ", ""},
        {"  a b  ", "a b"},
        {"\ta\t", "\ta\t"}, // tabs are not blanks
        {" \tx", "\tx"},
        {"x", "x"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TrimText(c.in), c.out) << '[' << c.in << ']';
        std::string inPlace = c.in;
        TrimBlanks(inPlace);
        EXPECT_EQ(inPlace, c.out);
    }
}

TEST(StripChars, EndThenStart)
{
    std::string s = "||=a|b=|";
    StripChars(DelimEqBar(), s);
    EXPECT_EQ(s, "a|b");
    std::string bars = "|||";
    StripChars(DelimBar(), bars);
    EXPECT_EQ(bars, "");
    std::string eq = "=a=";
    StripChars(DelimBar(), eq); // '=' is not in the bar-only set
    EXPECT_EQ(eq, "=a=");
}

TEST(UpperText, FixedTableWhateverTheLocale)
{
    EXPECT_EQ(UpperText(kYolkaUpper), kYOLKA);
    EXPECT_EQ(UpperText(kYolkaLower), kYOLKA);
    EXPECT_EQ(UpperText("yes"), "YES");
    EXPECT_EQ(UpperText("Yes 123"), "YES 123");
    // Accented Latin letters (é = 0xE9 in Latin-1 but 'й' in Windows-1251 is 0xE9 too:
    // the table is Windows-1251, so 0xE9 maps to 0xC9) and other bytes.
    EXPECT_EQ(UpperText("\xE9"), "\xC9");
    EXPECT_EQ(UpperText("\xDF\xC0\x9A\xBF"), "\xDF\xC0\x9A\xBF"); // already upper or not letters
    EXPECT_EQ(UpperText(" a "), " A "); // no trimming
}

TEST(ExtractField, ExamplesAndEdges)
{
    struct Case {
        std::string text;
        int field;
        std::string expected;
    } cases[] = {
        {"ItsMe=PC1|10.0.0.5", 1, "ItsMe"},
        {"ItsMe=PC1|10.0.0.5", 2, "PC1"},
        {"ItsMe=PC1|10.0.0.5", 3, "10.0.0.5"},
        {"ItsMe=PC1|10.0.0.5", 4, ""},
        {"|a||b|", 1, "a"},
        {"|a||b|", 2, "b"},
        {"a| |b", 2, ""},
        {"a| |b", 3, "b"},
        {"|a|b|", 0, "a|b"},
        {"|a|b|", 256, "a|b"}, // only the low 8 bits count
        {"|a|b|", 257, "a"},
        {" | MSG|hi", 1, "MSG"},
        {" | MSG|hi", 2, "hi"},
        {"MSG|  padded  ", 2, "padded"},
        {"= | =|", 0, "|"}, // one strip pass: the inner bar stays in the whole text
        {"|=|", 0, ""},
        {"= | =|", 1, ""},
        {"= | =|", 2, ""},
        {"", 1, ""},
        {"I_Free= Yes ", 2, "Yes"},
        {"MSG|a=b", 2, "a"},
        {"MSG|==x", 2, "x"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtractField(DelimEqBar(), c.text, c.field), c.expected)
            << '[' << c.text << "] field " << c.field;

    // The single-delimiter sets keep the other character inside a field.
    EXPECT_EQ(ExtractField(DelimBar(), "File_Start|a=b.txt", 2), "a=b.txt");
    EXPECT_EQ(ExtractField(DelimEq(), "ItsMeToo=10.0.0.1|x", 2), "10.0.0.1|x");
    EXPECT_EQ(ExtractField(DelimEq(), "ItsMeToo=10.0.0.1|x", 1), "ItsMeToo");
}

TEST(CodePage, RoundTripAndReplacement)
{
    const std::string cyr = "\xCF\xF0\xE8\xE2\xE5\xF2"; // "Привет"
    EXPECT_EQ(Cp1251ToUtf8(cyr), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(cyr)), cyr);
    EXPECT_EQ(FromQString(ToQString(kYolkaLower)), kYolkaLower);

    bool lossless = true;
    // "a€中b": the euro sign exists in Windows-1251 (0x88), the CJK character does not.
    EXPECT_EQ(Utf8ToCp1251("a\xE2\x82\xAC\xE4\xB8\xAD" "b", &lossless), "a\x88?b");
    EXPECT_FALSE(lossless);
    EXPECT_EQ(Utf8ToCp1251("plain", &lossless), "plain");
    EXPECT_TRUE(lossless);
    // Invalid UTF-8 is replaced, and the good characters around it survive.
    EXPECT_EQ(Utf8ToCp1251("x\xC3y", &lossless), "x?y");
    EXPECT_FALSE(lossless);
    // Every Windows-1251 byte but the unassigned 0x98 survives a round trip.
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != 0x98)
            all += static_cast<char>(c);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all), &lossless), all);
    EXPECT_TRUE(lossless);
}

TEST(OneLine, ControlCharactersBecomeBlanks)
{
    EXPECT_EQ(OneLine("a\r\nb\tc\x01\x7F" "d"), "a  b c  d");
    EXPECT_EQ(OneLine(kYolkaLower), kYolkaLower) << "letters above 127 are not control characters";
}

TEST(CodePage, FileNamesForAWindowsPeer)
{
    const struct {
        const char *utf8;
        std::string cp1251;
    } rows[] = {
        {"Привет.txt", "\xCF\xF0\xE8\xE2\xE5\xF2.txt"}, // kept as it is
        {"café.doc", "cafe.doc"},
        {"Müller Straße.pdf", "Muller Strasse.pdf"},
        {"Ærø.jpg", "AEro.jpg"},
        {"niño ŁÓDŹ.txt", "nino LODZ.txt"},
        {"ﬁle №1 «x».txt", "file \xB9" "1 \xAB" "x\xBB.txt"}, // a ligature; № « » exist in Windows-1251
        {"中文.txt", "__.txt"},
        {"a?b*c:d\"e<f>g|h\\i.txt", "a_b_c_d_e_f_g_h_i.txt"},
        {"tab\there\x01.txt", "tab_here_.txt"},
        {"€5.txt", "\x88" "5.txt"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(FileNameToCp1251(QString::fromUtf8(row.utf8)), row.cp1251) << row.utf8;
}

} // namespace
} // namespace dz
