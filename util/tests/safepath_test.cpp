#include "util/errors.h"
#include "util/filesink.h"
#include "util/files.h"
#include "util/safepath.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <fstream>

namespace dz {
namespace {

namespace fs = std::filesystem;
using F = TPathFault;

TEST(SafePathTest, ReceivedPathsAreCheckedSegmentBySegment)
{
    const std::string longest(NAME_MAX, 'x');
    std::string cyrillic; // 127 two-byte letters: 254 bytes
    for (int i = 0; i < 127; ++i)
        cyrillic += "Я";
    const struct {
        std::string path;
        F fault;
    } rows[] = {
        {"Проект/Глава 1/файл.txt", F::None},
        {"..a/.../.c", F::None},
        {"a\\..\\b", F::None}, // a backslash is a character of the name here
        {"\xF0\x9F\x93\x81 папка", F::None},
        {longest + "/" + longest, F::None},
        {cyrillic, F::None},
        {cyrillic + "Я", F::SegmentTooLong}, // bytes count, not letters
        {"", F::Empty},
        {"/etc/passwd", F::Rooted},
        {"a/b\nc", F::Control},
        {"\x7f", F::Control},
        {"\xC0\xAF", F::NotUtf8},       // an overlong '/'
        {"a/\xED\xA0\x80", F::NotUtf8}, // a surrogate
        {"a\xD0", F::NotUtf8},         // cut short
    };
    for (const auto &row : rows)
        EXPECT_EQ(CheckReceivedPath(row.path), row.fault) << row.path;

    // Every hostile segment, first, in the middle and last.
    const struct {
        std::string segment;
        F fault;
    } hostile[] = {
        {"", F::EmptySegment}, {".", F::Dot}, {"..", F::DotDot}, {longest + "y", F::SegmentTooLong},
        {std::string("\0", 1), F::Nul},
    };
    for (const auto &h : hostile) {
        for (const std::string &path : {h.segment + "/b/c", "a/" + h.segment + "/c", "a/b/" + h.segment}) {
            // An empty first segment makes the path rooted.
            const F fault = path.front() == '/' ? F::Rooted : h.fault;
            EXPECT_EQ(CheckReceivedPath(path), fault) << path;
        }
    }

    // PATH_MAX counts the folder in front and the final NUL.
    std::string whole(PATH_MAX - 1, 'a');
    for (std::size_t i = 200; i < whole.size(); i += 200)
        whole[i] = '/';
    EXPECT_EQ(CheckReceivedPath(whole), F::None);
    EXPECT_EQ(CheckReceivedPath(whole + "b"), F::TooLong);
    EXPECT_EQ(CheckReceivedPath(whole.substr(10), 10), F::None);
    EXPECT_EQ(CheckReceivedPath(whole.substr(10), 11), F::TooLong);

    EXPECT_EQ(PathSegments("a//b/"), (std::vector<std::string> {"a", "", "b", ""}));
}

// A receive folder with links that lead out of it in every way, and a
// folder outside that must stay untouched.
class BeneathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        base = tmp.path().toStdString() + "/";
        recv = base + "recv/";
        outside = base + "outside/";
        fs::create_directories(recv + "sub");
        fs::create_directories(outside + "deep");
        std::ofstream(outside + "file.txt") << "outside";
        std::ofstream(recv + "file.txt") << "inside";
        fs::create_directory_symlink("../outside", recv + "link");
        fs::create_directory_symlink(outside, recv + "abs");
        fs::create_directory_symlink("../../outside", recv + "sub/inner");
        fs::create_symlink("../outside/file.txt", recv + "filelink");
        fs::create_symlink("../outside/created.txt", recv + "dangling");
        fs::create_directory_symlink(".", recv + "self");
    }
    std::vector<std::string> Outside() const
    {
        std::vector<std::string> names;
        for (const auto &e : fs::recursive_directory_iterator(outside))
            names.push_back(e.path().lexically_relative(outside).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    QTemporaryDir tmp;
    std::string base, recv, outside;
};

TEST_F(BeneathTest, NothingIsCreatedOutsideTheFolderThroughAnyLink)
{
    const TBeneath beneath(recv);
    EXPECT_EQ(beneath.Folder(), recv);
    // Links in every segment position, and paths no check let through.
    for (const std::string path :
         {"link/a/b", "abs/a", "sub/inner/a", "sub/inner", "link", "self/a", "a/b/../../link/x", "file.txt/a",
          "filelink", "../x", "sub/../../x", "/tmp/x"}) {
        EXPECT_THROW(beneath.MakeFolders(path), EFileError) << path;
        EXPECT_THROW(beneath.CreateFile(path + "/new.txt"), EFileError) << path;
    }
    for (const std::string path : {"filelink", "dangling", "file.txt", "sub", "link/created.txt", "../created.txt"})
        EXPECT_THROW(beneath.CreateFile(path), EFileError) << path;
    try {
        beneath.MakeFolders("sub/inner/x");
    } catch (const EFileError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create folder " + recv + "sub/inner");
    }
    EXPECT_EQ(Outside(), (std::vector<std::string> {"deep", "file.txt"}));
    EXPECT_EQ(ReadFileBytes(outside + "file.txt"), "outside");
    EXPECT_EQ(ReadFileBytes(recv + "file.txt"), "inside");

    EXPECT_TRUE(beneath.Open("sub", O_RDONLY | O_DIRECTORY));
    EXPECT_TRUE(beneath.Open("file.txt", O_RDONLY));
    for (const char *path : {"link", "filelink", "sub/inner", "abs/file.txt", "missing"})
        EXPECT_FALSE(beneath.Open(path, O_RDONLY)) << path;
}

TEST_F(BeneathTest, FoldersAndFilesAreCreatedBeneathIt)
{
    const TBeneath beneath(recv.substr(0, recv.size() - 1));
    EXPECT_EQ(beneath.Folder(), recv);
    const TFd deepest = beneath.MakeFolders("Проект/пусто/глубже");
    EXPECT_TRUE(deepest);
    EXPECT_TRUE(fs::is_directory(recv + "Проект/пусто/глубже"));
    EXPECT_TRUE(beneath.MakeFolders("Проект/пусто")) << "an existing folder is taken";
    EXPECT_TRUE(beneath.MakeFolders("sub/new"));
    {
        const TFd file = beneath.CreateFile("Проект/пусто/файл.txt");
        ASSERT_TRUE(file);
        EXPECT_EQ(::write(file.Get(), "abc", 3), 3);
    }
    EXPECT_EQ(ReadFileBytes(recv + "Проект/пусто/файл.txt"), "abc");
    EXPECT_THROW(beneath.CreateFile("Проект/пусто/файл.txt"), EFileError) << "never an existing file";
    EXPECT_THROW(TBeneath(base + "missing"), EFileError);
    EXPECT_THROW(TBeneath(recv + "file.txt"), EFileError);
    // The folder chosen by the user may itself be reached through a link.
    EXPECT_TRUE(TBeneath(recv + "link").MakeFolders("deep/x"));
    EXPECT_TRUE(fs::is_directory(outside + "deep/x"));
}

TEST_F(BeneathTest, ATopFolderThatExistsGetsAFreeVariant)
{
    const TBeneath beneath(recv);
    std::ofstream(recv + "Отчёт") << "a file";
    const std::vector<std::string> own = {recv + "Dizaruz.ini", base + "elsewhere/Мой"};
    const struct {
        const char *name;
        const char *claimed;
    } rows[] = {
        {"Проект", "Проект"},     {"Проект", "Проект-1"},  {"Проект", "Проект-2"},
        {"Отчёт", "Отчёт-1"},     {"dangling", "dangling-1"}, {"link", "link-1"},
        {"Dizaruz.ini", "Dizaruz.ini-1"}, // one of ours, though not written yet
        {"Мой", "Мой"},           // ours only in another folder
    };
    for (const auto &row : rows)
        EXPECT_EQ(beneath.ClaimTopFolder(row.name, own), row.claimed) << row.name;
    EXPECT_EQ(Outside(), (std::vector<std::string> {"deep", "file.txt"}));
    EXPECT_EQ(ReadFileBytes(recv + "Отчёт"), "a file");
    for (const char *bad : {"a/b", "..", ".", ""})
        EXPECT_THROW(beneath.ClaimTopFolder(bad), EFileError) << bad;
}

// A file sink given the opened folder stores into that folder even when
// its path is replaced by a link meanwhile.
TEST_F(BeneathTest, AnOpenedFolderStaysTheFolderForPathCalls)
{
    const TBeneath beneath(recv);
    const TFd tree = beneath.MakeFolders("tree");
    fs::rename(recv + "tree", recv + "moved");
    fs::create_directory_symlink(outside, recv + "tree");
    TFileSink sink(TBeneath::Through(tree));
    const std::string data = "contents";
    std::memcpy(sink.Room().data(), data.data(), data.size());
    sink.Filled(data.size());
    sink.Commit(TBeneath::Through(tree, "a.bin"));
    EXPECT_EQ(ReadFileBytes(recv + "moved/a.bin"), data);
    EXPECT_EQ(Outside(), (std::vector<std::string> {"deep", "file.txt"}));
}

} // namespace
} // namespace dz
