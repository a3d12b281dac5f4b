#include "wire.h"

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

std::string ReadCounted(net::TPowersock &sock, int n)
{
    if (n <= 0)
        return {};
    std::string body = sock.Read(static_cast<std::uint16_t>(n));
    if (body.size() != static_cast<std::size_t>(n))
        throw net::ESockError("Connection closed in the middle of a field");
    return body;
}

int StrToInt(const std::string &field)
{
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    const std::size_t digitsStart = i;
    long long value = 0;
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (c < '0' || c > '9' || value > 10'000'000'000LL)
            break;
        value = value * 10 + (c - '0');
    }
    if (i == digitsStart || i != field.size() || value > 2147483648LL || (!negative && value > 2147483647LL))
        throw EConvertError("'" + field + "' is not a valid integer value");
    return static_cast<int>(negative ? -value : value);
}

} // namespace dz::services
