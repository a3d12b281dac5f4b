#include "util/errors.h"
#include "util/filesink.h"
#include "util/files.h"
#include "util/tests/tmpfs.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/mount.h>
#include <unistd.h>

namespace dz {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    std::mt19937 rng(seed);
    for (auto &c : s)
        c = static_cast<char>(rng());
    return s;
}

std::vector<std::string> Names(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Hands data to the sink in pieces of awkward sizes, as receives do.
void Feed(TFileSink &sink, const std::string &data)
{
    std::size_t at = 0;
    for (int i = 0; at < data.size(); ++i) {
        const std::span<char> room = sink.Room();
        ASSERT_FALSE(room.empty());
        const std::size_t want = i % 3 == 0 ? 1 : i % 3 == 1 ? 65536 + 17 : room.size();
        const std::size_t n = std::min({want, room.size(), data.size() - at});
        std::memcpy(room.data(), data.data() + at, n);
        sink.Filled(n);
        at += n;
    }
}

class FileSinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    std::string Dir() const { return tmp.path().toStdString() + "/"; }
    QTemporaryDir tmp;
};

TEST_F(FileSinkTest, StoresEveryByteUnderTheFinalNameInEitherMode)
{
    int n = 0;
    // The large buffer, and the small one a small file gets.
    for (const std::size_t buffer : {TFileSink::kBufferSize, TFileSink::BufferFor(1)})
    for (const auto mode : {TFileSink::Mode::Cached, TFileSink::Mode::Direct}) {
        const std::size_t sizes[] = {0, 1, buffer - 1, buffer, buffer + 1, 9 * buffer + 4097};
        for (const std::size_t size : sizes) {
            const std::string data = RandomBytes(size, static_cast<unsigned>(size));
            TFileSink sink(Dir(), mode, buffer);
            EXPECT_EQ(Names(Dir()).size(), static_cast<std::size_t>(n) + 1);
            const std::string temp = fs::path(sink.TempPath()).filename().string();
            EXPECT_EQ(temp.rfind(".dizaruz-", 0), 0u) << temp;
            EXPECT_EQ(temp.size(), std::strlen(".dizaruz-XXXXXX.part"));
            Feed(sink, data);
            EXPECT_EQ(sink.Size(), static_cast<std::int64_t>(size));
            const std::string final = Dir() + "file" + std::to_string(n++) + ".bin";
            sink.Commit(final);
            EXPECT_TRUE(ReadFileBytes(final) == data) << size;
            EXPECT_FALSE(fs::exists(sink.TempPath()));
            sink.Abandon(); // nothing after a commit
            EXPECT_TRUE(fs::exists(final));
        }
    }
    EXPECT_EQ(Names(Dir()).size(), static_cast<std::size_t>(n)) << "no temporary file is left";
}

TEST_F(FileSinkTest, AbandonAndTheDestructorRemoveTheTemporaryFile)
{
    {
        TFileSink sink(Dir());
        Feed(sink, RandomBytes(TFileSink::kBufferSize * 2 + 5, 1));
        EXPECT_TRUE(fs::exists(sink.TempPath()));
        sink.Abandon();
        EXPECT_FALSE(fs::exists(sink.TempPath()));
        sink.Abandon();
    }
    {
        TFileSink sink(Dir());
        Feed(sink, "abc");
    }
    EXPECT_TRUE(Names(Dir()).empty());
}

TEST_F(FileSinkTest, CommitNeverReplacesAFileAndFailsClearly)
{
    std::ofstream(Dir() + "taken.txt") << "mine";
    TFileSink sink(Dir());
    Feed(sink, "new bytes");
    try {
        sink.Commit(Dir() + "taken.txt");
        FAIL() << "committed over an existing file";
    } catch (const EFileError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + Dir() + "taken.txt");
    }
    EXPECT_EQ(ReadFileBytes(Dir() + "taken.txt"), "mine");
    sink.Abandon();
    EXPECT_EQ(Names(Dir()), std::vector<std::string> {"taken.txt"});
    // Asked to, it replaces the file whole.
    TFileSink replacing(Dir());
    Feed(replacing, "new bytes");
    replacing.Commit(Dir() + "taken.txt", TFileSink::Replace::Yes);
    EXPECT_EQ(ReadFileBytes(Dir() + "taken.txt"), "new bytes");
    EXPECT_EQ(Names(Dir()), std::vector<std::string> {"taken.txt"});

    EXPECT_THROW(TFileSink(Dir() + "no such folder/"), EFileError);
}

