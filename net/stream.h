#pragma once
// Byte streams: the abstract stream the transfers read and write, and a
// memory stream that grows with what is actually written into it.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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
    // Hands the bytes over without copying; other is left empty.
    TMemoryStream(TMemoryStream &&other) noexcept;
    TMemoryStream &operator=(TMemoryStream &&other) noexcept;

    std::int64_t Size() const override { return size_; }
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Read(void *buffer, std::int64_t count) override;
    std::int64_t Write(const void *buffer, std::int64_t count) override;

    // The whole content as one text (a copy).
    std::string ToString() const;
    void Clear();

    // The content in order, one view per block, without a copy. Every
    // block but the last is full and starts on a kBlockAlign boundary, so
    // the views can go to the disk unbuffered.
    std::vector<std::string_view> Pieces() const;

    // Copy-free access for the transfers. ReadableRun: up to most bytes
    // from the position, within one block (empty at the end). Skip moves
    // the position on by count. AppendRoom: up to most bytes of room at the
    // end, within one block; only when the position is at the end, else
    // empty. Appended: counts bytes put into that room as written.
    std::span<const char> ReadableRun(std::size_t most) const;
    void Skip(std::int64_t count);
    std::span<char> AppendRoom(std::size_t most);
    void Appended(std::size_t count);

    static constexpr std::int64_t kBlockSize = 1 << 20;
    static constexpr std::size_t kBlockAlign = 4096;

private:
    struct FreeBlock {
        void operator()(char *p) const;
    };
    // At least this many blocks; raises "Out of memory".
    void GrowTo(std::size_t blocks);

    std::vector<std::unique_ptr<char, FreeBlock>> blocks_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

} // namespace dz::net
