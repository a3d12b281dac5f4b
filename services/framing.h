#pragma once
// The request framings of both services as parsers on bytes: no socket, no
// blocking. Feed them what has arrived, in pieces of any size; they take
// only the bytes that belong to the request and say whether they need more,
// have it all, or have seen a field that is not a number.
//
// Message:  "%.4d" name length, name, "%.4d" text length, text.
// Stream:   "%.4d" name length, name, the size in ten characters, body;
//           between two copies of ours it may begin with the preamble
//           "DZ" and two hexadecimal digits of layout bits (see
//           TStreamFraming), which an original copy never receives.
// A length or size field holds leading blanks, an optional sign and digits
// only; zero or less means an empty name, text or body.

#include "util/errors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dz::services {

enum class TFrameState { NeedMore, Complete, Malformed };

// A field that is not a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Leading blanks skipped, an optional sign, then only digits; anything else
// (also an empty field, or a value beyond ten digits) raises EConvertError.
std::int64_t StrToInt64(std::string_view field);

// The counted sender name that both framings begin with, and the field
// after it. Not used on its own.
class TCountedFraming {
public:
    virtual ~TCountedFraming() = default;
    // Takes bytes from the front of data, never more than the request still
    // lacks; returns how many it took. Nothing once Complete or Malformed.
    virtual std::size_t Feed(std::string_view data) = 0;
    // A stream's header is complete and body bytes are still due.
    virtual bool InBody() const { return false; }
    TFrameState State() const { return state_; }
    // Bytes the current field still lacks: a reader that asks for no more
    // than this never takes a byte beyond the request. 0 unless NeedMore.
    std::size_t Wanted() const;
    const std::string &From() const { return from_; }
    // Why the request is malformed (the EConvertError text).
    const std::string &Error() const { return error_; }

protected:
    enum class Step { NameCount, Name, Second, Third, Done };
    // secondWidth: the width of the field after the name (4 or 10).
    explicit TCountedFraming(std::size_t secondWidth) : secondWidth_(secondWidth) {}
    // Takes bytes for the name and the second field; stops after it.
    std::size_t FeedHeader(std::string_view data);
    // The second field's value once it is complete (called once).
    virtual void SecondField(std::int64_t value) = 0;
    // Parses the collected number field; false (Malformed) when it is none.
    bool TakeNumber(std::int64_t &value);
    // The first four bytes (field_) are a preamble rather than the name's
    // length: taken, and true. Only asked once, for the first field.
    virtual bool TakePreamble() { return false; }
    void Finish() { step_ = Step::Done, state_ = TFrameState::Complete; }

    TFrameState state_ = TFrameState::NeedMore;
    Step step_ = Step::NameCount;
    std::string field_; // the number field being collected
    std::size_t need_ = 4;
    std::string from_;
    std::string error_;
    bool preambleAsked_ = false;

private:
    std::size_t secondWidth_;
};

class TMessageFraming : public TCountedFraming {
public:
    TMessageFraming() : TCountedFraming(4) {}
    std::size_t Feed(std::string_view data) override;
    const std::string &Msg() const { return msg_; }

private:
    void SecondField(std::int64_t value) override;
    std::string msg_;
};

// The layout bits of a stream's preamble: the one place that tells a
// stream's layouts apart. No preamble: today's layout.
enum TStreamBits : unsigned {
    kBitHash = 1,  // the body's XXH3-128 follows it
    kBitSpace = 2, // the sender waits for the server's go-ahead after the header
    kBitBatch = 4, // the body is several files of a folder, each after its path and size
    kBitResume = 8, // the body may continue a part the receiver kept; only with kBitHash
    kKnownBits = kBitHash | kBitSpace | kBitBatch | kBitResume,
};
inline constexpr const char *kPreambleMark = "DZ";

class TStreamFraming : public TCountedFraming {
public:
    TStreamFraming() : TCountedFraming(10) {}
    // "DZ" and the bits as two upper-case hexadecimal digits.
    static std::string Preamble(unsigned bits);
    // The preamble's bits (0 without one); valid once the header is complete.
    unsigned Bits() const { return bits_; }
    // The header, then body bytes (only counted, not kept) up to the
    // announced size.
    std::size_t Feed(std::string_view data) override;
    bool InBody() const override { return step_ == Step::Third && state_ == TFrameState::NeedMore; }
    // The announced size, 0 for zero or less; valid once the header is complete.
    std::int64_t Size() const { return size_; }
    std::int64_t BodyLeft() const { return bodyLeft_; }
    // Counts body bytes received elsewhere (straight into a sink); at most BodyLeft().
    void BodyArrived(std::size_t n);

private:
    void SecondField(std::int64_t value) override;
    bool TakePreamble() override;
    unsigned bits_ = 0;
    std::int64_t size_ = 0;
    std::int64_t bodyLeft_ = 0;
};

} // namespace dz::services
