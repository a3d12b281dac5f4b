#pragma once
// A refusal or failure whose words belong to the window. The layers below
// the window carry failures as message texts (exceptions, step errors,
// notices); a problem travels inside such a text in an encoded form, so
// the window can word it in the user's language while every other failure
// keeps its own text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dz {

enum class TProblemKind : std::uint8_t {
    TooBigForProgram, // name; figures: size, largest size a stream header can carry
    TooBigForPeer,    // name; figures: size, largest size the peer takes
    MismatchTwice,    // name: sent twice, arrived unlike itself both times
    NoSpaceThere,     // name; figures: needed, free, kept free (on the peer)
    BadName,          // from, name: a received name that may not be stored
    Mismatch,         // from, name: received unlike it left
    NoSpaceHere,      // from, name; figures: needed, free, kept free (here)
};

struct TProblem {
    TProblemKind kind = TProblemKind::TooBigForProgram;
    std::string name; // UTF-8, one line
    std::string from; // UTF-8, one line
    std::array<std::uint64_t, 3> figures{};

    // A text that starts with a mark no message text starts with.
    std::string Encode() const;
    // The problem inside text, if text is one (and well-formed).
    static std::optional<TProblem> Decode(std::string_view text);
    // A short English wording, for logs and programs without a window.
    std::string Plain() const;

    bool operator==(const TProblem &) const = default;
};

// text itself, or its plain wording when it is an encoded problem.
std::string PlainText(const std::string &text);

} // namespace dz
