#include "util/errors.h"
#include "util/files.h"
#include "util/system.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace dz {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    std::string Dir() const { return tmp.path().toStdString() + "/"; }
    static void Touch(const std::string &path, const std::string &bytes = {})
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::size_t Entries(const std::string &dir)
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }
    QTemporaryDir tmp;
};

TEST_F(FilesTest, UniqueFileNameSkipsExistingFilesButNotFolders)
{
    const std::string probe = Dir() + "~!789.~~~";
    EXPECT_EQ(UniqueFileName(probe), probe);
    Touch(probe);
    EXPECT_EQ(UniqueFileName(probe), Dir() + "~!789-1.~~~");
    Touch(Dir() + "~!789-1.~~~");
    EXPECT_EQ(UniqueFileName(probe), Dir() + "~!789-2.~~~");

    // No extension, and a dot in a folder name that must not count.
    fs::create_directory(Dir() + "a.b");
    Touch(Dir() + "a.b/name");
    EXPECT_EQ(UniqueFileName(Dir() + "a.b/name"), Dir() + "a.b/name-1");
    // A folder of that name does not count as an existing file.
    fs::create_directory(Dir() + "sub");
    EXPECT_EQ(UniqueFileName(Dir() + "sub"), Dir() + "sub");
}

TEST_F(FilesTest, DriveProbe)
{
    EXPECT_FALSE(IsDriveWritable(""));
    EXPECT_FALSE(IsDriveWritable("    "));
    EXPECT_FALSE(IsDriveWritable("relative/path"));
    EXPECT_TRUE(IsDriveWritable(Dir()));
    EXPECT_TRUE(IsDriveWritable("  " + Dir() + "  "));
    // A file path and a path that does not exist yet probe their nearest folder.
    EXPECT_TRUE(IsDriveWritable(Dir() + "Dizaruz.ini"));
    EXPECT_TRUE(IsDriveWritable(Dir() + "not/yet/there"));
    EXPECT_EQ(Entries(Dir()), 0u) << "the probe must leave nothing behind";

    // An existing probe name is never touched: a numbered variant is used.
    Touch(Dir() + "~!789.~~~", "keep");
    EXPECT_TRUE(IsDriveWritable(Dir()));
    EXPECT_EQ(Entries(Dir()), 1u);
    std::ifstream in(Dir() + "~!789.~~~");
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");
}

TEST_F(FilesTest, DriveProbeOnAFolderThatRefusesNewFiles)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    const std::string ro = Dir() + "ro";
    fs::create_directory(ro);
    ::chmod(ro.c_str(), 0500);
    EXPECT_FALSE(IsDriveWritable(ro));
    ::chmod(ro.c_str(), 0700);
}

TEST_F(FilesTest, DriveProbeOnAReadOnlyMount)
{
    // /proc refuses new files even for root.
    EXPECT_FALSE(IsDriveWritable("/proc/"));
    EXPECT_FALSE(IsDriveWritable("/proc/self"));
}

TEST_F(FilesTest, FolderAndFileExistence)
{
    Touch(Dir() + "f.txt");
    EXPECT_TRUE(FileExists(Dir() + "f.txt"));
    EXPECT_FALSE(FileExists(Dir()));
    EXPECT_TRUE(FolderExists(Dir()));
    EXPECT_TRUE(FolderExists(" " + Dir() + " "));
    EXPECT_FALSE(FolderExists(Dir() + "f.txt"));
    EXPECT_FALSE(FolderExists("   "));
    EXPECT_FALSE(FolderExists(Dir() + "missing"));
}

TEST_F(FilesTest, NormalizeFolderKeepsCase)
{
    struct Case { std::string in, out; } cases[] = {
        {"  /tmp/In  ", "/tmp/In/"},
        {"/tmp/In/", "/tmp/In/"},
        {"   ", ""},
        {"/", "/"},
    };
    for (const auto &c : cases) {
        std::string s = c.in;
        NormalizeFolderPath(s);
        EXPECT_EQ(s, c.out);
    }
}

TEST_F(FilesTest, LinesAcceptEveryLineEndAndWriteCrLf)
{
    struct Case { std::string bytes; std::vector<std::string> lines; } cases[] = {
        {"", {}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r\n", {""}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SplitLines(c.bytes), c.lines) << c.bytes;

    // Lines are UTF-8 in the program; the file is Windows-1251 while they
    // fit, UTF-8 after a byte-order mark when they do not, and read either way.
    const std::string file = Dir() + "~ListFile_send.txt";
    const std::string a = "/home/u/\xD0\xB0.txt"; // а.txt
    SaveLines(file, {a, "", "b"});
    EXPECT_EQ(ReadFileBytes(file), "/home/u/\xE0.txt\r\n\r\nb\r\n");
    EXPECT_EQ(LoadLines(file), (std::vector<std::string>{a, "", "b"}));
    const std::string e = "/home/u/caf\xC3\xA9.txt"; // café.txt
    SaveLines(file, {a, e});
    EXPECT_EQ(ReadFileBytes(file), "\xEF\xBB\xBF" + a + "\r\n" + e + "\r\n");
    EXPECT_EQ(LoadLines(file), (std::vector<std::string>{a, e}));
    SaveLines(file, {});
    EXPECT_EQ(ReadFileBytes(file), "");
}

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporary)
{
    const std::string file = Dir() + "state.txt";
    WriteFileAtomic(file, std::string("old content"));
    WriteFileAtomic(file, std::string("new"));
    EXPECT_EQ(ReadFileBytes(file), "new");
    EXPECT_EQ(Entries(Dir()), 1u);
    // A folder that does not exist: the old file elsewhere is untouched and the error names the path.
    try {
        WriteFileAtomic(Dir() + "missing/x.txt", std::string("y"));
        FAIL() << "no exception";
    } catch (const EFileError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + Dir() + "missing/x.txt");
    }
    try {
        ReadFileBytes(Dir() + "nothing.txt");
        FAIL() << "no exception";
    } catch (const EFileError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + Dir() + "nothing.txt");
    }
}

