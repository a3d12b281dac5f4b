// Folders between two copies over real loopback sockets and real folders:
// the tree arrives whole (empty folders, any alphabet, links left behind),
// a name that exists gets a variant, a peer without Folders is refused
// before anything goes, and no path a raw peer sends reaches outside.

#include "peer/folders.h"
#include "peer/sendrun.h"
#include "peer/tests/sessiontools.h"

#include "services/framing.h"
#include "services/wire.h"
#include "util/codepage.h"


#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

using dz::services::CountedText;
using dz::services::kReply;
using dz::test::PumpUntil;
using dz::test::RawDialogue;
using dz::test::ReadFile;
using dz::test::StreamHeader;
using TSide = dz::test::TRawPeerSide;
namespace fs = std::filesystem;

class FoldersTest : public dz::test::TFolderTest {
protected:
    // A whole run of one row, as the window runs it.
    static std::string Run(TSide &a, const std::string &path)
    {
        std::string error = "pending";
        a.session->Send(a.session->Core().StartRun());
        dz::peer::RunStep(a.session->Outbox(), a.session->Streams(), a.session->Core(), path,
                          [&](const std::string &e) { error = e; });
        if (!PumpUntil([&] { return error != "pending"; }, 15000))
            return "no report";
        a.session->Send(a.session->Core().EndRun(true));
        return error;
    }
    // Every path beneath root (relative, '/' after a folder), links included.
    static std::set<std::string> Tree(const std::string &root)
    {
        std::set<std::string> paths;
        for (const auto &e : fs::recursive_directory_iterator(root)) {
            const std::string rel = fs::relative(e.path(), root).string();
            paths.insert(e.is_directory() && !e.is_symlink() ? rel + "/" : rel);
        }
        return paths;
    }
    static void Write(const std::string &path, const std::string &bytes)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // One file of a batch stream's body.
    static std::string Entry(const std::string &path, const std::string &bytes)
    {
        char field[16];
        std::snprintf(field, sizeof field, "%.4d", static_cast<int>(path.size()));
        std::string entry = field + path;
        std::snprintf(field, sizeof field, "%10d", static_cast<int>(bytes.size()));
        return entry + field + bytes;
    }
    static std::string Batch(const std::string &body)
    {
        return dz::services::TStreamFraming::Preamble(dz::services::kBitBatch) + StreamHeader("PEER", body.size()) + body;
    }
    // The raw peer's message through the real message port.
    static bool Message(TSide &b, const std::string &msg)
    {
        return RawDialogue(b.MsgPort(), {{CountedText("PEER") + CountedText(msg), kReply.size()}}) == kReply;
    }
};

TEST_F(FoldersTest, ATreeArrivesWithEmptyFoldersAnyAlphabetAndNoLinks)
{
    TSide a("127.0.0.1", Folder("a"));
    TSide b("127.0.0.2", Folder("b"));
    ASSERT_TRUE(dz::test::Introduce(a, b));

    const std::string src = Folder("src") + "Проект";
    const std::string outside = Folder("outside");
    Write(outside + "secret.txt", "not to be sent");
    Write(src + "/readme.txt", "top");
    Write(src + "/Документы/отчёт.txt", std::string(1500000, 'x'));
    Write(src + "/Документы/日本語/κείμενο.md", "");
    Write(src + "/a|b=c/x", "bar and equals in a name");
    fs::create_directories(src + "/пусто/глубже/ещё");
    fs::create_symlink(outside + "secret.txt", src + "/ссылка.txt");
    fs::create_directory_symlink(outside, src + "/Документы/наружу");
    // A name that exists already is kept and the folder takes a variant.
    Write(Folder("b") + "Проект", "an older file of that name");

    ASSERT_EQ(Run(a, src), "");
    ASSERT_TRUE(PumpUntil([&] { return b.session->Core().FreeFlag(); }));
    const std::string got = Folder("b") + "Проект-1";
    const std::set<std::string> expected = {"readme.txt",
                                            "Документы/",
                                            "Документы/отчёт.txt",
                                            "Документы/日本語/",
                                            "Документы/日本語/κείμενο.md",
                                            "a|b=c/",
                                            "a|b=c/x",
                                            "пусто/",
                                            "пусто/глубже/",
                                            "пусто/глубже/ещё/"};
    EXPECT_EQ(Tree(got), expected);
    EXPECT_EQ(ReadFile(got + "/Документы/отчёт.txt"), std::string(1500000, 'x'));
    EXPECT_EQ(ReadFile(got + "/a|b=c/x"), "bar and equals in a name");
    EXPECT_EQ(ReadFile(Folder("b") + "Проект"), "an older file of that name");
    // One row for the folder, none for its files.
    const auto rows = std::count_if(b.shown.begin(), b.shown.end(),
                                    [](const std::string &s) { return s.starts_with("Stored "); });
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(b.Shows("Stored 127.0.0.1|" + dz::Utf8ToCp1251("Проект-1")));

    // Sent again: a second variant, the first untouched.
    ASSERT_EQ(Run(a, src), "");
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(Folder("b") + "Проект-2/пусто/глубже/ещё"); }));
    EXPECT_EQ(Tree(got), expected);
}

