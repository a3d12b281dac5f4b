// Start-up from the state files of a prepared program folder.

#include "Controls.h"
#include "FormFixture.h"
#include "peer/sendlist.h"
#include "util/files.h"
#include "util/system.h"

#include <QTest>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <unistd.h>

namespace {

using StartupTest = FormFixture;

std::vector<std::string> CheckedRows(const QListView *list)
{
    std::vector<std::string> rows;
    for (int i = 0; i < RowCount(list); ++i)
        if (RowChecked(list, i))
            rows.push_back(RowText(list, i));
    return rows;
}

TEST_F(StartupTest, ListsAndChatLogLoadWithAnyLineEnd)
{
    const std::string a = Cp("/home/юзер/отчёт.doc");
    const std::string b = "/tmp/b.bin";
    const std::string c = Cp("C:\\Мои документы\\c.txt");
    struct Case {
        const char *name;
        const char *eol;
    };
    for (const Case &k : {Case{"CR", "\r"}, Case{"LF", "\n"}, Case{"CR LF", "\r\n"}}) {
        SCOPED_TRACE(k.name);
        const std::string eol = k.eol;
        WriteFile("~ListFile_send.txt", a + eol + b + eol + c); // the last line may lack its end
        WriteFile("~ListFile_reciv.txt", Cp("22.12.2006 10:15:02 | BETA | а.txt") + eol + "x | y | z" + eol);
        WriteFile("~MSG.txt", Cp("10:15:09|BETA | Да") + eol + Cp("10:15:02|ALPHA | Привет") + eol);
        TForm1 &f = Start();
        EXPECT_EQ(ListRows(f.ListF_send), (std::vector<std::string>{a, b, c}));
        // Check marks are not stored: every row comes back checked.
        EXPECT_EQ(CheckedRows(f.ListF_send), ListRows(f.ListF_send));
        EXPECT_EQ(f.SendList().Path(0), QStringLiteral("/home/юзер/отчёт.doc"));
        EXPECT_EQ(ListRows(f.ListF_recv), (std::vector<std::string>{Cp("22.12.2006 10:15:02 | BETA | а.txt"), "x | y | z"}));
        EXPECT_FALSE(f.ListF_recv->model()->flags(f.ListF_recv->model()->index(0, 0)) & Qt::ItemIsUserCheckable);
        EXPECT_EQ(MemoLines(f.Memo_Mess), (std::vector<std::string>{Cp("10:15:09|BETA | Да"), Cp("10:15:02|ALPHA | Привет")}));
        EXPECT_EQ(ItemIndex(f.ListF_send), -1);
    }
}

TEST_F(StartupTest, MissingFilesGiveDefaults)
{
    TForm1 &f = Make();
    // Whatever the window held before, start-up puts the start state in place.
    f.FreeFlag = false;
    f.InvalidHostCode = 1;
    f.FormCreate();
    EXPECT_TRUE(f.FreeFlag);
    EXPECT_EQ(f.InvalidHostCode, 0);
    EXPECT_FALSE(f.SB_send->isEnabled());
    EXPECT_FALSE(f.SB_msg->isEnabled());
    EXPECT_EQ(TextOf(f.Label_Dir_Reciv), Folder());
    EXPECT_EQ(f.TN1->currentIndex(), 0);
    EXPECT_EQ(RowCount(f.ListF_send), 0);
    EXPECT_EQ(RowCount(f.ListF_recv), 0);
    EXPECT_TRUE(f.Memo_Mess->document()->isEmpty());
    EXPECT_EQ(TextOf(f.Edit_ThisComputerName), dz::GetThisComputerName());
    // The address is looked up off the window's thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.ThisComputerKnown(); }, 10000));
    EXPECT_EQ(TextOf(f.Edit_ThisComputerIP), dz::LocalAddress());
    EXPECT_TRUE(f.Edit_RemoteComputerName->text().isEmpty());
    EXPECT_TRUE(f.Edit_RemoteComputerIP->text().isEmpty());
    EXPECT_TRUE(f.acceptDrops());
    EXPECT_TRUE(f.Timer2->isActive());
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.Label_DateTime->text(), QStringLiteral("...")); // until the first tick
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_TRUE(Entries().empty()); // reading writes nothing
}

