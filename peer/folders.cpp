#include "folders.h"

#include "peer/core.h"
#include "util/errors.h"
#include "util/filesink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::peer {

bool IsFolder(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

std::string LastSegment(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Adds the entries of the open folder dir (at relative / path) to tree,
// parents before their contents, names sorted so a tree always goes the same way.
void WalkInto(TFolderTree &tree, TFd dir, const std::string &relative, const std::string &path)
{
    DIR *listing = ::fdopendir(dir.Get());
    if (!listing)
        throw EFileError("Cannot open folder " + path);
    dir.Release(); // the listing owns it now
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int fd = ::dirfd(listing);
    std::sort(names.begin(), names.end());
    std::vector<std::pair<std::string, TFd>> folders;
    for (const std::string &name : names) {
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ::closedir(listing);
            throw EFileError("Cannot open folder " + path + "/" + name);
        }
        if (S_ISREG(st.st_mode)) {
            tree.entries.push_back({false, relative + "/" + name, path + "/" + name, st.st_size});
            ++tree.files;
            tree.bytes += st.st_size;
        } else if (S_ISDIR(st.st_mode)) {
            TFd sub(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub) {
                ::closedir(listing);
                throw EFileError("Cannot open folder " + path + "/" + name);
            }
            folders.emplace_back(name, std::move(sub));
        } else {
            ++tree.skipped; // a symbolic link, a device, a pipe, a socket
        }
    }
    ::closedir(listing);
    // Files first, then each folder with its contents: a folder's entry
    // always comes before anything inside it.
    for (auto &[name, sub] : folders) {
        tree.entries.push_back({true, relative + "/" + name, path + "/" + name});
        WalkInto(tree, std::move(sub), relative + "/" + name, path + "/" + name);
    }
}

} // namespace

TFolderTree WalkFolder(const std::string &path)
{
    TFolderTree tree;
    std::string top = path;
    while (top.size() > 1 && top.back() == '/')
        top.pop_back();
    tree.name = LastSegment(top);
    TFd dir(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        throw EFileError("Cannot open folder " + top);
    WalkInto(tree, std::move(dir), tree.name, top);
    return tree;
}

std::string TFolderReceiver::Begin(const std::string &name, const std::string &receiveFolder,
                                   const std::vector<std::string> &ownFiles)
{
    std::lock_guard lock(mutex_);
    root_.reset();
    announced_.clear();
    made_.clear();
    if (const TPathFault fault = CheckReceivedPath(name); fault != TPathFault::None)
        throw EFileError(PathFaultText(fault));
    if (name.find('/') != std::string::npos)
        throw EFileError("a folder's name holds '/'");
    TBeneath root(receiveFolder);
    made_ = root.ClaimTopFolder(name, ownFiles);
    // The new name must survive a crash before anything goes into it.
    TFileSink::SyncFolder(root.Folder());
    announced_ = name;
    root_.emplace(std::move(root));
    return root_->Folder() + made_;
}

std::string TFolderReceiver::Map(const std::string &path) const
{
    if (!root_)
        throw EFileError("no folder is coming in");
    if (const TPathFault fault = CheckReceivedPath(path, root_->Folder().size()); fault != TPathFault::None)
        throw EFileError(PathFaultText(fault));
    const std::size_t slash = path.find('/');
    if (slash == std::string::npos || path.substr(0, slash) != announced_)
        throw EFileError("the path is outside the folder coming in");
    const std::string mapped = made_ + path.substr(slash);
    // The variant's suffix may take it over the limit.
    if (const TPathFault fault = CheckReceivedPath(mapped, root_->Folder().size()); fault != TPathFault::None)
        throw EFileError(PathFaultText(fault));
    return mapped;
}

void TFolderReceiver::MakeFolder(const std::string &path)
{
    std::lock_guard lock(mutex_);
    const std::string mapped = Map(path);
    root_->MakeFolders(mapped);
}

TFolderReceiver::TTarget TFolderReceiver::FileTarget(const std::string &path)
{
    std::lock_guard lock(mutex_);
    const std::string mapped = Map(path);
    const std::size_t slash = mapped.find_last_of('/');
    TTarget target;
    target.folder = root_->MakeFolders(mapped.substr(0, slash));
    target.name = mapped.substr(slash + 1);
    target.mappedFolder = mapped.substr(0, slash);
    target.root = TFd(::fcntl(root_->Fd(), F_DUPFD_CLOEXEC, 0));
    if (!target.root)
        throw EFileError("Cannot open file " + root_->Folder());
    target.shown = root_->Folder() + mapped;
    return target;
}

void TFolderReceiver::End()
{
    std::lock_guard lock(mutex_);
    root_.reset();
    announced_.clear();
    made_.clear();
}

bool TFolderReceiver::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return root_.has_value();
}

TFolderMessage ParseFolderMessage(const std::string &sMsg)
{
    const std::size_t bar = sMsg.find('|');
    const std::string word = sMsg.substr(0, bar);
    for (const char *known : {kFolderStartWord, kFolderDirWord, kFolderFileWord, kFolderEndWord})
        if (word == known)
            return {word, bar == std::string::npos ? std::string() : sMsg.substr(bar + 1)};
    return {};
}

namespace {
constexpr std::string_view kNoFoldersMarker = "\x1b" "NoFolders|";
} // namespace

std::string NoFoldersError(const std::string &path)
{
    return std::string(kNoFoldersMarker) + path;
}

std::optional<std::string> NoFoldersPath(const std::string &error)
{
    if (!error.starts_with(kNoFoldersMarker))
        return std::nullopt;
    return error.substr(kNoFoldersMarker.size());
}

} // namespace dz::peer

