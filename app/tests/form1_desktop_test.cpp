// The window and the desktop: opening received files from the receive list,
// showing them in the file manager, and the notification after a batch.

#include "About.h"
#include "Controls.h"
#include "Form1Desktop.h"
#include "ReceivePage.h"
#include "peer/receivelog.h"
#include "FormFixture.h"
#include "PeerTools.h"
#include "PrivateBus.h"
#include "desktop/notifications.h"
#include "util/codepage.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace peer;
using dz::testing::TPrivateBus;
using dz::testing::TStubFileManager;
using dz::testing::TStubNotifications;

class DesktopWindowTest : public TPeerTest {
protected:
    // A window whose receive list names files in FsFolder("in").
    // A window receiving into in/; introduced: a raw peer on this host has
    // introduced itself (only the introduced peer's batches are taken).
    std::unique_ptr<TForm1> Receiver(bool introduced = true)
    {
        auto f = MakeWindow("b", "127.0.0.2", "192.168.0.2");
        fs::create_directories(FsFolder("in"));
        f->ShowReceiveFolder(FsFolder("in"));
        if (introduced)
            Introduce(*f);
        return f;
    }
    void Touch(const std::string &sub, const std::string &utf8Name)
    {
        fs::create_directories(FsFolder(sub));
        std::ofstream(FsFolder(sub) + utf8Name) << "x";
    }
    static void Row(TForm1 &f, const std::string &utf8Name, const std::string &from = "PETROV")
    {
        InsertRow(f.ListF_recv, 0, "22.12.2006 14:03:27 | " + from + " | " + dz::Utf8ToCp1251(utf8Name));
    }
    static QPoint RowCentre(const TForm1 &f, int row)
    {
        return f.ListF_recv->visualRect(f.ListF_recv->model()->index(row, 0)).center();
    }
    // As a user does it: the first click selects, the second opens.
    static void DoubleClick(TForm1 &f, int row)
    {
        QTest::mouseClick(f.ListF_recv->viewport(), Qt::LeftButton, {}, RowCentre(f, row));
        QTest::mouseDClick(f.ListF_recv->viewport(), Qt::LeftButton, {}, RowCentre(f, row));
    }
    QUrl FileUrl(const std::string &sub, const std::string &utf8Name) const
    {
        return QUrl::fromLocalFile(QString::fromStdString(FsFolder(sub) + utf8Name));
    }
};

TEST_F(DesktopWindowTest, RowNamesItsFileInTheReceiveFolder)
{
    auto f = Receiver();
    TReceivePage &d = *f->ReceivePage;
    const QString in = QString::fromStdString(FsFolder("in"));
    const QString program = QString::fromStdString(FsFolder("b"));
    struct Case {
        std::string row;   // UTF-8
        std::string label; // the receive folder's text, UTF-8
        QString file;
    };
    std::string inWithoutSlash = FsFolder("in");
    inWithoutSlash.pop_back();
    const Case cases[] = {
        {"22.12.2006 14:03:27 | PETROV | a.txt", FsFolder("in"), in + QStringLiteral("a.txt")},
        {"22.12.2006 14:03:27 | PETROV | Отчёт за год.txt", FsFolder("in"), in + QStringLiteral("Отчёт за год.txt")},
        // A name holding the separator itself: all after the second one.
        {"22.12.2006 14:03:27 | PETROV | a | b.txt", FsFolder("in"), in + QStringLiteral("a | b.txt")},
        {"22.12.2006 14:03:27 | PETROV | a.txt", inWithoutSlash, in + QStringLiteral("a.txt")},
        // Where the file went when it was stored: the program folder.
        {"22.12.2006 14:03:27 | PETROV | a.txt", "", program + QStringLiteral("a.txt")},
        {"22.12.2006 14:03:27 | PETROV | a.txt", FsFolder("gone"), program + QStringLiteral("a.txt")},
        // A row from an edited list that would lead out of the folder, or names nothing.
        {"22.12.2006 14:03:27 | PETROV | ../../etc/passwd", FsFolder("in"), in + QStringLiteral("passwd")},
        {"22.12.2006 14:03:27 | PETROV | ..", FsFolder("in"), QString()},
        {"22.12.2006 14:03:27 | PETROV | ", FsFolder("in"), QString()},
        {"a.txt", FsFolder("in"), QString()},
        {"22.12.2006 | a.txt", FsFolder("in"), QString()},
    };
    for (const Case &c : cases) {
        f->ReceiveLog().Clear();
        AddRow(f->ListF_recv, dz::Utf8ToCp1251(c.row), false);
        SetTextOf(f->Label_Dir_Reciv, dz::Utf8ToCp1251(c.label));
        EXPECT_EQ(d.ReceivedFile(0), c.file) << c.row << " in " << c.label;
    }
    EXPECT_EQ(d.ReceivedFile(1), QString());
    EXPECT_EQ(d.ReceivedFile(-1), QString());
}

