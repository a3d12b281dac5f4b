#pragma once
// A file written as its bytes arrive: into a temporary file in the target
// folder, under a name that marks it as unfinished, stored under its final
// name only once it is complete and on the disk.
//
// The bytes are received straight into a page-aligned buffer of a few MiB
// (Room/Filled) and written from there straight to the disk whenever it
// fills; the disk is flushed as the file grows, so the final flush takes a
// moment. Not thread-safe: one thread writes one file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace dz {

class TFileSink {
public:
    // How the bytes reach the disk: through the page cache with writeback
    // started every few tens of MiB and the written pages dropped (Cached),
    // or past the cache (Direct, O_DIRECT where the file system allows it).
    enum class Mode { Cached, Direct };

    // Creates "<folder>.dizaruz-XXXXXX.part" (folder: a UTF-8 path that
    // ends with '/'). Raises EFileError "Cannot create file <that path>".
    // bufferSize: a multiple of the page size; a smaller one costs less to
    // set up, for the many small files of a batch.
    explicit TFileSink(const std::string &folder, Mode mode = Mode::Cached, std::size_t bufferSize = kBufferSize);
    // Removes the temporary file unless it was committed.
    ~TFileSink();
    TFileSink(const TFileSink &) = delete;
    TFileSink &operator=(const TFileSink &) = delete;

    // Where the next bytes go: the free end of the buffer, never empty.
    std::span<char> Room();
    // n bytes were put into Room(); a full buffer is written to the disk.
    // Raises EFileError "Cannot create file <temporary path>" (disk full,
    // write error); the caller then abandons.
    void Filled(std::size_t n);
    // Writes the rest, flushes the file to the disk, renames it to
    // finalPath (a UTF-8 path) in one step, over a file of that name only
    // with Replace::Yes, and flushes finalPath's folder, so that the name
    // too survives a crash once Commit returns. Raises EFileError "Cannot
    // create file <finalPath>" (or the temporary path for a write that
    // fails); the temporary file is then left for Abandon, except when only
    // the folder's flush failed: the file then holds its final name.
    enum class Replace { No, Yes };
    void Commit(const std::string &finalPath, Replace replace = Replace::No);

    // Commits several sinks and makes them durable together: every file is
    // written out, the file systems they are on are flushed once each
    // (syncfs), the files are renamed and each folder that received a name
    // is flushed once. Far cheaper than a Commit per file for many small
    // ones. Returns, per item in order, "" when it is stored or the text of
    // the EFileError Commit would raise; a failed item is left for Abandon
    // (or, when only its folder's flush failed, holds its final name).
    // Raises nothing.
    struct TCommitItem {
        TFileSink *sink;
        std::string finalPath;
        Replace replace = Replace::No;
    };
    static std::vector<std::string> CommitBatch(std::span<const TCommitItem> items);

    // Flushes folder (a UTF-8 path) to the disk, so that the names created
    // in it or removed from it survive a crash. False on failure.
    static bool SyncFolder(const std::string &folder);
    // Continues the file at path (UTF-8), which a Keep left: its first
    // length bytes stay (anything beyond goes), the next ones follow them,
    // and Commit or Keep take it from there; Abandon removes it. Raises
    // EFileError "Cannot create file <path>" when it is missing or shorter.
    static std::unique_ptr<TFileSink> Continue(const std::string &path, std::int64_t length, Mode mode = Mode::Cached);
    // Writes the rest, flushes the file to the disk, renames it to keptPath
    // (UTF-8; over any file of that name) and flushes that folder: the
    // bytes handed over so far are on the disk under keptPath when it
    // returns "". Afterwards the sink owns nothing. The error's text when
    // any step failed (the file is then abandoned).
    std::string Keep(const std::string &keptPath);

    // Removes the temporary file; nothing after Commit. Idempotent.
    void Abandon() noexcept;

    // The temporary file (a UTF-8 path).
    const std::string &TempPath() const { return tempPath_; }
    // Bytes handed over so far (buffered or written).
    std::int64_t Size() const { return written_ + static_cast<std::int64_t>(used_); }

    // Removes the temporary files that sinks leave behind in folder (a
    // crash, say), and nothing else. Returns how many it removed.
    static int RemoveLeftovers(const std::string &folder);

    static constexpr std::size_t kBufferSize = 4u << 20;
    // The buffer for a file of size bytes: no larger than it needs, in
    // steps of 64 KiB, at most kBufferSize.
    static constexpr std::size_t BufferFor(std::int64_t size)
    {
        constexpr std::size_t step = 64u << 10;
        if (size >= static_cast<std::int64_t>(kBufferSize))
            return kBufferSize;
        return size <= 0 ? step : (static_cast<std::size_t>(size) + step - 1) / step * step;
    }
    static constexpr const char *kPrefix = ".dizaruz-";
    static constexpr const char *kSuffix = ".part";

private:
    TFileSink() = default;
    void MakeBuffer();
    // Writes the buffer's used part; false on failure.
    bool WriteOut(bool final);
    // Starts writeback of what was written since the last call and waits
    // for the call before that, dropping its pages from the cache.
    void Flow(bool final);
    [[noreturn]] void Fail(const std::string &path);
    // Commit without the folder's flush: "" or the error's text.
    std::string Place(const std::string &finalPath, Replace replace, bool fileSync);

    struct Buffer {
        std::size_t size; // of the mapping
        void operator()(char *p) const;
    };
    std::size_t bufferSize_ = kBufferSize;
    std::unique_ptr<char, Buffer> buffer_;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;
    std::int64_t flowStarted_ = 0; // writeback started up to here
    std::int64_t flowDone_ = 0;    // on the disk and dropped up to here
    std::string tempPath_;
    std::string fsTempPath_;
    int fd_ = -1;
    bool direct_ = false;
    bool committed_ = false;
};

} // namespace dz
