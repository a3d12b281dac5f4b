#include "Controls.h"
#include "Form1.h"
#include "peer/orderedwork.h"
#include "peer/session.h"
#include "PeerTools.h"

#include "net/stream.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListView>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace peer;

class TransferTest : public TPeerTest {
protected:
    std::string MakeFile(const std::string &name, std::size_t size, unsigned seed)
    {
        fs::create_directories(fs::path(FsFolder("src") + name).parent_path());
        std::string bytes(size, '\0');
        std::mt19937 rng(seed);
        for (auto &c : bytes)
            c = static_cast<char>(rng());
        std::ofstream(FsFolder("src") + name, std::ios::binary) << bytes;
        return bytes;
    }
    // Sends bytes to the window's stream server and waits until it handled
    // them. stored: whether the window is to answer (it answers only a file
    // it stored; otherwise it resets the connection).
    static void Stream(TForm1 &f, const std::string &bytes, bool stored = true)
    {
        dz::services::TNMStrm client;
        client.Host = "127.0.0.1";
        client.Port = f.NMStrmServ1->LocalPort();
        client.FromName = "PEER";
        dz::net::TMemoryStream stream;
        stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        if (stored)
            ASSERT_EQ(client.PostStream(stream), kReply);
        else
            EXPECT_THROW(client.PostStream(stream), dz::net::ESockError);
        ASSERT_TRUE(PumpUntil([&] { return f.Work().PendingCount() == 0; }));
    }
};