TEST_F(DesktopWindowTest, DoubleClickOpensTheRowsFile)
{
    auto f = Receiver();
    Touch("in", "старый.txt");
    Touch("in", "новый.pdf");
    Row(*f, "старый.txt");
    Row(*f, "новый.pdf"); // newest first
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));

    DoubleClick(*f, 1);
    DoubleClick(*f, 0);
    EXPECT_EQ(dialogs->openedUrls, (std::vector<QUrl>{FileUrl("in", "старый.txt"), FileUrl("in", "новый.pdf")}));
    EXPECT_TRUE(dialogs->messages.empty());

    // The desktop has no application for it: told.
    dialogs->openUrlResult = false;
    DoubleClick(*f, 0);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text,
              QStringLiteral("Ошибка при открытии документа : ") + QString::fromStdString(FsFolder("in") + "новый.pdf"));
}

TEST_F(DesktopWindowTest, FileThatIsGoneIsToldAndNotOpened)
{
    auto f = Receiver();
    Row(*f, "удалён.txt");
    f->ReceivePage->OpenRow(0);
    f->ReceivePage->ShowRowInFolder(0);
    EXPECT_TRUE(dialogs->openedUrls.empty());
    ASSERT_EQ(dialogs->messages.size(), 2u);
    for (const TAsked &m : dialogs->messages)
        EXPECT_EQ(m.text, QStringLiteral("Файла больше нет в папке приема:\n")
                              + QString::fromStdString(FsFolder("in") + "удалён.txt"));
    // A folder of that name is no file to open either.
    fs::create_directories(FsFolder("in") + "удалён.txt");
    f->ReceivePage->OpenRow(0);
    EXPECT_EQ(dialogs->messages.size(), 3u);
    EXPECT_TRUE(dialogs->openedUrls.empty());
}

TEST_F(DesktopWindowTest, ContextMenuOffersOpenAndShowForARowOnly)
{
    auto f = Receiver();
    Touch("in", "a.txt");
    Touch("in", "b.txt");
    Row(*f, "a.txt");
    Row(*f, "b.txt");
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    TReceivePage &d = *f->ReceivePage;
    EXPECT_EQ(f->findChild<QMenu *>(QStringLiteral("PopupMenu_recv")), d.PopupMenu_recv);
    EXPECT_EQ(f->findChild<QAction *>(QStringLiteral("N_RecvOpen")), d.N_RecvOpen);
    EXPECT_EQ(f->findChild<QAction *>(QStringLiteral("N_RecvShow")), d.N_RecvShow);
    EXPECT_EQ(d.N_RecvOpen->text(), QStringLiteral("Открыть"));
    EXPECT_EQ(d.N_RecvShow->text(), QStringLiteral("Показать в папке"));

    // Below the last row: no menu.
    QPoint below = RowCentre(*f, 1);
    below.ry() += 40;
    emit f->ListF_recv->customContextMenuRequested(below);
    EXPECT_FALSE(d.PopupMenu_recv->isVisible());

    // On the second row: it is selected and the menu is about it.
    emit f->ListF_recv->customContextMenuRequested(RowCentre(*f, 1));
    ASSERT_TRUE(PumpUntil([&] { return d.PopupMenu_recv->isVisible(); }));
    EXPECT_EQ(ItemIndex(f->ListF_recv), 1);
    d.PopupMenu_recv->hide();
    d.N_RecvOpen->trigger();
    EXPECT_EQ(dialogs->openedUrls, std::vector<QUrl>{FileUrl("in", "a.txt")});
}

