#pragma once
// Pieces of the wire formats shared by the message and stream services.

#include "net/powersock.h"
#include "services/framing.h"
#include "util/errors.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dz::services {

// The acknowledgement of both servers: O, K and 14 spaces.
inline const std::string kReply = "OK              ";

// Between two copies that both showed Hash, the stream server's answer when
// the 16 bytes after the body are not the XXH3-128 of the body: nothing was
// stored. Never sent to any other peer.
inline const std::string kHashMismatch = "HASH_MISMATCH   ";

// Between two copies that both showed Space, the stream server's first
// answer, right after the header: the body may come ...
inline const std::string kGo = "GO              ";
// ... or it does not fit: these 16 bytes and three fields of kSpaceField
// characters ("%20llu"): the bytes asked for, the bytes free on the
// receiving side, and those it keeps free. Nothing of the body follows.
inline const std::string kNoSpace = "NO_SPACE        ";
constexpr std::size_t kSpaceField = 20;
std::string NoSpaceAnswer(std::uint64_t needed, std::uint64_t free, std::uint64_t reserve);

// Between two copies that both showed Resume (and Hash), the fields of the
// continuation, each kSpaceField characters "%20lld" (blanks, then digits):
// the sender's modification time after the header, the receiver's offer
// (the bytes it kept, then their XXH3-128) and the sender's choice (where
// the body starts: the offer's length or 0).
std::string WideField(std::int64_t value);
// A WideField's value; -1 when it is none (also a negative one).
std::int64_t ParseWideField(std::string_view field);

// What a client raises when the server closes without a reply.
inline const std::string kNoReply = "Connection closed by the peer without a reply";

// A counted text holds at most this many bytes (four decimal digits).
constexpr std::size_t kMaxCountedText = 9999;

// "%.4d" of the text's length, then the text.
std::string CountedText(const std::string &text);

// Refuses, before anything reaches the wire, a text that the four-digit
// count cannot frame or that holds a zero byte (a write stops there).
// `what` names the text in the message ("Sender name", "Text").
void CheckCountedText(const std::string &what, const std::string &text);

// Feeds framing with what arrives on sock (never a byte beyond the
// request, up to the header's end for a stream) until it is complete,
// malformed, or in a stream's body. Malformed: EConvertError; the client
// closing first: ESockError "Connection closed in the middle of a field".
void ReadFraming(net::TPowersock &sock, TCountedFraming &framing);

// Leading blanks skipped, an optional sign, then only digits; anything else
// (also an empty field) raises EConvertError.
int StrToInt(const std::string &field);

} // namespace dz::services
