#include "filestream.h"

#include "util/errors.h"
#include "util/files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::net {

TFileStream::TFileStream(const std::string &path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd_ >= 0)
            ::close(fd_);
        throw EFileError("Cannot open file " + path);
    }
    size_ = st.st_size;
    // Read once, front to back: the kernel may read well ahead.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

TFileStream::~TFileStream()
{
    ::close(fd_);
}

void TFileStream::SetPosition(std::int64_t position)
{
    position_ = std::clamp<std::int64_t>(position, 0, size_);
}

std::int64_t TFileStream::Read(void *buffer, std::int64_t count)
{
    auto *out = static_cast<char *>(buffer);
    std::int64_t done = 0;
    count = std::min(count, size_ - position_);
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, static_cast<std::size_t>(count - done), position_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ThrowUnreadable();
        if (n == 0)
            ThrowChanged();
        done += n;
        position_ += n;
    }
    if (position_ == size_)
        CheckUnchanged();
    return done;
}

std::int64_t TFileStream::Write(const void *, std::int64_t)
{
    throw Exception("Stream write error");
}

void TFileStream::ThrowUnreadable() const
{
    throw EFileError("Cannot read file " + path_);
}

void TFileStream::ThrowChanged() const
{
    throw EFileError("File " + path_ + " changed size while it was sent");
}

void TFileStream::CheckUnchanged() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        ThrowUnreadable();
    if (st.st_size != size_)
        ThrowChanged();
}

} // namespace dz::net
