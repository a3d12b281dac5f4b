#include "filesink.h"

#include "util/errors.h"
#include "util/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz {
namespace {

// Writeback is started after this many new bytes.
constexpr std::int64_t kFlowStep = 32 << 20;
constexpr std::size_t kDirectAlign = 4096;

bool IsLeftoverName(const char *name)
{
    // ".dizaruz-" + six characters of mkstemp + ".part"
    const std::size_t prefix = std::strlen(TFileSink::kPrefix), suffix = std::strlen(TFileSink::kSuffix);
    const std::size_t n = std::strlen(name);
    return n == prefix + 6 + suffix && std::strncmp(name, TFileSink::kPrefix, prefix) == 0 &&
           std::strcmp(name + prefix + 6, TFileSink::kSuffix) == 0;
}

// The folder that holds path ("" for a bare name: the working folder).
std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void TFileSink::Buffer::operator()(char *p) const
{
    ::munmap(p, size);
}

TFileSink::TFileSink(const std::string &folderPath, Mode mode, std::size_t bufferSize) : bufferSize_(bufferSize)
{
    std::string folder = folderPath;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    tempPath_ = folder + kPrefix + "XXXXXX" + kSuffix;
    fsTempPath_ = folder + kPrefix + "XXXXXX" + kSuffix;
    fd_ = ::mkostemps(fsTempPath_.data(), static_cast<int>(std::strlen(kSuffix)), O_CLOEXEC);
    if (fd_ < 0)
        throw EFileError("Cannot create file " + tempPath_);
    // The six characters mkostemps chose, in the program's form of the path.
    const std::size_t at = tempPath_.size() - std::strlen(kSuffix) - 6;
    tempPath_.replace(at, 6, fsTempPath_.substr(fsTempPath_.size() - std::strlen(kSuffix) - 6, 6));
    // The permissions an ordinary new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    MakeBuffer();
    if (mode == Mode::Direct) {
        const int flags = ::fcntl(fd_, F_GETFL);
        direct_ = ::fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0;
    }
}

void TFileSink::MakeBuffer()
{
    void *block = ::mmap(nullptr, bufferSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED) {
        Abandon();
        throw EFileError("Cannot create file " + tempPath_);
    }
    buffer_ = std::unique_ptr<char, Buffer>(static_cast<char *>(block), Buffer {bufferSize_});
}

std::unique_ptr<TFileSink> TFileSink::Continue(const std::string &path, std::int64_t length, Mode mode)
{
    std::unique_ptr<TFileSink> sink(new TFileSink());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < length || length < 0 ||
        ::ftruncate(fd, length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw EFileError("Cannot create file " + path);
    }
    sink->fd_ = fd;
    sink->tempPath_ = sink->fsTempPath_ = path;
    sink->written_ = sink->flowStarted_ = sink->flowDone_ = length;
    sink->MakeBuffer();
    // O_DIRECT wants aligned offsets: a continuation at an odd length goes
    // through the cache.
    if (mode == Mode::Direct && length % static_cast<std::int64_t>(kDirectAlign) == 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        sink->direct_ = ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
    }
    return sink;
}

std::string TFileSink::Keep(const std::string &keptPath)
{
    if (committed_ || fd_ < 0)
        return "Cannot create file " + keptPath;
    const std::string error = Place(keptPath, Replace::Yes, true);
    if (!error.empty()) {
        Abandon();
        return error;
    }
    if (!SyncFolder(FolderOf(keptPath)))
        return "Cannot create file " + keptPath;
    return {};
}

TFileSink::~TFileSink()
{
    Abandon();
}

std::span<char> TFileSink::Room()
{
    return {buffer_.get() + used_, bufferSize_ - used_};
}

void TFileSink::Filled(std::size_t n)
{
    used_ += std::min(n, bufferSize_ - used_);
    if (used_ == bufferSize_ && !WriteOut(false))
        Fail(tempPath_);
}

bool TFileSink::WriteOut(bool final)
{
    if (fd_ < 0)
        return false;
    if (direct_ && (used_ % kDirectAlign) != 0) {
        // The last piece need not be a whole block: it goes through the cache.
        const int flags = ::fcntl(fd_, F_GETFL);
        if (::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) != 0)
            return false;
        direct_ = false;
    }
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n = ::pwrite(fd_, buffer_.get() + done, used_ - done, written_ + static_cast<std::int64_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    written_ += static_cast<std::int64_t>(used_);
    used_ = 0;
    if (!direct_)
        Flow(final);
    return true;
}

void TFileSink::Flow(bool final)
{
    if (!final && written_ - flowStarted_ < kFlowStep)
        return;
    // Wait for the previous step to reach the disk and drop it from the
    // cache, then start writing back this one: the disk works while the
    // next bytes arrive, and the cache never fills with this file.
    if (flowStarted_ > flowDone_) {
        ::sync_file_range(fd_, flowDone_, flowStarted_ - flowDone_,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        ::posix_fadvise(fd_, flowDone_, flowStarted_ - flowDone_, POSIX_FADV_DONTNEED);
        flowDone_ = flowStarted_;
    }
    if (written_ > flowStarted_) {
        ::sync_file_range(fd_, flowStarted_, written_ - flowStarted_, SYNC_FILE_RANGE_WRITE);
        flowStarted_ = written_;
    }
}

void TFileSink::Commit(const std::string &finalPath, Replace replace)
{
    const std::string error = Place(finalPath, replace, true);
    if (!error.empty())
        throw EFileError(error);
    if (!SyncFolder(FolderOf(finalPath)))
        Fail(finalPath);
}

std::string TFileSink::Place(const std::string &finalPath, Replace replace, bool fileSync)
{
    const std::string failed = "Cannot create file ";
    if (committed_ || fd_ < 0)
        return failed + finalPath;
    if (!WriteOut(true) || (fileSync && ::fsync(fd_) != 0))
        return failed + tempPath_;
    if (!direct_ && written_ > flowDone_)
        ::posix_fadvise(fd_, flowDone_, written_ - flowDone_, POSIX_FADV_DONTNEED);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return failed + tempPath_;
    // In one step, so the final name never holds a part of the file.
    const unsigned flags = replace == Replace::No ? RENAME_NOREPLACE : 0;
    if (::renameat2(AT_FDCWD, fsTempPath_.c_str(), AT_FDCWD, finalPath.c_str(), flags) != 0)
        return failed + finalPath;
    committed_ = true;
    return {};
}

std::vector<std::string> TFileSink::CommitBatch(std::span<const TCommitItem> items)
{
    std::vector<std::string> results(items.size());
    // The data first, one flush per file system: no final name may appear
    // before its bytes are on the disk.
    std::vector<dev_t> synced;
    for (std::size_t i = 0; i < items.size(); ++i) {
        TFileSink &sink = *items[i].sink;
        if (sink.committed_ || sink.fd_ < 0) {
            results[i] = "Cannot create file " + items[i].finalPath;
            continue;
        }
        if (!sink.WriteOut(true)) {
            results[i] = "Cannot create file " + sink.tempPath_;
            continue;
        }
        struct stat st {};
        if (::fstat(sink.fd_, &st) != 0) {
            results[i] = "Cannot create file " + sink.tempPath_;
            continue;
        }
        if (std::find(synced.begin(), synced.end(), st.st_dev) != synced.end())
            continue;
        // syncfs reports a failed write back of any file there: the files
        // of that file system then fall back on their own fsync below.
        if (::syncfs(sink.fd_) == 0)
            synced.push_back(st.st_dev);
    }
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!results[i].empty())
            continue;
        TFileSink &sink = *items[i].sink;
        struct stat st {};
        const bool flushed = ::fstat(sink.fd_, &st) == 0 &&
                             std::find(synced.begin(), synced.end(), st.st_dev) != synced.end();
        results[i] = sink.Place(items[i].finalPath, items[i].replace, !flushed);
        const std::string folder = FolderOf(items[i].finalPath);
        if (results[i].empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    for (const std::string &folder : folders) {
        if (SyncFolder(folder))
            continue;
        for (std::size_t i = 0; i < items.size(); ++i)
            if (results[i].empty() && FolderOf(items[i].finalPath) == folder)
                results[i] = "Cannot create file " + items[i].finalPath;
    }
    return results;
}

bool TFileSink::SyncFolder(const std::string &folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void TFileSink::Abandon() noexcept
{
    if (committed_)
        return;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!fsTempPath_.empty())
        ::unlink(fsTempPath_.c_str());
    fsTempPath_.clear();
}

void TFileSink::Fail(const std::string &path)
{
    throw EFileError("Cannot create file " + path);
}

int TFileSink::RemoveLeftovers(const std::string &folder)
{
    const std::string fsFolder = folder;
    DIR *dir = ::opendir(fsFolder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (!IsLeftoverName(entry->d_name))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace dz
