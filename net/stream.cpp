#include "stream.h"

#include "util/errors.h"

#include <algorithm>
#include <cstring>

namespace dz::net {

void TMemoryStream::SetPosition(std::int64_t position)
{
    position_ = std::clamp<std::int64_t>(position, 0, size_);
}

std::int64_t TMemoryStream::Read(void *buffer, std::int64_t count)
{
    auto *out = static_cast<char *>(buffer);
    std::int64_t done = 0;
    while (done < count && position_ < size_) {
        const std::int64_t offset = position_ % kBlockSize;
        const std::int64_t n = std::min({count - done, kBlockSize - offset, size_ - position_});
        std::memcpy(out + done, blocks_[static_cast<std::size_t>(position_ / kBlockSize)].get() + offset,
                    static_cast<std::size_t>(n));
        done += n;
        position_ += n;
    }
    return done;
}

std::int64_t TMemoryStream::Write(const void *buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    const auto *in = static_cast<const char *>(buffer);
    const std::int64_t end = position_ + count;
    // Blocks for the whole write first, so a failure leaves the stream as it was.
    const auto needed = static_cast<std::size_t>((end + kBlockSize - 1) / kBlockSize);
    try {
        while (blocks_.size() < needed) {
            char *block = static_cast<char *>(std::malloc(static_cast<std::size_t>(kBlockSize)));
            if (!block)
                throw std::bad_alloc();
            blocks_.emplace_back(block);
        }
    } catch (const std::bad_alloc &) {
        throw Exception("Out of memory");
    }
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t offset = position_ % kBlockSize;
        const std::int64_t n = std::min(count - done, kBlockSize - offset);
        char *block = blocks_[static_cast<std::size_t>(position_ / kBlockSize)].get();
        std::memcpy(block + offset, in + done, static_cast<std::size_t>(n));
        done += n;
        position_ += n;
    }
    size_ = std::max(size_, end);
    return count;
}

std::string TMemoryStream::ToString() const
{
    std::string out;
    out.reserve(static_cast<std::size_t>(size_));
    for (std::int64_t at = 0; at < size_; at += kBlockSize)
        out.append(blocks_[static_cast<std::size_t>(at / kBlockSize)].get(),
                   static_cast<std::size_t>(std::min(kBlockSize, size_ - at)));
    return out;
}

void TMemoryStream::Clear()
{
    blocks_.clear();
    size_ = position_ = 0;
}

} // namespace dz::net
