#pragma once
// Byte streams: the abstract stream the transfers read and write, and a
// memory stream that grows with what is actually written into it.

#include <cstdint>
#include <string>

namespace dz::net {

class TStream {
public:
    virtual ~TStream() = default;
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    // Reads up to count bytes from the position; returns the count read.
    virtual std::int64_t Read(void *buffer, std::int64_t count) = 0;
    // Writes count bytes at the position, growing the stream as needed.
    // Raises dz::Exception "Out of memory" when the memory runs out.
    virtual std::int64_t Write(const void *buffer, std::int64_t count) = 0;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream &) = delete;
    TMemoryStream &operator=(const TMemoryStream &) = delete;

    std::int64_t Size() const override { return size_; }
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Read(void *buffer, std::int64_t count) override;
    std::int64_t Write(const void *buffer, std::int64_t count) override;

    const char *Memory() const { return data_; }
    std::string ToString() const { return std::string(data_ ? data_ : "", static_cast<std::size_t>(size_)); }
    void Clear();

private:
    void Reserve(std::int64_t needed);

    char *data_ = nullptr;
    std::int64_t size_ = 0;
    std::int64_t capacity_ = 0;
    std::int64_t position_ = 0;
};

} // namespace dz::net
