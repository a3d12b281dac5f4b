#pragma once
// What the fuzz targets share: a failed invariant aborts with its place and
// text, so libFuzzer keeps the input as a crash; and a plain reading of the
// number fields, written apart from the parser it checks.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

// Blanks, an optional sign, one to ten digits and nothing after them.
inline std::optional<std::int64_t> PlainNumber(std::string_view field)
{
    const auto start = field.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return std::nullopt;
    field.remove_prefix(start);
    const bool negative = field.front() == '-';
    if (field.front() == '-' || field.front() == '+')
        field.remove_prefix(1);
    if (field.empty() || field.size() > 10 || field.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : field)
        value = value * 10 + (c - '0');
    return negative ? -value : value;
}

// The text of the EConvertError for a field; an exception's text is a C
// string, so a zero byte in the field ends it.
inline std::string ConvertErrorText(std::string_view field)
{
    const std::string text = "'" + std::string(field) + "' is not a valid integer value";
    return text.substr(0, text.find('\0'));
}

// Piece sizes for feeding a parser, read from the input's end backwards so
// that its front stays readable as the bytes being parsed.
class TPieces {
public:
    TPieces(const std::uint8_t *data, std::size_t size, std::size_t most) : data_(data), size_(size), most_(most) {}
    // 0 now and then (an empty feed), never twice running.
    std::size_t Next()
    {
        if (size_ == 0)
            return 1;
        std::size_t n = data_[size_ - 1 - k_++ % size_] % (most_ + 1);
        if (n == 0 && lastZero_)
            n = 1;
        lastZero_ = n == 0;
        return n;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_, most_, k_ = 0;
    bool lastZero_ = false;
};

} // namespace fuzz
