#pragma once
// A file as a stream to send: its size is fixed when it is opened, and the
// transfers send it from the file block by block as they go, never the
// whole file in memory.

#include "net/stream.h"

#include <cstdint>
#include <string>

namespace dz::net {

class TFileStream : public TStream {
public:
    // path: a UTF-8 path. Raises dz::EFileError
    // "Cannot open file <path>" when it is no readable regular file.
    explicit TFileStream(const std::string &path);
    ~TFileStream() override;
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;

    // The size at open, whatever the file does later.
    std::int64_t Size() const override { return size_; }
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    // Raises the errors below when the file cannot give the bytes it had.
    std::int64_t Read(void *buffer, std::int64_t count) override;
    // A file sent is not written: raises dz::Exception.
    std::int64_t Write(const void *buffer, std::int64_t count) override;

    const std::string &Path() const { return path_; }
    int Handle() const { return fd_; }

    // dz::EFileError "Cannot read file <path>" (a read failed) and
    // "File <path> changed size while it was sent" (it ended early, or its
    // size differs from the one at open).
    [[noreturn]] void ThrowUnreadable() const;
    [[noreturn]] void ThrowChanged() const;
    // Raises ThrowChanged's error when the file's size is no longer Size().
    void CheckUnchanged() const;

private:
    std::string path_;
    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

} // namespace dz::net