TEST_F(TransferTest, ACheckedListTravelsWholeAndLeavesTheSendList)
{
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
    SendsTo(*a, *b);
    SendsTo(*b, *a);
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.2"));
    a->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return a->SB_send->isEnabled(); }));

    const std::string report = "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt"; // Отчёт.txt
    const std::string reportBytes = MakeFile(report, 1000, 1);
    MakeFile("skip.txt", 10, 2);
    MakeFile("empty.bin", 0, 3);
    const std::string bigBytes = MakeFile("big.bin", 3 * 1024 * 1024 + 5, 4);
    for (const auto &[name, checked] : std::vector<std::pair<std::string, bool>>{
             {report, true}, {"skip.txt", false}, {"empty.bin", true}, {"big.bin", true}})
        AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + name), true, checked);
    // A receive folder without its final separator: files still go inside it.
    fs::create_directories(FsFolder("in"));
    std::string in = FsFolder("in");
    in.pop_back();
    b->ShowReceiveFolder(in);

    a->SB_sendClick();
    EXPECT_FALSE(a->Label_YesSend->isHidden());
    EXPECT_FALSE(a->SB_send->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden(); }, 20000));
    EXPECT_TRUE(a->SB_send->isEnabled());
    EXPECT_TRUE(a->SB_Help->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return b->FreeFlag && b->Work().PendingCount() == 0; }));

    EXPECT_TRUE(ReadFile("in", report) == reportBytes);
    EXPECT_TRUE(ReadFile("in", "big.bin") == bigBytes);
    EXPECT_TRUE(fs::exists(FsFolder("in") + "empty.bin")) << "an empty file is stored too";
    EXPECT_EQ(fs::file_size(FsFolder("in") + "empty.bin"), 0u);
    EXPECT_FALSE(fs::exists(FsFolder("in") + "skip.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(FsFolder("in")), fs::directory_iterator()), 3)
        << "no temporary file is left";

    // The sender keeps only the unchecked row, on screen and in its file.
    ASSERT_EQ(RowCount(a->ListF_send), 1);
    EXPECT_EQ(RowText(a->ListF_send, 0), dz::Utf8ToCp1251(FsFolder("src") + "skip.txt"));
    EXPECT_FALSE(RowChecked(a->ListF_send, 0));
    EXPECT_EQ(ReadFile("a", "~ListFile_send.txt"), dz::Utf8ToCp1251(FsFolder("src") + "skip.txt") + "\r\n");

    // The receiver lists what it stored, newest first, and saves the list.
    const auto rows = ListRows(b->ListF_recv);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[0].find(" | 127.0.0.1 | big.bin"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find(" | 127.0.0.1 | empty.bin"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find(" | 127.0.0.1 | " + dz::Utf8ToCp1251(report)), std::string::npos) << rows[2];
    EXPECT_EQ(ReadFile("b", "~ListFile_reciv.txt"), rows[0] + "\r\n" + rows[1] + "\r\n" + rows[2] + "\r\n");
    EXPECT_TRUE(b->Label_YesReciv->isHidden());
    EXPECT_EQ(TextOf(b->Label_RecivNow), "");
}

// A batch saves the receive list a moment after each file, not per file;
// what changed is saved when the window goes, even mid-batch.
TEST_F(TransferTest, ABatchsListIsSavedSoonAndWhenTheWindowGoes)
{
    auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
    Introduce(*b);
    fs::create_directories(FsFolder("in"));
    b->ShowReceiveFolder(FsFolder("in"));
    const auto receive = [&](const std::string &name) {
        Deliver(*b, "File_Start|" + name);
        Stream(*b, name);
        Deliver(*b, "File_End|" + name);
    };
    const auto saved = [&] {
        std::string rows;
        for (const std::string &row : ListRows(b->ListF_recv))
            rows += row + "\r\n";
        return rows;
    };
    Deliver(*b, "Send_Start");
    receive("one.txt");
    ASSERT_EQ(RowCount(b->ListF_recv), 1);
    EXPECT_TRUE(PumpUntil([&] { return ReadFile("b", "~ListFile_reciv.txt") == saved(); }, 5000));
    receive("two.txt");
    ASSERT_EQ(RowCount(b->ListF_recv), 2);
    const std::string rows = saved();
    b.reset(); // no "Send_End": the batch is cut short
    EXPECT_EQ(ReadFile("b", "~ListFile_reciv.txt"), rows);
}

TEST_F(TransferTest, UnsafeMissingAndUnwritableTargetsStoreNothingOutside)
{
    auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
    Introduce(*b);
    fs::create_directories(FsFolder("in/deep"));
    b->ShowReceiveFolder(FsFolder("in/deep"));

    // A name with a folder part lands inside the receive folder.
    Deliver(*b, "File_Start|../escape.txt");
    Stream(*b, "payload");
    EXPECT_EQ(ReadFile("in/deep", "escape.txt"), "payload");
    EXPECT_FALSE(fs::exists(FsFolder("in") + "escape.txt"));
    EXPECT_EQ(RowCount(b->ListF_recv), 1);

    // No pending name, or nothing safe in it: nothing is stored or listed,
    // and the receiving user is told, in one notice that waits for nobody.
    Stream(*b, "orphan", false);
    EXPECT_EQ(RowCount(b->ListF_recv), 1);
    Deliver(*b, "File_Start|..");
    Stream(*b, "dots", false);
    EXPECT_EQ(RowCount(b->ListF_recv), 1);
    ASSERT_EQ(dialogs->notices.size(), 2u);
    EXPECT_EQ(dialogs->notices[1].text, QStringLiteral("Файл от PEER не сохранён: недопустимое имя «..»."));

    // A folder that refuses new files: no file, and no row claiming one.
    b->ShowReceiveFolder("/proc/");
    Deliver(*b, "File_Start|nowhere.txt");
    Stream(*b, "lost", false);
    EXPECT_EQ(RowCount(b->ListF_recv), 1);
    EXPECT_FALSE(fs::exists("/proc/nowhere.txt"));
    ASSERT_EQ(dialogs->notices.size(), 3u) << "the receiving user learns that the file is lost";
    EXPECT_EQ(dialogs->notices.back().text, QStringLiteral("Cannot create file /proc/nowhere.txt"));
    EXPECT_TRUE(dialogs->messages.empty()) << "no modal box holds up later work";
    EXPECT_EQ(TextOf(b->Label_RecivNow), "nowhere.txt") << "the pending name stays after a failure";

    // A file of the same name is replaced whole.
    b->ShowReceiveFolder(FsFolder("in/deep"));
    Deliver(*b, "File_Start|escape.txt");
    Stream(*b, "second");
    EXPECT_EQ(ReadFile("in/deep", "escape.txt"), "second");
    EXPECT_EQ(RowCount(b->ListF_recv), 2);
}


// Between two windows a folder row arrives as its tree, listed as one row.
TEST_F(TransferTest, AFolderRowArrivesAsItsTreeInOneRow)
{
    auto [a, b] = ConnectedPair();
    const std::string inner = MakeFile("Проект/код/main.cpp", 3000, 1);
    MakeFile("после.txt", 10, 2);
    fs::create_directories(FsFolder("src") + "Проект/пустая");
    AddRowUtf8(a->ListF_send, FsFolder("src") + "Проект", true, true);
    AddRowUtf8(a->ListF_send, FsFolder("src") + "после.txt", true, true);
    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden(); }, 20000));
    ASSERT_TRUE(PumpUntil([&] { return b->FreeFlag && b->Work().PendingCount() == 0; }));
    EXPECT_EQ(ReadFile("in/Проект/код", "main.cpp"), inner);
    EXPECT_TRUE(fs::is_directory(FsFolder("in") + "Проект/пустая"));
    const std::vector<std::string> rows = ListRows(b->ListF_recv);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].substr(rows[1].rfind(" | ") + 3), dz::Utf8ToCp1251("Проект"));
    EXPECT_EQ(rows[0].substr(rows[0].rfind(" | ") + 3), dz::Utf8ToCp1251("после.txt"));
    EXPECT_EQ(RowCount(a->ListF_send), 0);
    for (const TAsked &m : dialogs->messages)
        ADD_FAILURE() << m.text.toStdString();
}

