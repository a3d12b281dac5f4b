// A send run over a send list, without a window and without a network: the
// session's part is a port that writes down what it was asked, and the
// test's clock is a timer that fires when the test says.

#include "peer/sendrun.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using dz::peer::TSendListModel;
using dz::peer::TSendRun;

class TManualTimer : public dz::peer::IRunTimer {
public:
    void Start(std::chrono::milliseconds delay, std::function<void()> fire) override
    {
        delay_ = delay;
        fire_ = std::move(fire);
    }
    void Stop() override { fire_ = {}; }
    bool Pending() const { return static_cast<bool>(fire_); }
    std::chrono::milliseconds Delay() const { return delay_; }
    void Fire()
    {
        if (auto fire = std::exchange(fire_, {}))
            fire();
    }

private:
    std::function<void()> fire_;
    std::chrono::milliseconds delay_ {-1};
};

struct TRig {
    TSendListModel list;
    TManualTimer timer;
    std::vector<std::string> log;
    dz::peer::TDone begun, stepDone;
    bool noTick = false;
    std::vector<std::int64_t> sizes;
    std::unique_ptr<TSendRun> run;

    TRig()
    {
        dz::peer::TSendRunPort port;
        port.begin = [this](dz::peer::TDone done) {
            log.push_back("begin");
            begun = std::move(done);
        };
        port.finish = [this](bool tell, dz::peer::TDone) { log.push_back(tell ? "end" : "end quietly"); };
        port.step = [this](const std::string &path, std::function<void(std::int64_t)> opened, dz::peer::TDone done) {
            log.push_back("step " + path);
            opened(static_cast<std::int64_t>(path.size()) * 100);
            stepDone = std::move(done);
            return std::function<void()>([this] { log.push_back("cut"); });
        };
        port.noTick = [this] { return noTick; };
        port.sizes = [this](std::vector<std::string> paths, std::function<void(std::vector<std::int64_t>)> done) {
            std::vector<std::int64_t> s;
            for (const std::string &p : paths)
                s.push_back(static_cast<std::int64_t>(p.size()) * 100);
            done(s);
        };
        TSendRun::TListener listener;
        listener.failed = [this](const std::string &e) { log.push_back("told " + e); };
        run = std::make_unique<TSendRun>(list, timer, port, listener);
    }

    int Row(const std::string &path) const
    {
        for (int r = 0; r < list.Count(); ++r)
            if (list.Path(r).toStdString() == path)
                return r;
        return -1;
    }
    std::string Rows() const
    {
        std::string out;
        for (int r = 0; r < list.Count(); ++r)
            out += list.Path(r).toStdString() + (list.Checked(r) ? "+" : "-") + " ";
        return out;
    }
    // One word of a script: "fire", "ok", "fail", "go" (Send_Start went),
    // "cancel", "del:X", "add:X", "uncheck:X".
    void Do(const std::string &word)
    {
        if (word == "fire") {
            ASSERT_TRUE(timer.Pending()) << word;
            log.push_back("tick " + std::to_string(timer.Delay().count()));
            timer.Fire();
        } else if (word == "go") {
            std::exchange(begun, {})("");
        } else if (word == "nogo") {
            std::exchange(begun, {})("refused");
        } else if (word == "ok" || word == "fail") {
            ASSERT_TRUE(stepDone) << word;
            std::exchange(stepDone, {})(word == "ok" ? "" : "broken");
        } else if (word == "cancel") {
            run->Cancel();
        } else if (word.rfind("del:", 0) == 0) {
            list.Remove(Row(word.substr(4)));
        } else if (word.rfind("add:", 0) == 0) {
            list.Append(QString::fromStdString(word.substr(4)));
        }
    }
};

std::string Joined(const std::vector<std::string> &words)
{
    std::string out;
    for (const std::string &w : words)
        out += (out.empty() ? "" : ", ") + w;
    return out;
}

