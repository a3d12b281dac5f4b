// The send list, the receive list and the receive folder.

#include "Controls.h"
#include "FormFixture.h"
#include "peer/core.h"
#include "peer/sendlist.h"
#include "SendPage.h"
#include "Shell.h"
#include "util/files.h"
#include "util/ini.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>

namespace {

class ListsTest : public FormFixture {
protected:
    // Drops names on f and waits until the rows are in (the paths are
    // looked at off the window's thread).
    static void Drop(TForm1 &f, const QStringList &names)
    {
        bool done = false;
        f.FormDropFiles(names, [&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 5000));
    }
    // Makes a file in the temporary folder; returns its UTF-8 path.
    QString MakeFile(const std::string &utf8Name, const std::string &bytes = "x")
    {
        WriteFile(utf8Name, bytes);
        return QString::fromStdString(FsPath(utf8Name));
    }
    QString MakeFolder(const std::string &utf8Name)
    {
        std::filesystem::create_directories(FsPath(utf8Name));
        return QString::fromStdString(FsPath(utf8Name));
    }
    // Windows-1251 list text from UTF-8 paths, every line ended by CR LF.
    static std::string ListFileOf(const QStringList &paths)
    {
        std::string bytes;
        for (const QString &p : paths)
            bytes += dz::FromQString(p) + "\r\n";
        return bytes;
    }
    static QStringList Rows(const QListView *list)
    {
        QStringList rows;
        for (int i = 0; i < RowCount(list); ++i)
            rows.append(QString::fromStdString(RowUtf8(list, i)));
        return rows;
    }
    static bool AllChecked(const QListView *list)
    {
        for (int i = 0; i < RowCount(list); ++i)
            if (!RowChecked(list, i))
                return false;
        return true;
    }
    std::string IniFolder() const
    {
        if (form)
            form->FlushStateFiles();
        return dz::IniReadString(Folder() + "Dizaruz.ini", "LOCAL", "SubDir_for_Reciv", "<none>");
    }
};

TEST_F(ListsTest, AddingThroughTheDialog)
{
    TForm1 &f = Start();
    const QString a = MakeFile("отчёт.txt");
    const QString b = MakeFile("b.bin");
    dialogs->openFilesAnswers.push_back({a, b});
    f.SB_FileAddClick();
    EXPECT_EQ(dialogs->openFilesCalls, 1);
    EXPECT_EQ(dialogs->lastOpenOptions.filter, QStringLiteral("Все файлы (*)"));
    EXPECT_TRUE(dialogs->lastOpenOptions.multiSelect);
    EXPECT_TRUE(dialogs->lastOpenOptions.mustExist);
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{a, b}));
    EXPECT_TRUE(AllChecked(f.ListF_send));
    EXPECT_EQ(ItemIndex(f.ListF_send), 1);
    // Windows-1251, CR LF after every line, the last one too.
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({a, b}));
    EXPECT_NE(ReadFile("~ListFile_send.txt").find(Cp("отчёт.txt\r\n")), std::string::npos);

    // A path already listed selects its row and adds nothing; a path that
    // differs only in letter case is another file.
    const QString upper = MakeFile("B.bin");
    std::vector<int> selected;
    QObject::connect(f.ListF_send->selectionModel(), &QItemSelectionModel::currentRowChanged,
                     [&](const QModelIndex &row) { selected.push_back(row.row()); });
    f.SendList().SetChecked(0, false);
    dialogs->openFilesAnswers.push_back({a});
    f.SB_FileAddClick();
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{a, b}));
    EXPECT_EQ(selected, (std::vector<int>{0, 1}));
    EXPECT_FALSE(RowChecked(f.ListF_send, 0)); // the row is left as it was
    dialogs->openFilesAnswers.push_back({upper});
    f.SB_FileAddClick();
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{a, b, upper}));
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({a, b, upper}));

    // The popup menu's first item does the same.
    const QString c = MakeFile("c");
    dialogs->openFilesAnswers.push_back({c});
    f.N1->trigger();
    EXPECT_EQ(RowCount(f.ListF_send), 4);
    EXPECT_EQ(ItemIndex(f.ListF_send), 3);
}