// A send run against a raw peer that records every text.
class RawRunTest : public TransferTest {
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
        a->Core().SetAllHosts("127.0.0.1");
        a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
        a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    }
    std::unique_ptr<TForm1> a;
    TRawMsgPeer msgPeer;
};

TEST_F(RawRunTest, AnUnreadableFileStallsTheRunAtItsRow)
{
    MakeFile("later.txt", 5, 1);
    const std::string missing = dz::Utf8ToCp1251(FsFolder("src") + "gone.txt");
    AddRow(a->ListF_send, missing, true, true);
    AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + "later.txt"), true, true);

    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->messages.empty(); }, 10000));
    EXPECT_EQ(dialogs->messages[0].text, QString::fromStdString("Cannot open file " + FsFolder("src") + "gone.txt"));
    // The run ends there: nothing of the file reaches the peer, which hears
    // that the batch is over, and the user can start again at once.
    ASSERT_TRUE(PumpUntil([&] { return msgPeer.count() == 2; }));
    PumpFor(200);
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "Send_End"}));
    EXPECT_FALSE(a->Timer1->isActive());
    EXPECT_TRUE(a->Label_YesSend->isHidden());
    EXPECT_TRUE(a->SB_send->isEnabled());
    EXPECT_TRUE(a->SB_Help->isEnabled());
    ASSERT_EQ(RowCount(a->ListF_send), 2);
    EXPECT_EQ(RowText(a->ListF_send, 0), missing);
    EXPECT_TRUE(RowChecked(a->ListF_send, 0));
}

// A peer that never said it takes folders hears nothing of one: the run
// stops at the folder's row, which stays, and the user is told why.
TEST_F(RawRunTest, AFolderToAPeerWithoutFoldersIsRefusedBeforeAnythingGoes)
{
    MakeFile("Проект/a.txt", 5, 1);
    MakeFile("later.txt", 5, 2);
    const std::string folder = FsFolder("src") + "Проект";
    AddRowUtf8(a->ListF_send, folder, true, true);
    AddRowUtf8(a->ListF_send, FsFolder("src") + "later.txt", true, true);

    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->messages.empty(); }, 10000));
    EXPECT_EQ(dialogs->messages[0].text,
              QStringLiteral("Папка «%1» не отправлена: программа на другом компьютере принимает только отдельные файлы.")
                  .arg(QString::fromStdString(folder)));
    ASSERT_TRUE(PumpUntil([&] { return msgPeer.count() == 2; }));
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "Send_End"}));
    ASSERT_EQ(RowCount(a->ListF_send), 2);
    EXPECT_EQ(RowUtf8(a->ListF_send, 0), folder);
    EXPECT_TRUE(RowChecked(a->ListF_send, 0));
}

// A name Windows-1251 cannot say goes to the peer transliterated, with the
// characters a Windows copy refuses made '_'; the file itself is read from
// its exact path.
TEST_F(RawRunTest, FileNamesAreAnnouncedAsAWindowsCopyCanTakeThem)
{
    TRawStrmPeer strmPeer;
    a->NMStrm1->Port = static_cast<quint16>(strmPeer.port());
    const std::string name = "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e: \xE6\x96\x87?.txt"; // Crème brûlée: 文?.txt
    MakeFile(name, 5, 1);
    AddRowUtf8(a->ListF_send, FsFolder("src") + name, true, true);
    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return msgPeer.count() == 4; }, 10000));
    EXPECT_EQ(msgPeer.texts()[1], "File_Start|Creme brulee_ __.txt");
    EXPECT_EQ(msgPeer.texts()[2], "File_End|Creme brulee_ __.txt");
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(RawRunTest, UncheckedRowsCostATickEachAndStay)
{
    MakeFile("one.txt", 5, 1);
    MakeFile("two.txt", 5, 2);
    for (const char *name : {"one.txt", "two.txt"})
        AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + name), true, false);
    const std::string listFile = FsFolder("a") + "~ListFile_send.txt";
    fs::remove(listFile);

    a->Edit_RemoteComputerName->setText(QStringLiteral("   "));
    a->SB_sendClick();
    EXPECT_EQ(TextOf(a->Edit_RemoteComputerName), "");
    EXPECT_TRUE(a->Label_YesSend->isHidden()) << "a blank peer name starts nothing";
    PumpFor(200);
    EXPECT_EQ(msgPeer.count(), 0u);

    a->Edit_RemoteComputerName->setText(QStringLiteral(" 127.0.0.1 "));
    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden(); }, 10000));
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "Send_End"}));
    EXPECT_EQ(ListRows(a->ListF_send).size(), 2u);
    EXPECT_FALSE(fs::exists(listFile)) << "an unchanged list is not written";
    EXPECT_TRUE(a->SB_send->isEnabled());
}

} // namespace
