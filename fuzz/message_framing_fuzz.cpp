// The message framing fed arbitrary bytes whole, byte by byte, in pieces
// whose sizes come from the input, and as the socket reader feeds it (never
// more than Wanted()). Every way must end as a plain reading of the format
// says: the same state, the same bytes taken, the same name and text.
// StrToInt64 is held to the same plain reading of a number field.

#include "check.h"
#include "feeding.h"
#include "services/framing.h"

#include <string>

namespace {

using dz::services::EConvertError;
using dz::services::TFrameState;
using dz::services::TMessageFraming;

struct TExpected {
    TFrameState state = TFrameState::NeedMore;
    std::size_t taken = 0;
    std::string from, msg, badField;
};

// "%.4d" name length, name, "%.4d" text length, text; a length of zero or
// less is an empty field.
TExpected Read(std::string_view in)
{
    TExpected e;
    std::string *counted[] = {&e.from, &e.msg};
    for (std::string *text : counted) {
        if (in.size() - e.taken < 4) {
            e.taken = in.size();
            return e;
        }
        const std::string_view field = in.substr(e.taken, 4);
        e.taken += 4;
        const auto count = fuzz::PlainNumber(field);
        if (!count) {
            e.state = TFrameState::Malformed;
            e.badField = field;
            return e;
        }
        const auto n = static_cast<std::size_t>(std::max<std::int64_t>(*count, 0));
        *text = in.substr(e.taken, n);
        e.taken += text->size();
        if (text->size() < n)
            return e;
    }
    e.state = TFrameState::Complete;
    return e;
}

void Compare(const TMessageFraming &f, std::size_t taken, const TExpected &e)
{
    FUZZ_CHECK(f.State() == e.state);
    FUZZ_CHECK(taken == e.taken);
    FUZZ_CHECK(f.From() == e.from);
    FUZZ_CHECK(f.Msg() == e.msg);
    if (e.state == TFrameState::Malformed)
        FUZZ_CHECK(f.Error() == fuzz::ConvertErrorText(e.badField));
    else
        FUZZ_CHECK(f.Error().empty());
}

void CheckStrToInt64(std::string_view field)
{
    const auto plain = fuzz::PlainNumber(field);
    try {
        const std::int64_t value = dz::services::StrToInt64(field);
        FUZZ_CHECK(plain && *plain == value);
    } catch (const EConvertError &e) {
        FUZZ_CHECK(!plain);
        FUZZ_CHECK(e.what() == fuzz::ConvertErrorText(field));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    const TExpected expected = Read(in);
    if (expected.state == TFrameState::Complete) {
        // A complete message holds as many bytes as its counts say.
        const auto nameCount = std::max<std::int64_t>(*fuzz::PlainNumber(in.substr(0, 4)), 0);
        const auto textCount =
            std::max<std::int64_t>(*fuzz::PlainNumber(in.substr(4 + static_cast<std::size_t>(nameCount), 4)), 0);
        FUZZ_CHECK(expected.from.size() == static_cast<std::size_t>(nameCount));
        FUZZ_CHECK(expected.msg.size() == static_cast<std::size_t>(textCount));
        FUZZ_CHECK(expected.taken == static_cast<std::size_t>(8 + nameCount + textCount));
    }
    const auto nothing = [](const TMessageFraming &) {};

    {
        TMessageFraming whole;
        Compare(whole, fuzz::FeedAll(whole, in, [&] { return in.size(); }, fuzz::TAsk::Any, nothing), expected);
    }
    {
        TMessageFraming bytes;
        Compare(bytes, fuzz::FeedAll(bytes, in, [] { return std::size_t(1); }, fuzz::TAsk::Any, nothing), expected);
    }
    {
        fuzz::TPieces pieces(data, size, 40);
        TMessageFraming cut;
        Compare(cut, fuzz::FeedAll(cut, in, [&] { return pieces.Next(); }, fuzz::TAsk::Any, nothing), expected);
    }
    {
        // As the socket reader asks: Wanted() at most, in pieces of up to 4 KiB.
        fuzz::TPieces pieces(data, size, 255);
        TMessageFraming reader;
        Compare(reader,
                fuzz::FeedAll(reader, in, [&] { return pieces.Next() * 16; }, fuzz::TAsk::AtMostWanted, nothing),
                expected);
    }

    // The front of the input as one number field, of any width.
    CheckStrToInt64(in.substr(0, std::min<std::size_t>(in.size(), 24)));
    return 0;
}
