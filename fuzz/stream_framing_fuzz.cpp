// The stream framing (an optional preamble, name, the size in ten
// characters, body) fed arbitrary
// bytes cut anywhere, compared with a plain reading of the format; and its
// body counted elsewhere (BodyArrived, as the stream server does when bytes
// go straight into a sink) in steps up to the largest size the field holds.

#include "check.h"
#include "feeding.h"
#include "services/framing.h"

#include <string>

namespace {

using dz::services::TFrameState;
using dz::services::TStreamFraming;

constexpr std::int64_t kLargestSize = 9999999999; // ten digits

struct TExpected {
    TFrameState state = TFrameState::NeedMore;
    std::size_t taken = 0;
    std::string from, badField;
    bool header = false; // the size field has been read
    std::int64_t size = 0, bodyLeft = 0;
};

TExpected Read(std::string_view in)
{
    TExpected e;
    const auto field = [&](std::size_t width) -> std::optional<std::int64_t> {
        if (in.size() - e.taken < width) {
            e.taken = in.size();
            return std::nullopt;
        }
        const std::string_view text = in.substr(e.taken, width);
        e.taken += width;
        const auto value = fuzz::PlainNumber(text);
        if (!value) {
            e.state = TFrameState::Malformed;
            e.badField = text;
        }
        return value;
    };
    // A copy of ours may begin with "DZ" and two hexadecimal digits of
    // known layout bits (1 to 15, but 8 only with 1), once.
    if (in.size() >= 4 && in.substr(0, 3) == "DZ0" &&
        ((in[3] >= '1' && in[3] <= '7') || in[3] == '9' || in[3] == 'B' || in[3] == 'D' || in[3] == 'F'))
        e.taken = 4;
    const auto count = field(4);
    if (!count)
        return e;
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(*count, 0));
    e.from = in.substr(e.taken, n);
    e.taken += e.from.size();
    if (e.from.size() < n)
        return e;
    const auto size = field(10);
    if (!size)
        return e;
    e.header = true;
    e.size = std::max<std::int64_t>(*size, 0);
    const auto body = std::min<std::int64_t>(e.size, static_cast<std::int64_t>(in.size() - e.taken));
    e.taken += static_cast<std::size_t>(body);
    e.bodyLeft = e.size - body;
    e.state = e.bodyLeft == 0 ? TFrameState::Complete : TFrameState::NeedMore;
    return e;
}

// What holds after every feed and every count of body bytes.
void Consistent(const TStreamFraming &f)
{
    FUZZ_CHECK(f.Size() >= 0 && f.Size() <= kLargestSize);
    FUZZ_CHECK(f.BodyLeft() >= 0 && f.BodyLeft() <= f.Size());
    if (f.InBody()) {
        FUZZ_CHECK(f.State() == TFrameState::NeedMore);
        FUZZ_CHECK(f.BodyLeft() > 0);
        FUZZ_CHECK(f.Wanted() == static_cast<std::size_t>(f.BodyLeft()));
    }
    if (f.State() == TFrameState::Complete)
        FUZZ_CHECK(f.BodyLeft() == 0);
}

void Compare(const TStreamFraming &f, std::size_t taken, const TExpected &e)
{
    FUZZ_CHECK(f.State() == e.state);
    FUZZ_CHECK(taken == e.taken);
    FUZZ_CHECK(f.From() == e.from);
    FUZZ_CHECK(f.InBody() == (e.header && e.bodyLeft > 0));
    if (e.header) {
        FUZZ_CHECK(f.Size() == e.size);
        FUZZ_CHECK(f.BodyLeft() == e.bodyLeft);
    }
    if (e.state == TFrameState::Malformed)
        FUZZ_CHECK(f.Error() == fuzz::ConvertErrorText(e.badField));
    else
        FUZZ_CHECK(f.Error().empty());
}

// Counts that BodyArrived is handed: small ones, and powers of two up to
// past the largest size.
std::size_t Amount(std::uint8_t b)
{
    return b < 128 ? b : (std::size_t(1) << (b % 40)) + b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    const TExpected expected = Read(in);

    {
        TStreamFraming whole;
        Compare(whole, fuzz::FeedAll(whole, in, [&] { return in.size(); }, fuzz::TAsk::Any, Consistent), expected);
    }
    {
        TStreamFraming bytes;
        Compare(bytes, fuzz::FeedAll(bytes, in, [] { return std::size_t(1); }, fuzz::TAsk::Any, Consistent), expected);
    }
    {
        fuzz::TPieces pieces(data, size, 40);
        TStreamFraming cut;
        Compare(cut, fuzz::FeedAll(cut, in, [&] { return pieces.Next(); }, fuzz::TAsk::Any, Consistent), expected);
    }
    {
        fuzz::TPieces pieces(data, size, 255);
        TStreamFraming reader;
        Compare(reader,
                fuzz::FeedAll(reader, in, [&] { return pieces.Next() * 16; }, fuzz::TAsk::AtMostWanted, Consistent),
                expected);
    }

    // The header as the stream server reads it, then the body counted apart:
    // bytes fed and bytes counted by turns, amounts taken from the input.
    TStreamFraming f;
    f.BodyArrived(1000); // before the header: nothing
    FUZZ_CHECK(f.BodyLeft() == 0 && f.Size() == 0 && !f.InBody());
    std::size_t taken = 0;
    while (f.State() == TFrameState::NeedMore && !f.InBody() && taken < in.size()) {
        const std::size_t used = f.Feed(in.substr(taken, std::min(f.Wanted(), in.size() - taken)));
        FUZZ_CHECK(used > 0);
        taken += used;
    }
    Consistent(f);
    if (!f.InBody())
        return 0;
    const std::int64_t announced = f.Size();
    for (std::size_t k = 0; k < size && f.InBody(); ++k) {
        const std::int64_t left = f.BodyLeft();
        if (k % 2 == 0) {
            const std::size_t n = Amount(data[k]);
            f.BodyArrived(n);
            FUZZ_CHECK(f.BodyLeft() == left - std::min<std::int64_t>(left, static_cast<std::int64_t>(n)));
        } else {
            const std::string_view piece = in.substr(k, std::min<std::size_t>(data[k], size - k));
            const std::size_t used = f.Feed(piece);
            FUZZ_CHECK(used == std::min<std::size_t>(piece.size(), static_cast<std::size_t>(left)));
            FUZZ_CHECK(f.BodyLeft() == left - static_cast<std::int64_t>(used));
        }
        FUZZ_CHECK(f.Size() == announced);
        FUZZ_CHECK((f.State() == TFrameState::Complete) == (f.BodyLeft() == 0));
        Consistent(f);
    }
    if (f.State() == TFrameState::Complete) {
        f.BodyArrived(1); // after the end: nothing
        FUZZ_CHECK(f.State() == TFrameState::Complete && f.BodyLeft() == 0 && f.Feed("x") == 0);
    }
    return 0;
}
