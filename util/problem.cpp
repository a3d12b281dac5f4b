#include "util/problem.h"

#include <charconv>

namespace dz {

namespace {

// Record separator, then a version letter: no message text starts so.
constexpr std::string_view kMark = "\x1E" "P1";
constexpr unsigned kKinds = static_cast<unsigned>(TProblemKind::NoSpaceHere) + 1;

// Each field is its length in decimal, a colon and its bytes, so names may
// hold any byte.
void Put(std::string &out, std::string_view field)
{
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

bool Take(std::string_view &in, std::string_view &field)
{
    std::size_t length = 0;
    const auto [end, ec] = std::from_chars(in.data(), in.data() + in.size(), length);
    if (ec != std::errc{} || end == in.data() || end == in.data() + in.size() || *end != ':')
        return false;
    in.remove_prefix(static_cast<std::size_t>(end - in.data()) + 1);
    if (length > in.size())
        return false;
    field = in.substr(0, length);
    in.remove_prefix(length);
    return true;
}

bool Number(std::string_view field, std::uint64_t &value)
{
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc{} && end == field.data() + field.size() && !field.empty();
}

std::string Bytes(std::uint64_t n)
{
    return std::to_string(n) + " bytes";
}

} // namespace

std::string TProblem::Encode() const
{
    std::string out(kMark);
    Put(out, std::to_string(static_cast<unsigned>(kind)));
    Put(out, name);
    Put(out, from);
    for (const std::uint64_t figure : figures)
        Put(out, std::to_string(figure));
    return out;
}

std::optional<TProblem> TProblem::Decode(std::string_view text)
{
    if (!text.starts_with(kMark))
        return std::nullopt;
    text.remove_prefix(kMark.size());
    TProblem problem;
    std::string_view field;
    std::uint64_t kind = 0;
    if (!Take(text, field) || !Number(field, kind) || kind >= kKinds)
        return std::nullopt;
    problem.kind = static_cast<TProblemKind>(kind);
    if (!Take(text, field))
        return std::nullopt;
    problem.name = field;
    if (!Take(text, field))
        return std::nullopt;
    problem.from = field;
    for (std::uint64_t &figure : problem.figures)
        if (!Take(text, field) || !Number(field, figure))
            return std::nullopt;
    if (!text.empty())
        return std::nullopt;
    return problem;
}

std::string TProblem::Plain() const
{
    const std::string sent = "File \"" + name + "\" was not sent: ";
    const std::string received = "A file from " + from + " was not stored: ";
    switch (kind) {
    case TProblemKind::TooBigForProgram:
    case TProblemKind::TooBigForPeer:
        return sent + "its size, " + Bytes(figures[0]) + ", is above " + Bytes(figures[1]) + ".";
    case TProblemKind::MismatchTwice:
        return sent + "it arrived unlike itself twice (XXH3-128 mismatch).";
    case TProblemKind::NoSpaceThere:
        return sent + "it needs " + Bytes(figures[0]) + " on the other computer, with " + Bytes(figures[1]) +
               " free (" + Bytes(figures[2]) + " kept free).";
    case TProblemKind::BadName:
        return received + "the name \"" + name + "\" is not allowed.";
    case TProblemKind::Mismatch:
        return received + "\"" + name + "\" arrived unlike it left (XXH3-128 mismatch).";
    case TProblemKind::NoSpaceHere:
        return received + "\"" + name + "\" needs " + Bytes(figures[0]) + ", with " + Bytes(figures[1]) +
               " free (" + Bytes(figures[2]) + " kept free).";
    }
    return {};
}

std::string PlainText(const std::string &text)
{
    const std::optional<TProblem> problem = TProblem::Decode(text);
    return problem ? problem->Plain() : text;
}

} // namespace dz
