#pragma once
// Byte streams: the abstract stream the transfers read and write, and a
// memory stream that grows with what is actually written into it.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace dz::net {

class TStream {
public:
    virtual ~TStream() = default;
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    // Clamped to 0 .. Size().
    virtual void SetPosition(std::int64_t position) = 0;
    // Reads up to count bytes from the position; returns the count read.
    virtual std::int64_t Read(void *buffer, std::int64_t count) = 0;
    // Writes count bytes at the position, growing the stream as needed.
    // Raises dz::Exception "Out of memory" when the memory runs out.
    virtual std::int64_t Write(const void *buffer, std::int64_t count) = 0;
};

// Held in blocks of 1 MiB: growing never moves what is already stored, and
// memory follows the bytes written (at most one block of slack).
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override = default;
    TMemoryStream(const TMemoryStream &) = delete;
    TMemoryStream &operator=(const TMemoryStream &) = delete;

    std::int64_t Size() const override { return size_; }
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Read(void *buffer, std::int64_t count) override;
    std::int64_t Write(const void *buffer, std::int64_t count) override;

    // The whole content as one text (a copy).
    std::string ToString() const;
    void Clear();

    static constexpr std::int64_t kBlockSize = 1 << 20;

private:
    struct FreeBlock {
        void operator()(char *p) const { std::free(p); }
    };
    std::vector<std::unique_ptr<char, FreeBlock>> blocks_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

} // namespace dz::net
