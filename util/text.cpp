#include "text.h"

namespace dz {

TDelimSet MakeDelimSet(std::string_view chars)
{
    TDelimSet set;
    for (char c : chars)
        set.set(static_cast<unsigned char>(c));
    return set;
}

const TDelimSet &DelimEqBar()
{
    static const TDelimSet set = MakeDelimSet("=|");
    return set;
}

const TDelimSet &DelimEq()
{
    static const TDelimSet set = MakeDelimSet("=");
    return set;
}

const TDelimSet &DelimBar()
{
    static const TDelimSet set = MakeDelimSet("|");
    return set;
}

void TrimBlanks(std::string &s)
{
    const auto last = s.find_last_not_of(' ');
    if (last == std::string::npos) {
        s.clear();
        return;
    }
    s.erase(last + 1);
    s.erase(0, s.find_first_not_of(' '));
}

std::string TrimText(const std::string &s)
{
    std::string copy = s;
    TrimBlanks(copy);
    return copy;
}

void StripChars(const TDelimSet &set, std::string &s)
{
    auto inSet = [&set](char c) { return set.test(static_cast<unsigned char>(c)); };
    while (!s.empty() && inSet(s.back()))
        s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && inSet(s[start]))
        ++start;
    s.erase(0, start);
}

std::string UpperText(const std::string &s)
{
    std::string out = s;
    for (char &ch : out) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || c >= 224)
            ch = static_cast<char>(c - 32);
        else if (c == 184) // ё
            ch = static_cast<char>(168);
    }
    return out;
}

std::string OneLine(const std::string &s)
{
    std::string out = s;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = ' ';
    return out;
}

std::string ExtractField(const TDelimSet &set, const std::string &s, int n)
{
    const unsigned field = static_cast<unsigned>(n) & 0xFFu;
    std::string copy = s;
    TrimBlanks(copy);
    StripChars(set, copy);
    TrimBlanks(copy);
    if (copy.empty())
        return {};
    if (field == 0)
        return copy;

    unsigned counted = 0;
    std::size_t i = 0;
    while (i < copy.size()) {
        while (i < copy.size() && set.test(static_cast<unsigned char>(copy[i])))
            ++i;
        if (i >= copy.size())
            break;
        const std::size_t start = i;
        while (i < copy.size() && !set.test(static_cast<unsigned char>(copy[i])))
            ++i;
        if (++counted == field) {
            std::string value = copy.substr(start, i - start);
            TrimBlanks(value);
            return value;
        }
    }
    return {};
}

} // namespace dz
