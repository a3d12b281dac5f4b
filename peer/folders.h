#pragma once
// Folders between two copies of ours: what the sender walks and what the
// receiver recreates. Paths are UTF-8, relative, '/'-separated, and begin
// with the folder's own name ("Проект/src/main.cpp").

#include "services/nmstrm.h"
#include "util/filesink.h"
#include "util/safepath.h"

#include <functional>
#include <memory>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dz::peer {

struct TFolderEntry {
    bool folder = false;
    std::string relative; // from the folder's parent: its name first
    std::string path;     // on this disk
    std::int64_t size = 0; // a file's, when the folder was walked
};

// A folder as it is sent: its entries parents first, in name order.
struct TFolderTree {
    std::string name; // the folder's own name (the first segment of every relative path)
    std::vector<TFolderEntry> entries;
    int files = 0;
    std::int64_t bytes = 0;
    int skipped = 0; // symbolic links and special files, which are not sent
};

// Whether path (UTF-8; a link to a folder counts, the user chose it) is a folder.
bool IsFolder(const std::string &path);

// Walks the folder at path without following any symbolic link inside it.
// Any thread; touches only the disk. Raises EFileError "Cannot open folder
// <path>" for a folder inside that cannot be read (a partial tree would
// arrive as if it were whole).
TFolderTree WalkFolder(const std::string &path);

// The folder coming in from the peer, recreated beneath the receive folder.
// Thread-safe: the folder's messages and its files' streams come on
// connection threads of their own.
class TFolderReceiver {
public:
    // A new folder called name (one segment) in receiveFolder (UTF-8):
    // made under its own name or a free variant, never over anything that
    // exists, nor as one of ownFiles. Returns the full path made. Raises
    // EFileError with the reason; the folder is then not open.
    std::string Begin(const std::string &name, const std::string &receiveFolder,
                      const std::vector<std::string> &ownFiles);
    // A folder inside it (path begins with the announced name). Raises
    // EFileError with the reason.
    void MakeFolder(const std::string &path);

    // Where a file of the folder goes: its folder made and open.
    struct TTarget {
        TFd root;          // the receive folder, held open while the file comes
        TFd folder;        // the file's own folder
        std::string name;  // the file's name there
        std::string shown; // the path as the user sees it
        std::string mappedFolder; // the file's folder, relative to the receive folder
        std::string TempFolder() const { return TBeneath::Through(root); }
        std::string FinalPath() const { return TBeneath::Through(folder, name); }
    };
    TTarget FileTarget(const std::string &path);

    // The folder is over (its end, the batch's end, the peer gone).
    void End();
    bool IsOpen() const;

private:
    // path checked and its first segment swapped for the folder made.
    std::string Map(const std::string &path) const;

    mutable std::mutex mutex_;
    std::optional<TBeneath> root_;
    std::string announced_, made_;
};

// Small files of a folder go several to a stream (the Batch layout), to be
// made durable together: at most this many files, each at most
// kBatchFileMax bytes, at most kBatchBytes in all.
constexpr int kBatchFiles = 128;
constexpr std::int64_t kBatchFileMax = 1 << 20;
constexpr std::int64_t kBatchBytes = 8 << 20;

// A batch stream's body: for each file "%.4d" of its path's length, its
// path (relative, UTF-8), "%10lld" of its size, and its bytes. Written to
// fd; raises EFileError when a file cannot be read or no longer has the
// size the walk saw.
void WriteBatchBody(int fd, const std::vector<TFolderEntry> &files);

// Takes a batch stream's body into the folder coming in: each path checked
// and mapped as a file's of the folder, each file into a sink of its own,
// all of them stored and made durable together at Commit, never over
// anything that exists. failed hears what the receiving user is told.
// One connection thread.
class TFolderBatchSink : public services::IStreamSink {
public:
    TFolderBatchSink(TFolderReceiver &folders, std::function<void(const std::string &path, const std::string &why)> failed);
    ~TFolderBatchSink() override;
    std::span<char> Room() override;
    void Filled(std::size_t n) override;
    void Commit() override;
    void Abandon() noexcept override;
    void Mismatched() noexcept override;
    // How many files it stored.
    int Stored() const { return stored_; }

private:
    void Take(const char *data, std::size_t n);
    // The field collected so far is complete: the next one begins.
    void FieldDone();
    [[noreturn]] void Fail(const std::string &why);

    TFolderReceiver &folders_;
    std::function<void(const std::string &, const std::string &)> failed_;
    std::vector<char> buffer_;
    enum class Step { Length, Path, Size, Bytes } step_ = Step::Length;
    std::string field_;
    std::size_t need_ = 4;
    std::string path_;
    std::int64_t left_ = 0;
    struct TItem {
        TFolderReceiver::TTarget target;
        std::unique_ptr<TFileSink> sink;
    };
    std::vector<TItem> items_;
    int stored_ = 0;
};

// A folder's message: its word and its path (the rest after the first '|').
// Empty word when sMsg is none of the folder words.
struct TFolderMessage {
    std::string word;
    std::string path;
};
TFolderMessage ParseFolderMessage(const std::string &sMsg);

// What a folder step fails with when the peer takes single files only: a
// marker the window recognises, and the folder's path.
std::string NoFoldersError(const std::string &path);
// The folder's path when error is NoFoldersError's.
std::optional<std::string> NoFoldersPath(const std::string &error);

} // namespace dz::peer
