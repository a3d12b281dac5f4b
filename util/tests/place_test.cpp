#include "util/place.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace dz {
namespace {

namespace fs = std::filesystem;

class PlaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path().toStdString();
        fs::create_directories(root + "/usr/bin");
        fs::create_directories(root + "/usr/bin/sub");
        fs::create_directories(root + "/build/app");
        // A merged /usr: /bin is a link to usr/bin.
        fs::create_directory_symlink("usr/bin", root + "/bin");
    }
    QTemporaryDir tmp;
    std::string root;
};

TEST_F(PlaceTest, InstalledOnlyWhenTheExecutableLiesInTheBinaryFolder)
{
    struct Case {
        std::string exe;
        std::string binDir;
        bool installed;
    };
    const std::string bin = root + "/usr/bin";
    const Case cases[] = {
        {bin + "/dizaruz", bin, true},
        {bin + "/dizaruz", bin + "/", true},                 // a final slash changes nothing
        {root + "/bin/dizaruz", bin, true},                  // reached through a link to the folder
        {bin + "/dizaruz", root + "/bin", true},             // the prefix named through the link
        {root + "/usr/./bin/dizaruz", bin, true},
        {bin + "/sub/dizaruz", bin, false},                  // below the binary folder is elsewhere
        {root + "/build/app/dizaruz", bin, false},           // a build tree
        {root + "/usr/bin2/dizaruz", bin, false},            // a longer name with the same start
        {"dizaruz", bin, false},                             // not absolute
        {bin + "/dizaruz", "usr/bin", false},
        {bin + "/dizaruz", "", false},                       // no prefix compiled in
        {"", bin, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsInstalledExecutable(c.exe, c.binDir), c.installed) << c.exe << " in " << c.binDir;
}

TEST_F(PlaceTest, WritabilityDecidesNothing)
{
    // The binary folder here is writable, as /usr/bin is for root: the
    // copy is installed all the same.
    const std::string bin = root + "/usr/bin";
    ASSERT_EQ(::access(bin.c_str(), W_OK), 0);
    EXPECT_TRUE(IsInstalledExecutable(bin + "/dizaruz", bin));
    // And a folder nobody may write is still a portable copy when it is not the prefix.
    ::chmod((root + "/build/app").c_str(), 0555);
    EXPECT_FALSE(IsInstalledExecutable(root + "/build/app/dizaruz", bin));
    ::chmod((root + "/build/app").c_str(), 0755);
}

TEST_F(PlaceTest, InstalledCopyUsesTheUsersFolders)
{
    const TProgramPlace installed =
        ChooseProgramPlace(root + "/usr/bin/dizaruz", root + "/usr/bin", "/home/u/.local/share/Dizaruz", "/home/u/Загрузки");
    EXPECT_TRUE(installed.installed);
    EXPECT_EQ(installed.folder, "/home/u/.local/share/Dizaruz/");
    EXPECT_EQ(installed.receiveFolder, "/home/u/Загрузки/");

    const TProgramPlace portable =
        ChooseProgramPlace(root + "/build/app/dizaruz", root + "/usr/bin", "/home/u/.local/share/Dizaruz", "/home/u/Downloads");
    EXPECT_FALSE(portable.installed);
    EXPECT_EQ(portable.folder, root + "/build/app/");
    EXPECT_EQ(portable.receiveFolder, root + "/build/app/");
}

// Sets environment variables for one test and puts them back after.
class TEnvOverride {
public:
    void Set(const char *name, const std::optional<std::string> &value)
    {
        saved_.push_back({name, qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt});
        if (value)
            qputenv(name, QByteArray::fromStdString(*value));
        else
            qunsetenv(name);
    }
    ~TEnvOverride()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                qputenv(it->first, *it->second);
            else
                qunsetenv(it->first);
        }
    }

private:
    std::vector<std::pair<const char *, std::optional<QByteArray>>> saved_;
};

std::string ThisExecutableFolder()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    const std::string exe(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

TEST_F(PlaceTest, RunningCopyFindsAndCreatesTheUsersFolders)
{
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    struct Case {
        const char *userDirs; // ~/.config/user-dirs.dirs, or none
        std::string download;
    };
    const Case cases[] = {
        {nullptr, home + "/Downloads/"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n", home + "/Загрузки/"},
    };
    for (const Case &c : cases) {
        TEnvOverride env;
        env.Set("HOME", home);
        env.Set("XDG_DATA_HOME", std::nullopt);
        env.Set("XDG_CONFIG_HOME", std::nullopt);
        fs::remove(home + "/.config/user-dirs.dirs");
        if (c.userDirs)
            std::ofstream(home + "/.config/user-dirs.dirs") << c.userDirs;
        fs::remove_all(home + "/.local");

        // This test's own folder stands for the install prefix's binary folder.
        const TProgramPlace installed = ThisProgramPlace(ThisExecutableFolder());
        EXPECT_TRUE(installed.installed);
        EXPECT_EQ(installed.folder, home + "/.local/share/Dizaruz/");
        EXPECT_TRUE(fs::is_directory(installed.folder));
        EXPECT_EQ(installed.receiveFolder, c.download);
        EXPECT_TRUE(fs::is_directory(installed.receiveFolder));

        fs::remove_all(home + "/.local");
        const TProgramPlace portable = ThisProgramPlace(root + "/usr/bin");
        EXPECT_FALSE(portable.installed);
        EXPECT_EQ(portable.folder, ThisExecutableFolder() + "/");
        EXPECT_FALSE(fs::exists(home + "/.local/share/Dizaruz")); // a portable copy leaves the home alone
    }
}

} // namespace
} // namespace dz