TEST_F(DesktopWindowTest, ShowInFolderAsksTheFileManagerOrOpensTheFolder)
{
    TPrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not available";
    desktopBus = bus.address();
    auto f = Receiver();
    Touch("in", "отчёт 1.txt");
    Row(*f, "отчёт 1.txt");
    SetItemIndex(f->ListF_recv, 0);

    // No file manager on the bus: the folder opens instead.
    f->ReceivePage->N_RecvShow->trigger();
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->openedUrls.empty(); }));
    EXPECT_EQ(dialogs->openedUrls, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(FsFolder("in")).chopped(1))});

    // A file manager: it gets the file, and nothing else is opened.
    dialogs->openedUrls.clear();
    TStubFileManager manager;
    ASSERT_TRUE(manager.Register(bus.Connect()));
    f->ReceivePage->N_RecvShow->trigger();
    ASSERT_TRUE(PumpUntil([&] { return !manager.requests.empty(); }));
    PumpFor(100);
    ASSERT_EQ(manager.requests[0].size(), 1);
    EXPECT_EQ(QUrl(manager.requests[0][0]), FileUrl("in", "отчёт 1.txt"));
    EXPECT_TRUE(dialogs->openedUrls.empty());
}

TEST_F(DesktopWindowTest, ShowInFolderWithoutADesktopBusOpensTheFolder)
{
    auto f = Receiver(); // desktopBus empty, as in every test that does not ask for one
    Touch("in", "a.txt");
    Row(*f, "a.txt");
    f->ReceivePage->ShowRowInFolder(0);
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->openedUrls.empty(); }));
    EXPECT_EQ(dialogs->openedUrls, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(FsFolder("in")).chopped(1))});
}

TEST(FilesArrivedText, RussianNumberForms)
{
    const std::pair<int, const char *> cases[] = {
        {1, "Принят 1 файл"},     {2, "Принято 2 файла"},    {4, "Принято 4 файла"},
        {5, "Принято 5 файлов"},  {11, "Принято 11 файлов"}, {12, "Принято 12 файлов"},
        {14, "Принято 14 файлов"}, {21, "Принят 21 файл"},   {22, "Принято 22 файла"},
        {25, "Принято 25 файлов"}, {101, "Принят 101 файл"}, {111, "Принято 111 файлов"},
        {112, "Принято 112 файлов"}, {1002, "Принято 1002 файла"},
    };
    for (const auto &[count, text] : cases)
        EXPECT_EQ(TForm1Desktop::FilesArrivedText(count), QString::fromUtf8(text)) << count;
}