// Large page-aligned pieces bypass the page cache, the rest goes through
// it; whatever the mix, the file must hold exactly the pieces in order, on
// a disk file system and on a memory one (which may refuse unbuffered
// writes).
TEST_F(FilesTest, AtomicWriteOfPiecesKeepsEveryByteInOrder)
{
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kBig = std::size_t {1} << 20;
    // Page-aligned memory, with room for pieces that start off a page.
    const std::size_t arena = 4 * kBig + 4 * kPage;
    std::unique_ptr<char, void (*)(void *)> memory(static_cast<char *>(std::aligned_alloc(kPage, arena)), std::free);
    ASSERT_TRUE(memory);
    for (std::size_t i = 0; i < arena; ++i)
        memory.get()[i] = static_cast<char>(i * 131 + i / 4099);
    char *m = memory.get();
    using Layout = std::vector<std::pair<std::size_t, std::size_t>>; // offset in the arena, size
    const struct {
        const char *what;
        Layout pieces;
    } cases[] = {
        {"full aligned blocks and a short tail", {{0, kBig}, {kBig, kBig}, {2 * kBig, 777}}},
        {"an aligned block after an unaligned start", {{3, 1000}, {kBig, kBig}, {2 * kBig, kBig}}},
        {"a block that does not start on a page", {{kPage + 1, kBig}, {3 * kBig, kBig}}},
        {"an aligned block whose length is not whole pages", {{0, kBig + 100}, {2 * kBig, kBig}}},
        {"empty pieces among the others", {{0, 0}, {0, kBig}, {kBig, 0}, {kBig, 5}}},
        {"one small piece", {{10, 3}}},
    };
    std::vector<std::string> folders {Dir()};
    QTemporaryDir shm(QStringLiteral("/dev/shm/dz-test-XXXXXX"));
    if (shm.isValid())
        folders.push_back(shm.path().toStdString() + "/");
    for (const std::string &folder : folders)
        for (const auto &c : cases) {
            std::vector<std::string_view> pieces;
            std::string expected;
            for (const auto &[at, size] : c.pieces) {
                pieces.emplace_back(m + at, size);
                expected.append(m + at, size);
            }
            const std::string file = folder + "pieces.bin";
            WriteFileAtomic(file, std::string("an older file of the same name"));
            WriteFileAtomic(file, pieces);
            EXPECT_TRUE(ReadFileBytes(file) == expected) << c.what << " in " << folder;
            EXPECT_EQ(Entries(folder), 1u) << c.what << " in " << folder;
        }
}

TEST_F(FilesTest, PathsOfAnyAlphabetAreUsedExactly)
{
    for (const std::string name : {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", // Привет.txt
                                   "M\xC3\xBCller \xE6\x96\x87.txt"}) {                    // Müller 文.txt
        const std::string path = Dir() + name;
        WriteFileAtomic(path, std::string("x"));
        EXPECT_TRUE(fs::exists(path));
        EXPECT_TRUE(FileExists(path));
        EXPECT_TRUE(IsDriveWritable(path));
    }
    const std::string folder = Dir() + "T\xC3\xA9l\xC3\xA9chargements/"; // Téléchargements/
    fs::create_directories(folder);
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(IsDriveWritable(folder));
    EXPECT_EQ(UniqueFileName(folder + "a.txt"), folder + "a.txt");
}

TEST(System, ComputerNameAndAddress)
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(GetThisComputerName(), std::string(host));
    const std::string ip = LocalAddress();
    // Either empty (no network at all) or a dotted address that is not loopback.
    if (!ip.empty()) {
        EXPECT_NE(ip.rfind("127.", 0), 0u) << ip;
        int a, b, c, d;
        EXPECT_EQ(std::sscanf(ip.c_str(), "%d.%d.%d.%d", &a, &b, &c, &d), 4) << ip;
    }
}

TEST(Errors, ReporterReceivesTheText)
{
    std::string seen;
    auto old = SetExceptionReporter([&seen](const std::string &m) { seen = m; });
    try {
        throw EFileError("Cannot open file /x");
    } catch (...) {
        ReportCurrentException();
    }
    SetExceptionReporter(old);
    EXPECT_EQ(seen, "Cannot open file /x");
}

} // namespace
} // namespace dz
