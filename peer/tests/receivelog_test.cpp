// The receive log keeps where each file went, through its own file, and the
// state writer coalesces writes of one file.

#include "peer/latestwrite.h"
#include "peer/receivelog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

using dz::peer::TReceiveLogModel;

TEST(ReceiveLogTest, PathsComeBackWithTheirRowsWhateverTheyHold)
{
    struct TCase {
        const char *what;
        std::vector<std::pair<std::string, std::string>> rows; // text, path (newest first)
        std::vector<std::string> texts; // the list file as another copy left it; empty: as written
        std::vector<std::string> paths; // expected, row by row
    };
    const std::string odd = "/home/u/a\tb%41\nc\r.txt";
    const std::vector<TCase> cases = {
        {"plain", {{"1 | P | a.txt", "/r/a.txt"}, {"2 | P | b.txt", "/old/b.txt"}}, {}, {"/r/a.txt", "/old/b.txt"}},
        {"tabs, newlines and percent signs in a path", {{"1 | P | x", odd}}, {}, {odd}},
        {"a row listed by a copy that keeps no paths", {{"1 | P | a.txt", "/r/a.txt"}, {"0 | P | old.txt", ""}}, {},
         {"/r/a.txt", ""}},
        {"the list rewritten elsewhere: rows still find their paths by text",
         {{"1 | P | a.txt", "/r/a.txt"}, {"2 | P | b.txt", "/r/b.txt"}},
         {"new | Q | c.txt", "2 | P | b.txt"},
         {"", "/r/b.txt"}},
        {"the same text twice keeps its paths in order",
         {{"1 | P | a.txt", "/r/a-1.txt"}, {"1 | P | a.txt", "/r/a.txt"}}, {}, {"/r/a-1.txt", "/r/a.txt"}},
    };
    for (const TCase &c : cases) {
        TReceiveLogModel log;
        for (auto it = c.rows.rbegin(); it != c.rows.rend(); ++it)
            log.Prepend(QString::fromStdString(it->first), QString::fromStdString(it->second));
        TReceiveLogModel again;
        again.Load(c.texts.empty() ? log.Texts() : c.texts, log.PathLines());
        ASSERT_EQ(again.Count(), static_cast<int>(c.paths.size())) << c.what;
        for (int row = 0; row < again.Count(); ++row)
            EXPECT_EQ(again.StoredPath(row).toStdString(), c.paths[static_cast<std::size_t>(row)]) << c.what;
    }
}

TEST(ReceiveLogTest, ARowWithoutAPathIsFoundInTheFolder)
{
    TReceiveLogModel log;
    log.Prepend(QStringLiteral("22.12.2006 14:03:27 | P | ../x | y.txt"), {});
    log.Prepend(QStringLiteral("no bars"), {});
    log.Prepend(QStringLiteral("1 | P | kept.txt"), QStringLiteral("/elsewhere/kept.txt"));
    const QString folder = QStringLiteral("/now/");
    EXPECT_EQ(log.FileOf(0, folder), QStringLiteral("/elsewhere/kept.txt"));
    EXPECT_EQ(log.FileOf(1, folder), QString());
    EXPECT_EQ(log.FileOf(2, folder), QStringLiteral("/now/x | y.txt")); // the name stays inside the folder
    EXPECT_EQ(log.FileOf(3, folder), QString());
}

TEST(LatestWriterTest, AWriteOvertakenWhileItWaitedIsNeverMade)
{
    dz::peer::TLatestWriter writer;
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false, started = false;
    std::vector<std::string> written;
    // The first write holds the worker until the others are queued.
    writer.Write("a", [&] {
        std::unique_lock lock(mutex);
        started = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return release; });
        written.push_back("a1");
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return started; }));
    }
    for (const char *job : {"a2", "b1", "a3"})
        writer.Write(std::string(1, job[0]), [&, job] {
            std::lock_guard lock(mutex);
            written.push_back(job);
        });
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(5)));
    EXPECT_EQ(written, (std::vector<std::string>{"a1", "a3", "b1"}));
}

} // namespace