TEST_F(ListsTest, CancellingTheDialogChangesNothing)
{
    WriteFile("~ListFile_send.txt", "/a\r\n");
    TForm1 &f = Start();
    SetItemIndex(f.ListF_send, -1);
    f.SB_FileAddClick(); // no answer queued: the user cancels
    EXPECT_EQ(dialogs->openFilesCalls, 1);
    EXPECT_EQ(RowCount(f.ListF_send), 1);
    EXPECT_EQ(ItemIndex(f.ListF_send), -1);
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), "/a\r\n");
}

TEST_F(ListsTest, NamesOfAnyAlphabetAreListedAndKept)
{
    TForm1 &f = Start();
    const QString good = MakeFile("good.txt");
    const QString foreign = MakeFile("Müller 文件.txt");
    dialogs->openFilesAnswers.push_back({foreign, good});
    f.SB_FileAddClick();
    Drop(f, {foreign});
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{foreign, good, foreign}));
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_EQ(RowUtf8(f.ListF_send, 0), foreign.toStdString()) << "the path stays exact";
    // The list cannot be said in Windows-1251: UTF-8 after a byte-order mark.
    const std::string utf8 = "\xEF\xBB\xBF" + foreign.toStdString() + "\r\n" + good.toStdString() + "\r\n" +
                             foreign.toStdString() + "\r\n";
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), utf8);
    // Removing the foreign rows brings the file back to Windows-1251.
    SetItemIndex(f.ListF_send, 2);
    f.SB_FileDelClick();
    SetItemIndex(f.ListF_send, 0);
    f.SB_FileDelClick();
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({good}));

    // Read back either way at the next start.
    Drop(f, {foreign});
    form.reset();
    TForm1 &g = Start();
    EXPECT_EQ(Rows(g.ListF_send), (QStringList{good, foreign}));
}

TEST_F(ListsTest, Dropping)
{
    TForm1 &f = Start();
    const QString a = MakeFile("a.txt");
    const QString folder = MakeFolder("sub");
    const QString gone = QString::fromStdString(FsPath("gone.txt"));

    // No name: nothing at all, not even a save.
    Drop(f, {});
    EXPECT_FALSE(Exists("~ListFile_send.txt"));

    Drop(f, {a, folder, gone, a});
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{a, folder, a})); // no duplicate test
    EXPECT_TRUE(AllChecked(f.ListF_send));
    EXPECT_EQ(ItemIndex(f.ListF_send), 2);
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({a, folder, a}));

    // Only what has gone: nothing added, yet the last row is selected and the file written.
    SetItemIndex(f.ListF_send, -1);
    std::filesystem::remove(FsPath("~ListFile_send.txt"));
    Drop(f, {gone});
    EXPECT_EQ(RowCount(f.ListF_send), 3);
    EXPECT_EQ(ItemIndex(f.ListF_send), 2);
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({a, folder, a}));
    EXPECT_TRUE(dialogs->messages.empty());
}

// A folder row comes from the dialog, a drop or the list file, keeps only
// its path there, and shows what it holds once that is counted.
TEST_F(ListsTest, AFolderRowShowsItsFilesAndSize)
{
    const QString folder = MakeFolder("Проект");
    WriteFile("Проект/a.txt", "12345");
    MakeFolder("Проект/глубже");
    WriteFile("Проект/глубже/b.bin", "678");
    MakeFolder("Проект/пусто");
    std::filesystem::create_symlink(FsPath("Проект/a.txt"), FsPath("Проект/ссылка"));
    const QString other = MakeFolder("другая");
    WriteFile("~ListFile_send.txt", ListFileOf({folder}));
    TForm1 &f = Start();
    dialogs->folderAnswers.push_back({folder + QStringLiteral("/"), false});
    f.SB_FolderAddClick(); // listed already: selected, not added
    dialogs->folderAnswers.push_back({other, false});
    f.SB_FolderAddClick();
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{folder, other}));
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({folder, other}));
    using Model = dz::peer::TSendListModel;
    const auto row = [&](int r, int role) { return f.SendList().index(r).data(role); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(0, Model::CountedRole).toBool() && row(1, Model::CountedRole).toBool(); },
                                5000));
    // The link is neither followed nor counted.
    EXPECT_EQ(row(0, Model::FilesRole).toInt(), 2);
    EXPECT_EQ(row(0, Model::BytesRole).toLongLong(), 8);
    EXPECT_EQ(row(1, Model::FilesRole).toInt(), 0);
    EXPECT_TRUE(row(1, Model::FolderRole).toBool());
}

