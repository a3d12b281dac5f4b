#include "framing.h"

#include <algorithm>

namespace dz::services {

std::int64_t StrToInt64(std::string_view field)
{
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    const std::size_t digitsStart = i;
    std::int64_t value = 0;
    // An eleventh digit already refuses the field; reading on could overflow.
    for (; i < field.size() && i - digitsStart < 11; ++i) {
        const char c = field[i];
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
    }
    if (i == digitsStart || i != field.size() || i - digitsStart > 10)
        throw EConvertError("'" + std::string(field) + "' is not a valid integer value");
    return negative ? -value : value;
}

std::size_t TCountedFraming::Wanted() const
{
    if (state_ != TFrameState::NeedMore)
        return 0;
    return need_;
}

bool TCountedFraming::TakeNumber(std::int64_t &value)
{
    try {
        value = StrToInt64(field_);
    } catch (const EConvertError &e) {
        error_ = e.what();
        state_ = TFrameState::Malformed;
        return false;
    }
    field_.clear();
    return true;
}

std::size_t TCountedFraming::FeedHeader(std::string_view data)
{
    std::size_t used = 0;
    while (state_ == TFrameState::NeedMore && step_ != Step::Third && used < data.size()) {
        const std::size_t n = std::min(need_, data.size() - used);
        const std::string_view piece = data.substr(used, n);
        used += n;
        need_ -= n;
        if (step_ == Step::Name) {
            from_.append(piece);
        } else {
            field_.append(piece);
        }
        if (need_ > 0)
            break;
        std::int64_t value = 0;
        switch (step_) {
        case Step::NameCount:
            if (!preambleAsked_) {
                preambleAsked_ = true;
                if (TakePreamble()) {
                    field_.clear();
                    need_ = 4;
                    break;
                }
            }
            if (!TakeNumber(value))
                return used;
            if (value > 0) {
                step_ = Step::Name;
                need_ = static_cast<std::size_t>(value);
                from_.reserve(need_);
            } else {
                step_ = Step::Second;
                need_ = secondWidth_;
            }
            break;
        case Step::Name:
            step_ = Step::Second;
            need_ = secondWidth_;
            break;
        case Step::Second:
            if (!TakeNumber(value))
                return used;
            step_ = Step::Third;
            SecondField(value);
            break;
        default:
            break;
        }
    }
    return used;
}

std::size_t TMessageFraming::Feed(std::string_view data)
{
    std::size_t used = FeedHeader(data);
    if (state_ != TFrameState::NeedMore || step_ != Step::Third)
        return used;
    const std::size_t n = std::min(need_, data.size() - used);
    msg_.append(data.substr(used, n));
    used += n;
    need_ -= n;
    if (need_ == 0)
        Finish();
    return used;
}

void TMessageFraming::SecondField(std::int64_t value)
{
    if (value <= 0) {
        Finish();
        return;
    }
    need_ = static_cast<std::size_t>(value);
    msg_.reserve(need_);
}

std::size_t TStreamFraming::Feed(std::string_view data)
{
    std::size_t used = FeedHeader(data);
    if (!InBody())
        return used;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(bodyLeft_, static_cast<std::int64_t>(data.size() - used)));
    BodyArrived(n);
    return used + n;
}

void TStreamFraming::BodyArrived(std::size_t n)
{
    if (!InBody())
        return;
    bodyLeft_ -= std::min<std::int64_t>(bodyLeft_, static_cast<std::int64_t>(n));
    need_ = static_cast<std::size_t>(std::min<std::int64_t>(bodyLeft_, static_cast<std::int64_t>(SIZE_MAX / 2)));
    if (bodyLeft_ == 0)
        Finish();
}

std::string TStreamFraming::Preamble(unsigned bits)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string(kPreambleMark) + digits[(bits >> 4) & 15] + digits[bits & 15];
}

bool TStreamFraming::TakePreamble()
{
    // Only known bits: anything else is no preamble, and then no number.
    for (unsigned bits = 1; bits <= kKnownBits; ++bits)
        // A continued body is proved by its hash: Resume never comes alone.
        if (field_ == Preamble(bits) && ((bits & kBitResume) == 0 || (bits & kBitHash) != 0)) {
            bits_ = bits;
            return true;
        }
    return false;
}

void TStreamFraming::SecondField(std::int64_t value)
{
    size_ = value > 0 ? value : 0;
    bodyLeft_ = size_;
    need_ = static_cast<std::size_t>(size_);
    if (size_ == 0)
        Finish();
}

} // namespace dz::services