// A received row remembers where its file went: a later change of the
// receive folder, or a restart, still opens that file; the list file keeps
// its rows as ever.
TEST_F(DesktopWindowTest, ARowOpensItsFileWhereItWasStoredAfterAFolderChangeAndARestart)
{
    auto [a, b] = ConnectedPair();
    Touch("src", "отчёт.txt");
    AddRowUtf8(a->ListF_send, FsFolder("src") + "отчёт.txt", true, true);
    a->SB_sendClick();
    // The batch's end saves the list.
    ASSERT_TRUE(PumpUntil([&] { return RowCount(b->ListF_recv) == 1 && b->Label_YesReciv->isHidden(); }, 15000));
    const std::string row = RowText(b->ListF_recv, 0);
    const auto verified = [&] {
        return b->ListF_recv->model()->index(0, 0).data(dz::peer::TReceiveLogModel::kVerifiedRole).toBool();
    };
    EXPECT_TRUE(verified()) << "two copies check each file's hash";
    fs::create_directories(FsFolder("other"));
    Touch("other", "отчёт.txt"); // a file of the same name in the new folder is not the one received
    for (int round = 0; round < 2; ++round) {
        b->ShowReceiveFolder(FsFolder("other"));
        dialogs->openedUrls.clear();
        b->ReceivePage->OpenRow(0);
        EXPECT_EQ(dialogs->openedUrls, std::vector<QUrl>{FileUrl("in", "отчёт.txt")}) << "round " << round;
        EXPECT_EQ(ReadFile("b", "~ListFile_reciv.txt"), row + "\r\n");
        EXPECT_EQ(verified(), round == 0) << "the list file keeps no check mark";
        b = MakeWindow("b", "127.0.0.2", "192.168.0.2"); // the old one goes first
    }
}

class NotificationTest : public DesktopWindowTest {
protected:
    void SetUp() override
    {
        DesktopWindowTest::SetUp();
        if (bus.address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
        ASSERT_TRUE(service.Register(bus.Connect()));
        desktopBus = bus.address();
    }
    // A batch from a raw peer: Send_Start, each file announced and streamed, Send_End.
    void Batch(TForm1 &f, const std::vector<std::string> &names, const std::string &from = "PETROV")
    {
        Deliver(f, "Send_Start", from);
        for (const std::string &name : names) {
            Deliver(f, "File_Start|" + name, from);
            dz::services::TNMStrm client;
            client.Host = "127.0.0.1";
            client.Port = f.NMStrmServ1->LocalPort();
            client.FromName = from;
            dz::net::TMemoryStream stream;
            stream.Write("data", 4);
            ASSERT_EQ(client.PostStream(stream), kReply);
            ASSERT_TRUE(PumpUntil([&] { return f.Work().PendingCount() == 0; }));
            Deliver(f, "File_End|" + name, from);
        }
        Deliver(f, "Send_End", from);
    }

    TPrivateBus bus;
    TStubNotifications service;
};

TEST_F(NotificationTest, BatchFromAnotherWindowIsToldWithCountSenderAndFolderAction)
{
    // Two real windows: a sends b two checked files and skips an unchecked one.
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    auto b = Receiver(false);
    SendsTo(*a, *b);
    SendsTo(*b, *a);
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.2"));
    a->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return a->SB_send->isEnabled(); }));
    for (const char *name : {"one.txt", "two.txt", "three.txt"})
        Touch("src", name);
    AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + "one.txt"), true, true);
    AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + "two.txt"), true, false);
    AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + "three.txt"), true, true);
    ASSERT_FALSE(b->isActiveWindow());

    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return !service.shown.empty(); }, 15000));
    EXPECT_EQ(RowCount(b->ListF_recv), 2);
    const auto &n = service.shown[0];
    EXPECT_EQ(n.appName, QStringLiteral("Dizaruz"));
    EXPECT_EQ(n.icon, AppId());
    EXPECT_EQ(n.hints.value(QStringLiteral("desktop-entry")).toString(), AppId());
    EXPECT_EQ(n.summary, QStringLiteral("Dizaruz: файлы приняты"));
    EXPECT_EQ(n.body, QStringLiteral("Принято 2 файла от компьютера 127.0.0.1."));
    EXPECT_TRUE(n.actions.contains(QStringLiteral("open-folder")));

    // The user picks the action: the receive folder opens, even if the
    // folder was changed since.
    SetTextOf(b->Label_Dir_Reciv, dz::Utf8ToCp1251(FsFolder("b")));
    service.Invoke(n.id, QStringLiteral("open-folder"));
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->openedUrls.empty(); }));
    EXPECT_EQ(dialogs->openedUrls, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(FsFolder("in")).chopped(1))});
    EXPECT_EQ(service.shown.size(), 1u);
}

