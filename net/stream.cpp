#include "stream.h"

#include "util/errors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace dz::net {

TMemoryStream::~TMemoryStream()
{
    std::free(data_);
}

void TMemoryStream::SetPosition(std::int64_t position)
{
    position_ = std::max<std::int64_t>(0, position);
}

std::int64_t TMemoryStream::Read(void *buffer, std::int64_t count)
{
    const std::int64_t n = std::clamp<std::int64_t>(size_ - position_, 0, std::max<std::int64_t>(0, count));
    if (n > 0)
        std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void *buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    const std::int64_t end = position_ + count;
    Reserve(end);
    std::memcpy(data_ + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
    size_ = std::max(size_, end);
    return count;
}

void TMemoryStream::Clear()
{
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = position_ = 0;
}

// Grows by doubling: few moves of the data, and the untouched room at the
// end costs address space, not memory (pages are only backed once written).
void TMemoryStream::Reserve(std::int64_t needed)
{
    if (needed <= capacity_)
        return;
    const std::int64_t newCapacity = std::max<std::int64_t>({needed, capacity_ * 2, 64 * 1024});
    void *grown = std::realloc(data_, static_cast<std::size_t>(newCapacity));
    if (!grown)
        throw Exception("Out of memory");
    data_ = static_cast<char *>(grown);
    capacity_ = newCapacity;
}

} // namespace dz::net
