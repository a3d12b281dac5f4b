#include "wire.h"

#include <algorithm>
#include <cstdio>

namespace dz::services {

std::string CountedText(const std::string &text)
{
    char count[16];
    std::snprintf(count, sizeof count, "%.4d", static_cast<int>(text.size()));
    return count + text;
}

void CheckCountedText(const std::string &what, const std::string &text)
{
    if (text.size() > kMaxCountedText)
        throw net::ESockError(what + " too long to send: " + std::to_string(text.size()) +
                              " bytes, at most 9999");
    if (text.find('\0') != std::string::npos)
        throw net::ESockError(what + " holds a zero byte and cannot be sent");
}

void ReadFraming(net::TPowersock &sock, TCountedFraming &framing)
{
    char *buffer = sock.IOBuffer();
    while (framing.State() == TFrameState::NeedMore && !framing.InBody()) {
        const std::size_t want = std::min<std::size_t>(framing.Wanted(), net::kIOBufferSize);
        const std::size_t got = sock.ReadSome(buffer, want);
        if (got == 0)
            throw net::ESockError("Connection closed in the middle of a field");
        framing.Feed({buffer, got});
    }
    if (framing.State() == TFrameState::Malformed)
        throw EConvertError(framing.Error());
}

std::string NoSpaceAnswer(std::uint64_t needed, std::uint64_t free, std::uint64_t reserve)
{
    char fields[3 * kSpaceField + 1];
    std::snprintf(fields, sizeof fields, "%20llu%20llu%20llu", static_cast<unsigned long long>(needed),
                  static_cast<unsigned long long>(free), static_cast<unsigned long long>(reserve));
    return kNoSpace + fields;
}

std::string WideField(std::int64_t value)
{
    char field[kSpaceField + 8];
    std::snprintf(field, sizeof field, "%20lld", static_cast<long long>(value));
    return field;
}

std::int64_t ParseWideField(std::string_view field)
{
    const auto first = field.find_first_not_of(' ');
    if (field.size() != kSpaceField || first == std::string_view::npos ||
        field.find_first_not_of("0123456789", first) != std::string_view::npos || field.size() - first > 19)
        return -1;
    std::uint64_t value = 0;
    for (const char c : field.substr(first))
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(value);
}

int StrToInt(const std::string &field)
{
    const std::int64_t value = StrToInt64(field);
    if (value > 2147483647LL || value < -2147483648LL)
        throw EConvertError("'" + field + "' is not a valid integer value");
    return static_cast<int>(value);
}

} // namespace dz::services