TEST(SendRunTest, StepsPacingAndWhatTheUserDoesMeanwhile)
{
    struct TCase {
        const char *what;
        bool noTick;
        std::vector<std::pair<std::string, bool>> rows;
        std::string script; // words, blank-separated
        std::string log;
        std::string rowsLeft;
    };
    const std::vector<TCase> cases = {
        {"an original peer: a tick before each row, an unchecked one too", false, {{"A", true}, {"B", false}, {"C", true}},
         "go fire ok fire fire ok fire",
         "begin, tick 1000, step A, tick 1000, tick 1000, step C, tick 1000, end", "B- "},
        {"a peer without the tick: the next row at once, unchecked rows cost nothing", true,
         {{"A", true}, {"B", false}, {"C", true}}, "go fire ok fire ok fire",
         "begin, tick 0, step A, tick 0, step C, tick 0, end", "B- "},
        {"a failed step ends the run at its row, which stays checked", true, {{"A", true}, {"B", true}}, "go fire fail",
         "begin, tick 0, step A, end, told broken", "A+ B+ "},
        {"Send_Start that does not go: nothing more, quietly ended", false, {{"A", true}}, "nogo",
         "begin, end quietly, told refused", "A+ "},
        {"a cancel cuts the file; its late report is stale", true, {{"A", true}, {"B", true}}, "go fire cancel ok",
         "begin, tick 0, step A, cut, end", "A+ B+ "},
        {"rows removed above and added below the step keep the run in place", true,
         {{"A", false}, {"B", true}, {"C", true}}, "go fire del:A add:D ok fire ok fire ok fire",
         "begin, tick 0, step B, tick 0, step C, tick 0, step D, tick 0, end", ""},
        {"the step's own row removed: the next row still follows", true, {{"A", true}, {"B", true}},
         "go fire del:A ok fire ok fire", "begin, tick 0, step A, tick 0, step B, tick 0, end", ""},
        {"the row the run passed removed while it waits: the run goes on after the one before", false,
         {{"A", true}, {"B", false}, {"C", true}}, "go fire ok fire del:B fire ok fire",
         "begin, tick 1000, step A, tick 1000, tick 1000, step C, tick 1000, end", ""},
    };
    for (const TCase &c : cases) {
        TRig rig;
        rig.noTick = c.noTick;
        for (const auto &[path, checked] : c.rows)
            rig.list.Append(QString::fromStdString(path), checked);
        ASSERT_TRUE(rig.run->Start()) << c.what;
        std::istringstream words(c.script);
        for (std::string word; words >> word;)
            rig.Do(word);
        EXPECT_EQ(Joined(rig.log), c.log) << c.what;
        EXPECT_EQ(rig.Rows(), c.rowsLeft) << c.what;
        EXPECT_FALSE(rig.run->Going()) << c.what;
        EXPECT_FALSE(rig.timer.Pending()) << c.what;
    }
}

TEST(SendRunTest, TotalsCountTheCheckedRowsAndWhatWent)
{
    TRig rig;
    rig.noTick = true;
    rig.list.Append(QStringLiteral("aa"), true);
    rig.list.Append(QStringLiteral("bbbb"), false);
    rig.list.Append(QStringLiteral("cccccc"), true);
    EXPECT_FALSE(TSendRun(rig.list, rig.timer, {}).Going());
    ASSERT_TRUE(rig.run->Start());
    EXPECT_EQ(rig.run->Totals().files, 2);
    EXPECT_EQ(rig.run->Totals().bytes, 800);
    for (const char *word : {"go", "fire", "ok"})
        rig.Do(word);
    EXPECT_EQ(rig.run->Totals().filesDone, 1);
    EXPECT_EQ(rig.run->Totals().bytesDone, 200);
    // A new run starts from the top with totals of its own, and stops the old step.
    rig.Do("fire");
    ASSERT_TRUE(rig.run->StepInFlight());
    ASSERT_TRUE(rig.run->Start());
    EXPECT_EQ(rig.log.back(), "begin");
    EXPECT_EQ(rig.log[rig.log.size() - 2], "cut");
    EXPECT_EQ(rig.run->Totals().files, 1); // the row sent has left the list
    EXPECT_EQ(rig.run->Totals().filesDone, 0);
}

TEST(SendRunTest, AnEmptyListStartsNothing)
{
    TRig rig;
    EXPECT_FALSE(rig.run->Start());
    EXPECT_TRUE(rig.log.empty());
}

TEST(SendListModelTest, IdsStayWithTheirRowsAndCheckMarksToggle)
{
    TSendListModel list;
    const auto a = list.Append(QStringLiteral("/a"), true);
    const auto b = list.Append(QStringLiteral("/b"), false);
    list.Remove(0);
    const auto c = list.Append(QStringLiteral("/c"));
    EXPECT_NE(a, b);
    EXPECT_NE(a, c); // an id is never given twice
    EXPECT_EQ(list.RowOf(a), -1);
    EXPECT_EQ(list.RowOf(b), 0);
    EXPECT_EQ(list.RowOf(c), 1);
    EXPECT_TRUE(list.setData(list.index(0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(list.Checked(0));
    EXPECT_FALSE(list.setData(list.index(0), QStringLiteral("x"), Qt::DisplayRole));
    EXPECT_TRUE(list.flags(list.index(0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_EQ(list.Paths(), (std::vector<std::string>{"/b", "/c"}));
}

} // namespace