TEST_F(ListsTest, DesktopDropReachesTheDropHandler)
{
    TForm1 &f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    const QString a = MakeFile("dropped.txt");
    const QString folder = MakeFolder("dir");

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(folder), QUrl(QStringLiteral("https://dizaruz.example.org/x"))});
    QMimeData text;
    text.setText(QStringLiteral("just text"));
    const QPoint centre = f.rect().center();

    QDragEnterEvent refused(centre, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &refused);
    EXPECT_FALSE(refused.isAccepted());
    QDragEnterEvent enter(centre, Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);

    QDropEvent drop(QPointF(centre), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.SendPage->PendingDrops().isEmpty(); }, 5000));
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{a, folder}));
    EXPECT_TRUE(RowChecked(f.ListF_send, 0));
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({a, folder}));

    // The edit boxes leave dropped files to the window.
    EXPECT_FALSE(f.Edit_Mess->acceptDrops());
    EXPECT_FALSE(f.ListF_send->acceptDrops());
}

TEST_F(ListsTest, RemovingARow)
{
    const QStringList rows = {QStringLiteral("/r/1"), QStringLiteral("/r/2"), QStringLiteral("/r/3")};
    WriteFile("~ListFile_send.txt", ListFileOf(rows));
    TForm1 &f = Start();
    std::filesystem::remove(FsPath("~ListFile_send.txt"));

    // No row selected: nothing, and no write.
    f.SB_FileDelClick();
    EXPECT_EQ(Rows(f.ListF_send), rows);
    EXPECT_FALSE(Exists("~ListFile_send.txt"));

    SetItemIndex(f.ListF_send, 1);
    f.SB_FileDel->click();
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{rows[0], rows[2]}));
    EXPECT_EQ(ItemIndex(f.ListF_send), -1);
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), ListFileOf({rows[0], rows[2]}));

    // A double click on a row removes it too, as does the popup menu's second item.
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.TN1->setCurrentIndex(1);
    const QRect second = f.ListF_send->visualRect(f.ListF_send->model()->index(1, 0));
    QTest::mouseClick(f.ListF_send->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(f.ListF_send->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(Rows(f.ListF_send), QStringList{rows[0]});
    SetItemIndex(f.ListF_send, 0);
    f.N2->trigger();
    EXPECT_EQ(RowCount(f.ListF_send), 0);
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), "");
}

TEST_F(ListsTest, ClearingTheSendListAsksFirst)
{
    WriteFile("~ListFile_send.txt", "/a\r\n/b\r\n");
    TForm1 &f = Start();
    dialogs->confirmAnswers = {false};
    f.SB_ListClear->click();
    ASSERT_EQ(dialogs->confirms.size(), 1u);
    EXPECT_EQ(dialogs->confirms[0].caption, QStringLiteral("Confirm"));
    EXPECT_EQ(dialogs->confirms[0].text, QStringLiteral("Очистить список файлов ?"));
    EXPECT_EQ(RowCount(f.ListF_send), 2);
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), "/a\r\n/b\r\n");

    dialogs->confirmAnswers = {true};
    f.N3->trigger();
    EXPECT_EQ(dialogs->confirms.size(), 2u);
    EXPECT_EQ(RowCount(f.ListF_send), 0);
    EXPECT_TRUE(Exists("~ListFile_send.txt"));
    EXPECT_EQ(ReadFile("~ListFile_send.txt"), "");
}

TEST_F(ListsTest, ClearingTheReceiveListWritesAnEmptyFile)
{
    struct Case {
        const char *name;
        std::string before;
    };
    for (const Case &k : {Case{"full", "x | y | z\r\n"}, Case{"empty, no file", ""}}) {
        SCOPED_TRACE(k.name);
        std::filesystem::remove(FsPath("~ListFile_reciv.txt"));
        if (!k.before.empty())
            WriteFile("~ListFile_reciv.txt", k.before);
        TForm1 &f = Start();
        f.SpeedButton1->click();
        EXPECT_EQ(RowCount(f.ListF_recv), 0);
        EXPECT_TRUE(Exists("~ListFile_reciv.txt"));
        EXPECT_EQ(ReadFile("~ListFile_reciv.txt"), "");
        EXPECT_TRUE(dialogs->confirms.empty()); // without asking
    }
}

