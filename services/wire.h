#pragma once
// Pieces of the wire formats shared by the message and stream services.

#include "net/powersock.h"
#include "util/errors.h"

#include <string>

namespace dz::services {

// The acknowledgement of both servers: O, K and 14 spaces.
inline const std::string kReply = "OK              ";

// A counted text holds at most this many bytes (four decimal digits).
constexpr std::size_t kMaxCountedText = 9999;

// A field that is not a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// "%.4d" of the text's length, then the text.
std::string CountedText(const std::string &text);

// Refuses, before anything reaches the wire, a text that the four-digit
// count cannot frame or that holds a zero byte (a write stops there).
// `what` names the text in the message ("Sender name", "Text").
void CheckCountedText(const std::string &what, const std::string &text);

// The body of a counted field: exactly n bytes (none for n <= 0). A client
// that closes in the middle raises ESockError.
std::string ReadCounted(net::TPowersock &sock, int n);

// Leading blanks skipped, an optional sign, then only digits; anything else
// (also an empty field) raises EConvertError.
int StrToInt(const std::string &field);

} // namespace dz::services