namespace dz::peer {

void WriteBatchBody(int fd, const std::vector<TFolderEntry> &files)
{
    const auto put = [fd](const char *data, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd, data, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                throw EFileError("Cannot create file for a batch");
            data += w;
            n -= static_cast<std::size_t>(w);
        }
    };
    std::vector<char> bytes;
    for (const TFolderEntry &file : files) {
        char field[16];
        std::snprintf(field, sizeof field, "%.4d", static_cast<int>(file.relative.size()));
        put(field, 4);
        put(file.relative.data(), file.relative.size());
        std::snprintf(field, sizeof field, "%10lld", static_cast<long long>(file.size));
        put(field, 10);
        // The size announced is the one the walk saw: a file that changed
        // since would not match it.
        const TFd in(::open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        bytes.resize(static_cast<std::size_t>(file.size) + 1);
        std::size_t have = 0;
        while (in) {
            const ssize_t r = ::read(in.Get(), bytes.data() + have, bytes.size() - have);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            have += static_cast<std::size_t>(r);
            if (have == bytes.size())
                break;
        }
        if (!in)
            throw EFileError("Cannot open file " + file.path);
        if (have != static_cast<std::size_t>(file.size))
            throw EFileError("File " + file.path + " changed size while it was sent");
        put(bytes.data(), have);
    }
}

TFolderBatchSink::TFolderBatchSink(TFolderReceiver &folders,
                                   std::function<void(const std::string &, const std::string &)> failed)
    : folders_(folders), failed_(std::move(failed)), buffer_(256u << 10)
{
}

TFolderBatchSink::~TFolderBatchSink()
{
    Abandon();
}

std::span<char> TFolderBatchSink::Room()
{
    return {buffer_.data(), buffer_.size()};
}

void TFolderBatchSink::Filled(std::size_t n)
{
    Take(buffer_.data(), n);
}

void TFolderBatchSink::Fail(const std::string &why)
{
    failed_(path_, why);
    throw EFileError(why);
}

void TFolderBatchSink::Take(const char *data, std::size_t n)
{
    while (n > 0) {
        if (step_ == Step::Bytes) {
            TFileSink &sink = *items_.back().sink;
            while (n > 0 && left_ > 0) {
                const std::span<char> room = sink.Room();
                const std::size_t k = std::min({n, room.size(), static_cast<std::size_t>(left_)});
                std::memcpy(room.data(), data, k);
                sink.Filled(k);
                data += k;
                n -= k;
                left_ -= static_cast<std::int64_t>(k);
            }
            if (left_ == 0) {
                step_ = Step::Length;
                need_ = 4;
            }
            continue;
        }
        const std::size_t k = std::min(n, need_ - field_.size());
        field_.append(data, k);
        data += k;
        n -= k;
        if (field_.size() == need_)
            FieldDone();
    }
}

void TFolderBatchSink::FieldDone()
{
    std::string field = std::exchange(field_, {});
    // Leading blanks, then only digits: what the header's fields allow.
    const auto number = [&field]() -> long long {
        const std::size_t first = field.find_first_not_of(' ');
        if (first == std::string::npos || field.find_first_not_of("0123456789", first) != std::string::npos)
            return -1;
        return std::stoll(field.substr(first));
    };
    switch (step_) {
    case Step::Length: {
        if (static_cast<int>(items_.size()) >= kBatchFiles)
            Fail("more than " + std::to_string(kBatchFiles) + " files in one stream");
        const long long length = number();
        if (length <= 0)
            Fail("a malformed batch");
        step_ = Step::Path;
        need_ = static_cast<std::size_t>(length);
        return;
    }
    case Step::Path:
        path_ = std::move(field);
        step_ = Step::Size;
        need_ = 10;
        return;
    case Step::Size: {
        const long long size = number();
        if (size < 0)
            Fail("a malformed batch");
        TItem item;
        try {
            item.target = folders_.FileTarget(path_);
            // Every file's sink lives until the batch is stored: each gets
            // the smallest buffer, whatever size the peer claims.
            item.sink = std::make_unique<TFileSink>(item.target.TempFolder(), TFileSink::Mode::Cached,
                                                    TFileSink::BufferFor(1));
        } catch (const std::exception &e) {
            Fail(e.what());
        }
        items_.push_back(std::move(item));
        left_ = size;
        step_ = Step::Bytes;
        if (left_ == 0) {
            step_ = Step::Length;
            need_ = 4;
        }
        return;
    }
    case Step::Bytes:
        return;
    }
}

void TFolderBatchSink::Commit()
{
    if (items_.empty() || step_ != Step::Length || !field_.empty())
        Fail("a malformed batch");
    // Files of one folder name it alike, so that it is flushed once.
    std::map<std::string, std::string> folders;
    std::vector<TFileSink::TCommitItem> commits;
    for (TItem &item : items_) {
        const auto [at, added] = folders.emplace(item.target.mappedFolder, TBeneath::Through(item.target.folder));
        commits.push_back({item.sink.get(), at->second + item.target.name, TFileSink::Replace::No});
    }
    const std::vector<std::string> errors = TFileSink::CommitBatch(commits);
    for (std::size_t i = 0; i < errors.size(); ++i)
        if (errors[i].empty())
            ++stored_;
    for (std::size_t i = 0; i < errors.size(); ++i)
        if (!errors[i].empty()) {
            path_ = items_[i].target.shown;
            Fail("Cannot create file");
        }
}

void TFolderBatchSink::Mismatched() noexcept
{
    try {
        failed_(path_, "the batch's XXH3-128 did not match, nothing of it is stored");
    } catch (...) {
    }
}

void TFolderBatchSink::Abandon() noexcept
{
    for (TItem &item : items_)
        item.sink->Abandon();
}

} // namespace dz::peer