TEST_F(FileSinkTest, RemoveLeftoversTakesOnlyTheSinksTemporaryFiles)
{
    const std::vector<std::string> kept = {
        "a.part", ".dizaruz-abc.part", ".dizaruz-1234567.part", ".dizaruz-123456.partial", "dizaruz-123456.part",
        "x.dizaruz-123456.part",
    };
    for (const auto &name : kept)
        std::ofstream(Dir() + name) << "x";
    fs::create_directory(Dir() + ".dizaruz-folder.part");
    std::ofstream(Dir() + ".dizaruz-a1B2c3.part") << "left by a crash";
    { TFileSink open(Dir()); Feed(open, "x"); EXPECT_GE(TFileSink::RemoveLeftovers(Dir()), 2); }
    auto expected = kept;
    expected.push_back(".dizaruz-folder.part");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(Dir()), expected);
    EXPECT_EQ(TFileSink::RemoveLeftovers(Dir() + "missing/"), 0);
}

TEST_F(FileSinkTest, AFullDiskFailsClearlyAndLeavesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root";
    const std::string disk = Dir() + "disk/";
    fs::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    std::string error;
    {
        TFileSink sink(disk);
        try {
            Feed(sink, RandomBytes(12 << 20, 5));
            sink.Commit(disk + "big.bin");
        } catch (const EFileError &e) {
            error = e.what();
            sink.Abandon();
        }
        EXPECT_EQ(error, "Cannot create file " + sink.TempPath());
    }
    EXPECT_TRUE(Names(disk).empty());
    ::umount(disk.c_str());
}

TEST_F(FileSinkTest, ABatchStoresWhatItCanAndNamesEachFailure)
{
    for (const char *folder : {"a", "b", "disk"})
        fs::create_directory(Dir() + folder);
    const std::string a = Dir() + "a/", b = Dir() + "b/", disk = Dir() + "disk/";
    const testing::TSmallDisk small(disk, "1m");
    if (!small.Mounted())
        GTEST_SKIP() << "mounting a small disk needs root";
    std::ofstream(a + "taken.txt") << "mine";
    std::ofstream(a + "replaced.txt") << "old";
    TFileSink committed(a);
    committed.Commit(a + "earlier.bin");

    const struct {
        std::string folder, name, data;
        TFileSink::Replace replace;
        bool stored;
        bool tempInError; // the error names the temporary file
    } rows[] = {
        {a, "one.bin", RandomBytes(10000, 1), TFileSink::Replace::No, true, false},
        {b, "two.bin", RandomBytes(TFileSink::kBufferSize + 3, 2), TFileSink::Replace::No, true, false},
        {a, "taken.txt", "new", TFileSink::Replace::No, false, false},
        {a, "replaced.txt", "new", TFileSink::Replace::Yes, true, false},
        {disk, "big.bin", RandomBytes(3 << 20, 3), TFileSink::Replace::No, false, true}, // does not fit
        {a, "none/x.bin", "x", TFileSink::Replace::No, false, false},                   // no such folder
        {a, "three.bin", "", TFileSink::Replace::No, true, false},
    };
    std::vector<std::unique_ptr<TFileSink>> sinks;
    std::vector<TFileSink::TCommitItem> items;
    for (const auto &row : rows) {
        sinks.push_back(std::make_unique<TFileSink>(row.folder));
        Feed(*sinks.back(), row.data);
        items.push_back({sinks.back().get(), row.folder + row.name, row.replace});
    }
    items.push_back({&committed, a + "again.bin"}); // a sink commits once

    const std::vector<std::string> results = TFileSink::CommitBatch(items);
    ASSERT_EQ(results.size(), items.size());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto &row = rows[i];
        const std::string path = row.folder + row.name;
        if (row.stored) {
            EXPECT_EQ(results[i], "") << path;
            EXPECT_TRUE(ReadFileBytes(path) == row.data) << path;
        } else {
            EXPECT_EQ(results[i], "Cannot create file " + (row.tempInError ? sinks[i]->TempPath() : path)) << path;
            EXPECT_TRUE(fs::exists(sinks[i]->TempPath())) << "left for Abandon: " << path;
        }
    }
    EXPECT_EQ(results.back(), "Cannot create file " + a + "again.bin");
    EXPECT_EQ(ReadFileBytes(a + "taken.txt"), "mine");
    for (auto &sink : sinks)
        sink->Abandon();
    EXPECT_EQ(Names(a), (std::vector<std::string> {"earlier.bin", "one.bin", "replaced.txt", "taken.txt", "three.bin"}));
    EXPECT_EQ(Names(b), std::vector<std::string> {"two.bin"});
    EXPECT_TRUE(Names(disk).empty());
    EXPECT_TRUE(TFileSink::CommitBatch({}).empty());
}

TEST_F(FileSinkTest, SyncFolderFailsOnlyWithoutAFolder)
{
    EXPECT_TRUE(TFileSink::SyncFolder(Dir()));
    EXPECT_FALSE(TFileSink::SyncFolder(Dir() + "missing"));
    std::ofstream(Dir() + "file") << "x";
    EXPECT_FALSE(TFileSink::SyncFolder(Dir() + "file"));
}

} // namespace
} // namespace dz
