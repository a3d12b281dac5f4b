#pragma once
// Parts of received files kept after their stream was cut, so that the
// same peer sending the same file again sends only the rest.
//
// They live in a hidden folder of the receive folder, ".dizaruz-resume/",
// on the same file system as the files they become: "<id>.part" holds the
// bytes, "<id>.rec" what they are (the id: 32 hexadecimal digits of the
// XXH3-128 of who sent it, its name, size and modification time). The
// bytes reach the disk before the record that counts them, and the record
// replaces its predecessor in one rename, so a record never counts a byte
// that a crash could have lost. The clean-up of a sink's leftovers never
// looks into this folder.
//
// Functions of plain files, callable from any thread; two threads must not
// work on the same id at once.

#include "util/hash.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace dz::peer {

// What makes a kept part the beginning of a file being sent: names are
// Windows-1251 as announced (from: the peer's name for now), sizes in
// bytes, modified in nanoseconds since 1970.
struct TKeptKey {
    std::string from, name;
    std::int64_t size = 0, modified = 0;
};

struct TKeptPaths {
    std::string data, record; // UTF-8
};

// The kept folder of receiveFolder (UTF-8, ending in '/').
std::string KeptFolder(const std::string &receiveFolder);
TKeptPaths KeptPathsFor(const std::string &receiveFolder, const TKeptKey &key);
// Makes the kept folder (for this user only) when it is missing; false when
// it cannot, or when something other than a folder (a symbolic link, say)
// has its name: nothing is then kept or taken from there.
bool MakeKeptFolder(const std::string &receiveFolder);

struct TKeptPart {
    std::int64_t length = 0; // bytes kept
    THasher hash;            // the running hash of those bytes as they arrived
    std::string data;        // where they are
};

// The part kept for key, when its record is whole, is for key, and its data
// file holds at least the bytes it counts; nothing otherwise (a record that
// is damaged or disagrees is removed with its data).
std::optional<TKeptPart> FindKept(const std::string &receiveFolder, const TKeptKey &key);

// Records that the data file of key (already on the disk) holds length bytes
// whose running hash is hash: written to a temporary file, flushed, renamed
// over the last record and the folder flushed. False on any failure.
bool RecordKept(const std::string &receiveFolder, const TKeptKey &key, std::int64_t length, const THasher &hash);

// Removes key's record and data (either may be missing).
void ForgetKept(const std::string &receiveFolder, const TKeptKey &key);

// Whether the first length bytes of the file at path still hash to what
// hash says (read once, in order). stop: checked between reads; a stop
// answers false.
bool KeptBytesIntact(const std::string &path, std::int64_t length, const THash128 &hash,
                     const std::atomic<bool> *stop = nullptr);

// At start: removes the kept parts of receiveFolder not written for maxAge,
// then the oldest while those left take more than share of the file
// system's free space, and whatever a crash left half made (a record
// without data, data without record, a temporary record). Returns how many
// parts it removed.
struct TKeptLimits {
    std::chrono::seconds maxAge = std::chrono::hours(24 * 7);
    double share = 0.10;
};
int PruneKept(const std::string &receiveFolder, TKeptLimits limits = {});

} // namespace dz::peer