TEST_F(NotificationTest, NothingToTellWhenTheUserIsLookingOrNothingArrived)
{
    auto f = Receiver();
    QSignalSpy failed(&f->Desktop->Notifier(), &dz::desktop::TNotifier::Failed);

    // The window is the active one: the user sees the list grow.
    f->show();
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    Batch(*f, {"a.txt"});
    EXPECT_EQ(RowCount(f->ListF_recv), 1);

    f->hide();
    ASSERT_TRUE(PumpUntil([&] { return !f->isActiveWindow(); }));
    // A batch in which nothing was stored.
    Deliver(*f, "Send_Start");
    Deliver(*f, "Send_End");
    // A Send_End without a batch, while the list holds older rows.
    Row(*f, "old.txt");
    Deliver(*f, "Send_End");
    PumpFor(300);
    EXPECT_TRUE(service.shown.empty());
    EXPECT_EQ(failed.count(), 0);

    // And the same window, not looked at, does tell.
    Batch(*f, {"b.txt", "c.txt", "d.txt", "e.txt", "f.txt"}, "SIDOROV");
    ASSERT_TRUE(PumpUntil([&] { return !service.shown.empty(); }));
    EXPECT_EQ(service.shown[0].body, QStringLiteral("Принято 5 файлов от компьютера SIDOROV."));
}

TEST_F(DesktopWindowTest, WithoutANotificationServiceABatchEndsAsAlways)
{
    TPrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not available";
    desktopBus = bus.address(); // a bus, but nobody serving notifications on it
    auto f = Receiver();
    QSignalSpy failed(&f->Desktop->Notifier(), &dz::desktop::TNotifier::Failed);
    Deliver(*f, "Send_Start");
    Row(*f, "a.txt");
    Deliver(*f, "Send_End");
    ASSERT_TRUE(PumpUntil([&] { return failed.count() == 1; }));
    EXPECT_TRUE(f->FreeFlag);
    EXPECT_TRUE(f->SB_Help->isEnabled());
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_TRUE(dialogs->openedUrls.empty());
}

class InstalledWindowTest : public FormFixture {};

TEST_F(InstalledWindowTest, ReceiveFolderDefaultsToTheGivenOneAndTheAboutBoxNamesTheFilesFolder)
{
    struct Case {
        std::string ini; // the INI file's content, or none
        bool useDefault;
    };
    const std::string downloads = Folder() + "Downloads/";
    for (const Case &c : {Case{"", true}, Case{"[LOCAL]\r\nSubDir_for_Reciv=  \r\n", true},
                         Case{"[LOCAL]\r\nSubDir_for_Reciv=/srv/in/\r\n", false}}) {
        if (c.ini.empty())
            std::filesystem::remove(FsPath("Dizaruz.ini"));
        else
            WriteFile("Dizaruz.ini", c.ini);
        TForm1Config config;
        config.programFolder = Folder();
        config.receiveFolder = downloads;
        config.dialogs = dialogs;
        config.msgPort = 0;
        config.strmPort = 0;
        config.discovery = false;
        TForm1 f(config);
        f.FormCreate();
        EXPECT_EQ(TextOf(f.Label_Dir_Reciv), c.useDefault ? downloads : std::string("/srv/in/")) << c.ini;
    }

    TForm1 &f = Start();
    const QString memo = f.AboutBox()->Memo1->toPlainText();
    EXPECT_TRUE(memo.endsWith(QStringLiteral("хранятся в папке :\n") + QString::fromStdString(tmp.path().toStdString() + "/") + QLatin1Char('\n')))
        << memo.toStdString();
    EXPECT_TRUE(memo.startsWith(QStringLiteral("Dizaruz.exe\n")));
}

} // namespace