// A single file between two copies keeps its name exactly too; a Windows
// copy would get it transliterated.
TEST_F(FoldersTest, ABareFileKeepsItsNameInAnyAlphabet)
{
    TSide a("127.0.0.1", Folder("a"));
    TSide b("127.0.0.2", Folder("b"));
    ASSERT_TRUE(dz::test::Introduce(a, b));
    const std::string name = "Müller 文件 отчёт.txt";
    Write(Folder("src") + name, "exact");
    Write(Folder("b") + name, "older");
    ASSERT_EQ(Run(a, Folder("src") + name), "");
    ASSERT_TRUE(PumpUntil([&] { return b.session->Core().FreeFlag(); }));
    EXPECT_EQ(dz::test::ReadFile(Folder("b") + name), "exact"); // replaced, as any received file
    EXPECT_EQ(Tree(Folder("b")), (std::set<std::string>{name}));
    EXPECT_TRUE(b.Shows("Stored 127.0.0.1|" + dz::FileNameToCp1251(QString::fromStdString(name))));
}

TEST_F(FoldersTest, APeerWithoutFoldersIsRefusedBeforeAnythingGoes)
{
    const std::string src = Folder("src") + "Проект";
    Write(src + "/a.txt", "a");
    for (const std::string caps : {"", "BigFiles|NoTick|Hash|Space"}) {
        TSide a("127.0.0.2", Folder("a"));
        a.IntroducedTo(caps);
        // Its messages would go to a port nobody listens on: any attempt
        // would fail with a connection error instead.
        const std::string error = Run(a, src);
        EXPECT_EQ(dz::peer::NoFoldersPath(error), src) << caps;
    }
    EXPECT_FALSE(dz::peer::NoFoldersPath("Cannot open file " + src).has_value());
}