TEST_F(ListsTest, ChoosingTheReceiveFolder)
{
    const QString existing = MakeFolder("Входящие");
    WriteFile("Dizaruz.ini", "[LOCAL]\r\nSubDir_for_Reciv=" + dz::FromQString(existing) + "\r\n");
    TForm1 &f = Start();
    std::filesystem::remove(FsPath("Dizaruz.ini"));

    // Cancelled: the unchanged folder is written again; the dialog started in it.
    f.SB_Dir->click();
    ASSERT_EQ(dialogs->folderStarts.size(), 1u);
    EXPECT_EQ(dialogs->folderStarts[0], existing);
    EXPECT_EQ(f.Label_Dir_Reciv->text(), existing);
    EXPECT_EQ(IniFolder(), existing.toStdString());
    // It fits Windows-1251, so that is how the file holds it.
    EXPECT_NE(ReadFile("Dizaruz.ini").find("=" + dz::FromQString(existing) + "\r\n"), std::string::npos);

    // A folder keeps its case and gets its final '/'.
    const QString mixed = MakeFolder("Mixed Case");
    dialogs->folderAnswers.push_back({mixed});
    f.SB_DirClick();
    EXPECT_EQ(f.Label_Dir_Reciv->text(), mixed + QLatin1Char('/'));
    EXPECT_EQ(IniFolder(), mixed.toStdString() + "/");

    // A typed folder that does not exist yet is made, with its parents.
    const QString fresh = QString::fromStdString(FsPath("new/deeper/Папка"));
    dialogs->folderAnswers.push_back({fresh});
    f.SB_DirClick();
    EXPECT_TRUE(std::filesystem::is_directory(FsPath("new/deeper/Папка")));
    EXPECT_EQ(f.Label_Dir_Reciv->text(), fresh + QLatin1Char('/'));
    EXPECT_EQ(IniFolder(), fresh.toStdString() + "/");
    EXPECT_EQ(dialogs->folderStarts.back(), mixed + QLatin1Char('/'));
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(ListsTest, ReceiveFolderFailures)
{
    TForm1 &f = Start();
    SetTextOf(f.Label_Dir_Reciv, Folder() + "vanished/");

    // A folder that does not exist: the dialog starts in the current folder.
    f.SB_DirClick();
    EXPECT_EQ(dialogs->folderStarts.back(), QDir::currentPath());
    EXPECT_EQ(IniFolder(), Folder() + "vanished/");

    // An empty name: reported, and neither the folder nor the INI changes.
    std::filesystem::remove(FsPath("Dizaruz.ini"));
    dialogs->folderAnswers.push_back({QString()});
    f.SB_Dir->click();
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, QStringLiteral("Unable to create directory"));
    EXPECT_EQ(TextOf(f.Label_Dir_Reciv), Folder() + "vanished/");
    EXPECT_FALSE(Exists("Dizaruz.ini"));

    // A folder that cannot be made: the receive folder stays.
    WriteFile("plain", "file, not folder");
    dialogs->folderAnswers.push_back({QString::fromStdString(FsPath("plain/sub"))});
    f.SB_DirClick();
    EXPECT_EQ(TextOf(f.Label_Dir_Reciv), Folder() + "vanished/");
    EXPECT_EQ(IniFolder(), Folder() + "vanished/");

    // A name with no Windows-1251 form is taken as it is; the INI file
    // then says so with a byte-order mark and holds UTF-8.
    const QString foreign = MakeFolder("Téléchargements 目录");
    dialogs->folderAnswers.push_back({foreign});
    f.SB_DirClick();
    EXPECT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(f.Label_Dir_Reciv->text(), foreign + QLatin1Char('/'));
    EXPECT_EQ(IniFolder(), foreign.toStdString() + "/");
    EXPECT_EQ(ReadFile("Dizaruz.ini").rfind("\xEF\xBB\xBF[LOCAL]", 0), 0u) << ReadFile("Dizaruz.ini");
    // And the next start finds it.
    form.reset();
    TForm1 &g = Start();
    EXPECT_EQ(g.Label_Dir_Reciv->text(), foreign + QLatin1Char('/'));
    EXPECT_EQ(g.Core().ReceiveFolder(), foreign.toStdString() + "/");
}