TEST_F(StartupTest, IniValuesAreReadTrimmedAndTheAddressNever)
{
    struct Case {
        const char *name;
        std::string ini;
        std::string folder; // "" = the program folder
        std::string remote;
    };
    const Case cases[] = {
        {"all keys", Cp("[LOCAL]\r\nSubDir_for_Reciv=  /srv/Входящие/  \r\n[REMOTE]\r\nComputerName= BETA \r\nComputerIP=192.168.0.2\r\n"),
         Cp("/srv/Входящие/"), "BETA"},
        {"blank folder", "[LOCAL]\nSubDir_for_Reciv=   \n[REMOTE]\nComputerIP=10.0.0.5\n", "", ""},
        {"empty folder", "[LOCAL]\nSubDir_for_Reciv=\n", "", ""},
        {"other sections only", "[OTHER]\nSubDir_for_Reciv=/x/\nComputerName=Z\n", "", ""},
        {"folder without final slash", "[local]\nsubdir_for_reciv=/mnt/in\n", "/mnt/in", ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        WriteFile("Dizaruz.ini", k.ini);
        TForm1 &f = Start();
        EXPECT_EQ(TextOf(f.Label_Dir_Reciv), k.folder.empty() ? Folder() : k.folder);
        EXPECT_EQ(TextOf(f.Edit_RemoteComputerName), k.remote);
        EXPECT_TRUE(f.Edit_RemoteComputerIP->text().isEmpty());
    }
}

TEST_F(StartupTest, AnErrorEndsStartUpWhereItAroseAndIsShown)
{
    WriteFile("~ListFile_send.txt", "/a\r\n/b\r\n");
    WriteFile("~MSG.txt", "line\r\n");
    WriteFile("Dizaruz.ini", "[REMOTE]\r\nComputerName=BETA\r\n");
    // A regular file that cannot be read: reading /proc/self/mem at offset 0 fails.
    ASSERT_EQ(::symlink("/proc/self/mem", FsPath("~ListFile_reciv.txt").c_str()), 0);
    TForm1 &f = Start();

    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, dz::ToQString("Cannot open file " + Folder() + "~ListFile_reciv.txt"));
    // What came before the failure is there ...
    EXPECT_EQ(RowCount(f.ListF_send), 2);
    EXPECT_EQ(f.TN1->currentIndex(), 0);
    EXPECT_FALSE(f.SB_send->isEnabled());
    // ... and nothing after it.
    EXPECT_TRUE(f.Memo_Mess->document()->isEmpty());
    EXPECT_TRUE(f.Edit_ThisComputerName->text().isEmpty());
    EXPECT_TRUE(f.Edit_RemoteComputerName->text().isEmpty());
    EXPECT_FALSE(f.acceptDrops());
    EXPECT_FALSE(f.Timer2->isActive());
}

// A home folder with letters Windows-1251 lacks: the state is kept there all
// the same, and comes back at the next start.
TEST_F(StartupTest, AProgramFolderOfAnyAlphabetKeepsTheState)
{
    const std::string folder = Folder() + "Jos\xC3\xA9 M\xC3\xBCller/"; // José Müller
    std::filesystem::create_directories(folder);
    {
        TForm1 &f = Start(folder);
        f.Edit_Mess->setText(QStringLiteral("x"));
        f.Edit_RemoteComputerName->setText(QStringLiteral("beta"));
        AddRow(f.ListF_send, "/a", true, true);
        f.SaveListFile(f.ListF_send);
        dialogs->folderAnswers.push_back({QString::fromStdString(folder)});
        f.SB_DirClick();
    }
    form.reset();
    TForm1 &g = Start(folder);
    EXPECT_EQ(g.ProgramFolder(), folder);
    EXPECT_EQ(ListRows(g.ListF_send), std::vector<std::string>{"/a"});
    EXPECT_EQ(g.Label_Dir_Reciv->text().toStdString(), folder);
}

TEST_F(StartupTest, ProgramFolderDefaultsToTheExecutablesFolder)
{
    TForm1Config config;
    config.dialogs = dialogs;
    config.msgPort = 0;
    config.strmPort = 0;
    TForm1 f(config);
    EXPECT_EQ(f.ProgramFolder(), dz::ProgramFolder());
    EXPECT_EQ(f.ProgramFolder().back(), '/');
    EXPECT_EQ(f.StateFiles().iniFile(), dz::ProgramFolder() + "Dizaruz.ini");
}

} // namespace
