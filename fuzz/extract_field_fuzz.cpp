// ExtractField with arbitrary delimiter sets, texts and field numbers,
// compared with a plain split of the cleaned text; and the small text
// routines it is used with.
//
// Input: byte 0 gives the field number ('0' is 0, '2' is 2, bytes below '0'
// are negative); byte 1's low three bits give how many delimiter bytes
// follow; the rest is the text. So "22=|ItsMe=ALPHA|192.168.0.1" asks for
// field 2 of that text split by '=' and '|'.

#include "check.h"
#include "util/text.h"

#include <string>
#include <vector>

namespace {

using dz::TDelimSet;

std::string_view Trimmed(std::string_view t)
{
    while (!t.empty() && t.back() == ' ')
        t.remove_suffix(1);
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    return t;
}

// The text without blanks at either end, without delimiters at either end
// (one pass: end, then start), and without the blanks that uncovers.
std::string Cleaned(const TDelimSet &set, std::string_view s)
{
    const auto in = [&set](char c) { return set.test(static_cast<unsigned char>(c)); };
    s = Trimmed(s);
    while (!s.empty() && in(s.back()))
        s.remove_suffix(1);
    while (!s.empty() && in(s.front()))
        s.remove_prefix(1);
    return std::string(Trimmed(s));
}

// Runs of non-delimiters, each without its end blanks.
std::vector<std::string> Fields(const TDelimSet &set, const std::string &cleaned)
{
    std::vector<std::string> fields;
    std::size_t start = std::string::npos;
    for (std::size_t i = 0; i <= cleaned.size(); ++i) {
        const bool delimiter = i == cleaned.size() || set.test(static_cast<unsigned char>(cleaned[i]));
        if (!delimiter && start == std::string::npos)
            start = i;
        if (delimiter && start != std::string::npos) {
            fields.emplace_back(Trimmed(std::string_view(cleaned).substr(start, i - start)));
            start = std::string::npos;
        }
    }
    return fields;
}

bool Control(char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int n = static_cast<int>(data[0]) - '0';
    const std::size_t setSize = std::min<std::size_t>(data[1] & 7u, size - 2);
    const std::string_view chars(reinterpret_cast<const char *>(data) + 2, setSize);
    const std::string text(reinterpret_cast<const char *>(data) + 2 + setSize, size - 2 - setSize);
    const TDelimSet set = dz::MakeDelimSet(chars);
    for (const char c : chars)
        FUZZ_CHECK(set.test(static_cast<unsigned char>(c)));
    FUZZ_CHECK(set.count() <= chars.size());

    const std::string cleaned = Cleaned(set, text);
    const std::vector<std::string> fields = Fields(set, cleaned);
    const unsigned field = static_cast<unsigned>(n) & 0xFFu;
    const std::string got = dz::ExtractField(set, text, n);
    if (field == 0) {
        FUZZ_CHECK(got == cleaned);
    } else {
        FUZZ_CHECK(got == (field <= fields.size() ? fields[field - 1] : std::string()));
        for (const char c : got)
            FUZZ_CHECK(!set.test(static_cast<unsigned char>(c)));
        if (!got.empty())
            FUZZ_CHECK(text.find(got) != std::string::npos);
    }
    FUZZ_CHECK(got.empty() || (got.front() != ' ' && got.back() != ' '));
    // Only the low eight bits of the number count.
    for (const int other : {n + 256, n - 512, n + (1 << 20)})
        FUZZ_CHECK(dz::ExtractField(set, text, other) == got);

    // The protocol's own sets are the sets of their characters.
    FUZZ_CHECK(dz::DelimEqBar() == dz::MakeDelimSet("=|"));
    FUZZ_CHECK(dz::ExtractField(dz::DelimBar(), text, n) == dz::ExtractField(dz::MakeDelimSet("|"), text, n));

    // The routines the protocol uses beside it.
    const std::string trimmed = dz::TrimText(text);
    FUZZ_CHECK(trimmed == Trimmed(text));
    std::string stripped = text;
    dz::StripChars(set, stripped);
    FUZZ_CHECK(stripped.empty() || (!set.test(static_cast<unsigned char>(stripped.front())) &&
                                    !set.test(static_cast<unsigned char>(stripped.back()))));
    FUZZ_CHECK(text.find(stripped) != std::string::npos);
    const std::string line = dz::OneLine(text);
    FUZZ_CHECK(line.size() == text.size());
    for (std::size_t i = 0; i < line.size(); ++i)
        FUZZ_CHECK(Control(text[i]) ? line[i] == ' ' : line[i] == text[i]);
    const std::string upper = dz::UpperText(text);
    FUZZ_CHECK(upper.size() == text.size() && dz::UpperText(upper) == upper);
    for (std::size_t i = 0; i < upper.size(); ++i)
        FUZZ_CHECK(!(upper[i] >= 'a' && upper[i] <= 'z'));
    return 0;
}