// Each hostile path, in each position, is refused with a notice, and
// nothing appears outside the folder being received.
TEST_F(FoldersTest, NoPathFromARawPeerLeavesItsFolder)
{
    const std::string folder = Folder("b");
    const std::string outside = Folder("outside");
    TSide b("127.0.0.2", folder);
    b.IntroducedTo("BigFiles|NoTick|Hash|Space|Folders");
    ASSERT_TRUE(Message(b, "Send_Start"));
    ASSERT_TRUE(Message(b, "Dizaruz_Folder|Top"));
    ASSERT_TRUE(b.Settled());
    fs::create_directory_symlink(outside, folder + "Top/link");
    const std::string longName(256, 'n');
    const struct {
        const char *what;
        std::string path;
    } cases[] = {
        {"'..' first", "../escape"},
        {"'..' in the middle", "Top/../../escape"},
        {"'..' last", "Top/a/.."},
        {"rooted", "/" + outside + "escape"},
        {"empty in the middle", "Top//escape"},
        {"empty last", "Top/escape/"},
        {"'.' in the middle", "Top/./escape"},
        {"'.' last", "Top/escape/."},
        {"NUL", std::string("Top/esc\0ape", 11)},
        {"control character", "Top/esc\nape"},
        {"not UTF-8", "Top/\xff\xfe"},
        {"segment above NAME_MAX", "Top/" + longName},
        {"above PATH_MAX", "Top/" + [] {
             std::string p;
             for (int i = 0; i < 20; ++i)
                 p += std::string(250, 'd') + "/";
             return p + "f";
         }()},
        {"another folder", "Other/escape"},
        {"bare '..'", ".."},
        {"bare, not UTF-8", "\xff\xfe"},
        {"through a link there", "Top/link/escape"},
        {"through a link, deeper", "Top/link/sub/escape"},
    };
    for (const auto &c : cases) {
        const std::size_t notices = std::count_if(b.shown.begin(), b.shown.end(),
                                                  [](const std::string &s) { return s.starts_with("Notice "); });
        // As a folder to make, then as a file to store.
        ASSERT_TRUE(Message(b, "Dizaruz_Dir|" + c.path)) << c.what;
        ASSERT_TRUE(Message(b, "Dizaruz_File|" + c.path)) << c.what;
        const std::string answer = RawDialogue(b.StrmPort(), {{StreamHeader("PEER", 4) + "evil", kReply.size()}});
        EXPECT_NE(answer, kReply) << c.what;
        // In a batch, behind a sound file: the whole stream is refused.
        const std::string batch = Batch(Entry("Top/fine.txt", "ok") + Entry(c.path, "evil"));
        EXPECT_NE(RawDialogue(b.StrmPort(), {{batch, kReply.size()}}), kReply) << c.what;
        ASSERT_TRUE(b.Settled());
        const std::size_t now = std::count_if(b.shown.begin(), b.shown.end(),
                                              [](const std::string &s) { return s.starts_with("Notice "); });
        EXPECT_EQ(now, notices + 3) << c.what;
        EXPECT_FALSE(fs::exists(folder + "Top/fine.txt")) << c.what;
        EXPECT_TRUE(fs::is_empty(outside)) << c.what;
        EXPECT_FALSE(fs::exists(folder + "escape")) << c.what;
        EXPECT_FALSE(fs::exists(tmp.path().toStdString() + "/escape")) << c.what;
    }
    // The folder itself still takes what is sound; only Top and its link are there.
    ASSERT_TRUE(Message(b, "Dizaruz_File|Top/sub/ok.txt"));
    EXPECT_EQ(RawDialogue(b.StrmPort(), {{StreamHeader("PEER", 2) + "ok", kReply.size()}}), kReply);
    EXPECT_EQ(ReadFile(folder + "Top/sub/ok.txt"), "ok");
    const std::string batch = Batch(Entry("Top/b1/x", "first") + Entry("Top/b2/пусто", "") + Entry("Top/b1/y", "third"));
    EXPECT_EQ(RawDialogue(b.StrmPort(), {{batch, kReply.size()}}), kReply);
    EXPECT_EQ(ReadFile(folder + "Top/b1/x"), "first");
    EXPECT_TRUE(fs::is_regular_file(folder + "Top/b2/пусто"));
    EXPECT_EQ(ReadFile(folder + "Top/b1/y"), "third");
    // Nothing that exists is replaced, also by a batch.
    EXPECT_NE(RawDialogue(b.StrmPort(), {{Batch(Entry("Top/b1/x", "again")), kReply.size()}}), kReply);
    EXPECT_EQ(ReadFile(folder + "Top/b1/x"), "first");
    std::set<std::string> top;
    for (const auto &e : fs::directory_iterator(folder))
        top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"Top"}));

    // A hostile name for the folder itself makes nothing.
    for (const std::string name : {"..", ".", "", "a/b", "/abs"}) {
        ASSERT_TRUE(Message(b, "Dizaruz_Folder|" + name)) << name;
        ASSERT_TRUE(Message(b, "Dizaruz_Dir|" + name + "/x")) << name;
    }
    ASSERT_TRUE(b.Settled());
    EXPECT_TRUE(fs::is_empty(outside));
    top.clear();
    for (const auto &e : fs::directory_iterator(folder))
        top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"Top"}));
}

} // namespace