TEST_F(ListsTest, FolderDialogAsksBeforeTakingANewFolder)
{
    const QString start = QString::fromStdString(FsPath(""));
    TFolderDialog dialog(*dialogs, nullptr, QStringLiteral("Select Directory"), start);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Directory"));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
    auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    ASSERT_NE(buttons, nullptr);
    QPushButton *help = buttons->button(QDialogButtonBox::Help);
    ASSERT_NE(help, nullptr);
    help->click();
    EXPECT_EQ(dialogs->messages.size(), 1u);

    const QString fresh = QString::fromStdString(FsPath("brand new"));
    auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(fresh);

    dialogs->yesNoAnswers = {false};
    dialog.accept(); // "&No": the dialog stays open
    ASSERT_EQ(dialogs->questions.size(), 1u);
    EXPECT_EQ(dialogs->questions[0].text, QStringLiteral("The specified directory does not exist. Create it?"));
    EXPECT_NE(dialog.result(), int(QDialog::Accepted));
    EXPECT_TRUE(dialog.chosenFolder().isEmpty());

    dialogs->yesNoAnswers = {true};
    dialog.accept();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialog.chosenFolder(), fresh);
    EXPECT_FALSE(Exists("brand new")); // SelectFolder makes it, not the dialog

    // An existing folder is taken without a question.
    TFolderDialog again(*dialogs, nullptr, QStringLiteral("Select Directory"), start);
    again.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(MakeFolder("there"));
    again.accept();
    EXPECT_EQ(again.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialogs->questions.size(), 2u);
}

TEST_F(ListsTest, UnwritableProgramFolderKeepsChangesOnScreenOnly)
{
    // Nothing can be created under /proc, even by root.
    ASSERT_FALSE(dz::IsDriveWritable("/proc/"));
    TForm1 &f = Start("/proc/");
    EXPECT_EQ(TextOf(f.Label_Dir_Reciv), "/proc/");
    const QString a = MakeFile("a.txt");
    const QString b = MakeFile("b.txt");
    const QString target = MakeFolder("target");
    const auto before = Entries();

    dialogs->openFilesAnswers.push_back({a});
    f.SB_FileAddClick();
    Drop(f, {b});
    EXPECT_EQ(Rows(f.ListF_send), (QStringList{a, b}));
    SetItemIndex(f.ListF_send, 0);
    f.SB_FileDelClick();
    EXPECT_EQ(Rows(f.ListF_send), QStringList{b});
    dialogs->confirmAnswers = {true};
    f.SB_ListClearClick();
    EXPECT_EQ(RowCount(f.ListF_send), 0);
    f.SpeedButton1Click();
    dialogs->folderAnswers.push_back({target});
    f.SB_DirClick();
    EXPECT_EQ(f.Label_Dir_Reciv->text(), target + QLatin1Char('/'));

    EXPECT_EQ(Entries(), before);
    EXPECT_TRUE(dialogs->messages.empty());
    for (const char *name : {"/proc/Dizaruz.ini", "/proc/~ListFile_send.txt", "/proc/~ListFile_reciv.txt"})
        EXPECT_FALSE(std::filesystem::exists(name)) << name;
}

TEST(SelectFolder, TrimsAndKeepsCase)
{
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    std::filesystem::create_directory(root + "/Data");
    TFakeDialogs dialogs;
    std::string folder = "   " + root + "/Data  ";
    dialogs.folderAnswers.push_back({QString::fromStdString("  " + root + "/Data  ")});
    EXPECT_TRUE(SelectFolder(dialogs, nullptr, folder));
    EXPECT_EQ(folder, root + "/Data/");
    EXPECT_EQ(dialogs.folderStarts.back(), QString::fromStdString(root + "/Data"));

    // Cancelled: the trimmed folder, or nothing when it names no folder.
    folder = "  " + root + "/Data/ ";
    EXPECT_FALSE(SelectFolder(dialogs, nullptr, folder));
    EXPECT_EQ(folder, root + "/Data/");
    folder = root + "/data";
    EXPECT_FALSE(SelectFolder(dialogs, nullptr, folder));
    EXPECT_EQ(folder, "");
}

} // namespace
