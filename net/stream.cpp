#include "stream.h"

#include "util/errors.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <utility>

namespace dz::net {

namespace {

// A block is mapped on its own and its pages are made present in one go:
// far cheaper than taking a fault on each page as bytes arrive, and the
// block starts on a page boundary, which unbuffered disk writes need.
char *NewBlock()
{
    void *block = ::mmap(nullptr, static_cast<std::size_t>(TMemoryStream::kBlockSize), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED)
        throw Exception("Out of memory");
    return static_cast<char *>(block);
}

} // namespace

void TMemoryStream::FreeBlock::operator()(char *p) const
{
    ::munmap(p, static_cast<std::size_t>(kBlockSize));
}

TMemoryStream::TMemoryStream(TMemoryStream &&other) noexcept
    : blocks_(std::move(other.blocks_)), size_(std::exchange(other.size_, 0)),
      position_(std::exchange(other.position_, 0))
{
    other.blocks_.clear();
}

TMemoryStream &TMemoryStream::operator=(TMemoryStream &&other) noexcept
{
    if (this != &other) {
        blocks_ = std::move(other.blocks_);
        other.blocks_.clear();
        size_ = std::exchange(other.size_, 0);
        position_ = std::exchange(other.position_, 0);
    }
    return *this;
}

void TMemoryStream::GrowTo(std::size_t blocks)
{
    try {
        blocks_.reserve(blocks);
    } catch (const std::bad_alloc &) {
        throw Exception("Out of memory");
    }
    while (blocks_.size() < blocks)
        blocks_.emplace_back(NewBlock());
}

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
    GrowTo(static_cast<std::size_t>((end + kBlockSize - 1) / kBlockSize));
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

std::vector<std::string_view> TMemoryStream::Pieces() const
{
    std::vector<std::string_view> pieces;
    pieces.reserve(blocks_.size());
    for (std::int64_t at = 0; at < size_; at += kBlockSize)
        pieces.emplace_back(blocks_[static_cast<std::size_t>(at / kBlockSize)].get(),
                            static_cast<std::size_t>(std::min(kBlockSize, size_ - at)));
    return pieces;
}

std::span<const char> TMemoryStream::ReadableRun(std::size_t most) const
{
    if (position_ >= size_)
        return {};
    const std::int64_t offset = position_ % kBlockSize;
    const auto n = static_cast<std::size_t>(
        std::min({static_cast<std::int64_t>(most), kBlockSize - offset, size_ - position_}));
    return {blocks_[static_cast<std::size_t>(position_ / kBlockSize)].get() + offset, n};
}

void TMemoryStream::Skip(std::int64_t count)
{
    SetPosition(position_ + count);
}

std::span<char> TMemoryStream::AppendRoom(std::size_t most)
{
    if (position_ != size_ || most == 0)
        return {};
    const std::int64_t offset = size_ % kBlockSize;
    GrowTo(static_cast<std::size_t>(size_ / kBlockSize) + 1);
    const auto n = static_cast<std::size_t>(std::min(static_cast<std::int64_t>(most), kBlockSize - offset));
    return {blocks_[static_cast<std::size_t>(size_ / kBlockSize)].get() + offset, n};
}

void TMemoryStream::Appended(std::size_t count)
{
    // Only what AppendRoom offered can have been filled.
    const std::int64_t room = static_cast<std::int64_t>(blocks_.size()) * kBlockSize - size_;
    const std::int64_t n = std::min(static_cast<std::int64_t>(count), room);
    size_ += n;
    position_ = size_;
}

void TMemoryStream::Clear()
{
    blocks_.clear();
    size_ = position_ = 0;
}

} // namespace dz::net
