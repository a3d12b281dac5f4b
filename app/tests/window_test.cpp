// The main window's controls, their layout, the key preview and the
// general error report.

#include "About.h"
#include "Controls.h"
#include "FormFixture.h"
#include "Guard.h"
#include "ReceivePage.h"
#include "peer/receivelog.h"
#include "peer/sendlist.h"
#include "util/errors.h"
#include "util/settings.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <string_view>

namespace {

using WindowTest = FormFixture;

QWidget *Find(QWidget &root, const char *name)
{
    return root.findChild<QWidget *>(QLatin1String(name));
}

TEST_F(WindowTest, ToolButtonsHaveTheirPlacesHintsAndStartStates)
{
    struct Row {
        const char *name;
        const char *parent;
        int left;
        int width;
        QString hint;
        bool tooltip;
        bool enabledAfterStart;
    };
    const Row rows[] = {
        {"SB_Help", "Panel7", 1, 23, {}, false, true},
        {"SB_connect", "GroupBox4", 176, 25, QStringLiteral("Соединиться с компьютером"), true, true},
        {"SpeedButton2", "Panel8", 1, 23, QStringLiteral("Удалить сообщения ..."), true, true},
        {"SB_msg", "Panel8", 32, 23, QStringLiteral("Послать сообщение"), true, false},
        {"SpeedButton1", "Panel6", 1, 23, QStringLiteral("Очистить список файлов"), true, true},
        {"SB_Dir", "Panel6", 34, 23, QStringLiteral("Выбрать папку, куда копировать"), true, true},
        {"SB_FileAdd", "Panel4", 8, 23, QStringLiteral("Добавить файл(ы) в список"), true, true},
        {"SB_FolderAdd", "Panel4", 108, 23, QStringLiteral("Добавить папку в список"), true, true},
        {"SB_FileDel", "Panel4", 40, 23, QStringLiteral("Удалить файл из списка"), true, true},
        {"SB_ListClear", "Panel4", 80, 23, QStringLiteral("Очистить список файлов"), true, true},
        {"SB_send", "Panel4", 136, 23, QStringLiteral("Отправить файлы по списку"), false, false},
    };
    TForm1 &f = Start();
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto *b = qobject_cast<QToolButton *>(Find(f, r.name));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->parentWidget()->objectName(), QLatin1String(r.parent));
        EXPECT_EQ(b->geometry().left(), r.left);
        EXPECT_EQ(b->size(), QSize(r.width, 22));
        EXPECT_TRUE(b->autoRaise());
        EXPECT_EQ(b->iconSize(), QSize(16, 16));
        EXPECT_FALSE(b->icon().pixmap(16, 16).isNull());
        // A 2x screen gets a picture of its own: a 16x16 one would be enlarged, blurred.
        EXPECT_EQ(b->icon().pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
        EXPECT_EQ(b->property("hint").toString(), r.hint);
        EXPECT_EQ(b->toolTip(), r.tooltip ? r.hint : QString());
        // Every button can be named by a screen reader, also those without a tooltip.
        // The two "clear" buttons of the two pages are told apart.
        const QString name = r.hint.isEmpty()                      ? QStringLiteral("О программе")
                             : std::string_view(r.name) == "SpeedButton1" ? QStringLiteral("Очистить список принятых")
                                                                       : r.hint;
        EXPECT_EQ(b->accessibleName(), name);
        EXPECT_EQ(b->isEnabled(), r.enabledAfterStart);
    }
}

TEST_F(WindowTest, ControlsCarryTheirCaptionsColoursAndStates)
{
    TForm1 &f = Make();
    EXPECT_EQ(f.objectName(), QStringLiteral("Form1"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Копирование файлов по сети"));
    EXPECT_EQ(f.size(), QSize(378, 408)); // the offscreen platform draws no frame
    EXPECT_EQ(f.font().pixelSize(), 11);

    EXPECT_EQ(f.GroupBox3->title(), QStringLiteral("Наш компьютер : "));
    EXPECT_EQ(f.GroupBox4->title(), QStringLiteral("Удаленный компьтер : "));
    EXPECT_EQ(f.GroupBox1->title(), QStringLiteral("Общаться : "));
    for (QLabel *label : {f.Label_ThisName, f.Label_RemoteName})
        EXPECT_EQ(label->text(), QStringLiteral("Имя = "));
    for (QLabel *label : {f.Label_ThisIP, f.Label_RemoteIP})
        EXPECT_EQ(label->text(), QStringLiteral("IP = "));
    EXPECT_EQ(f.Label_DateTime->text(), QStringLiteral("..."));
    EXPECT_EQ(f.Edit_Mess->toolTip(), QStringLiteral("Текст сообщения ..."));

    // Boxes the user cannot edit: silver, read-only.
    for (QLineEdit *e : {f.Edit_ThisComputerName, f.Edit_ThisComputerIP, f.Edit_RemoteComputerIP}) {
        SCOPED_TRACE(e->objectName().toStdString());
        EXPECT_TRUE(e->isReadOnly());
        EXPECT_EQ(e->palette().color(QPalette::Base), kSilver);
    }
    for (QLineEdit *e : {f.Edit_RemoteComputerName, f.Edit_Mess}) {
        EXPECT_FALSE(e->isReadOnly());
        EXPECT_TRUE(e->focusPolicy() & Qt::TabFocus);
        EXPECT_EQ(e->palette().color(QPalette::Base), QColor(Qt::white));
    }
    EXPECT_TRUE(f.Memo_Mess->isReadOnly());
    EXPECT_EQ(f.Memo_Mess->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    for (QWidget *w : std::initializer_list<QWidget *>{f.Memo_Mess, f.ListF_recv, f.ListF_send})
        EXPECT_EQ(w->palette().color(QPalette::Base), kSilver);
    EXPECT_EQ(f.Label_Dir_Reciv->palette().color(QPalette::WindowText), kMaroon);

    struct Flag {
        QLabel *label;
        QString text;
    };
    for (const Flag &flag : {Flag{f.Label_YesReciv, QStringLiteral("Идет прием ...")},
                             Flag{f.Label_YesSend, QStringLiteral("Идет передача ...")}}) {
        EXPECT_EQ(flag.label->text(), flag.text);
        EXPECT_TRUE(flag.label->isHidden());
        EXPECT_EQ(flag.label->palette().color(QPalette::WindowText), QColor(Qt::red));
        EXPECT_EQ(flag.label->palette().color(QPalette::Window), QColor(Qt::yellow));
    }
    EXPECT_TRUE(f.Label_RecivNow->text().isEmpty());

    ASSERT_EQ(f.TN1->count(), 2);
    EXPECT_EQ(f.TN1->tabText(0), QStringLiteral("Принятые"));
    EXPECT_EQ(f.TN1->tabText(1), QStringLiteral("Послать"));
    EXPECT_EQ(f.TN1->widget(0), f.Page_Reciv);
    EXPECT_EQ(f.TN1->currentIndex(), 1); // as designed, before start-up

    ASSERT_EQ(f.PopupMenu1->actions().size(), 3);
    EXPECT_EQ(f.N1->text(), QStringLiteral("Добавить файл в список"));
    EXPECT_EQ(f.N2->text(), QStringLiteral("Удалить файл из списка"));
    EXPECT_EQ(f.N3->text(), QStringLiteral("Очистить весь список"));
    EXPECT_EQ(f.ListF_send->contextMenuPolicy(), Qt::CustomContextMenu);

    for (QTimer *t : {f.Timer1, f.Timer2}) {
        EXPECT_EQ(t->interval(), 1000);
        EXPECT_FALSE(t->isActive());
    }
    EXPECT_EQ(f.OD1.filter, QStringLiteral("Все файлы (*)"));
    EXPECT_TRUE(f.OD1.multiSelect);
    EXPECT_TRUE(f.OD1.mustExist);
    EXPECT_FALSE(f.acceptDrops()); // drops are taken once start-up has run

    EXPECT_EQ(f.Splitter1->handleWidth(), 3);
    EXPECT_EQ(f.Splitter1->orientation(), Qt::Vertical);
    EXPECT_EQ(f.Splitter1->widget(0), f.GroupBox1);
    EXPECT_EQ(f.Splitter1->widget(1), f.TN1);
}

TEST_F(WindowTest, LayoutDocksPanelsAsDesigned)
{
    TForm1 &f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

    EXPECT_EQ(f.Panel1->height(), 26);
    EXPECT_EQ(f.Panel1->geometry().bottom(), f.height() - 1);
    EXPECT_EQ(f.Panel1->width(), f.width());
    EXPECT_EQ(f.Panel2->geometry(), QRect(0, 0, f.width(), f.height() - 26));
    EXPECT_EQ(f.Panel7->width(), 25);
    EXPECT_EQ(f.Panel7->geometry().right(), f.Panel1->contentsRect().right());
    EXPECT_EQ(f.GroupBox3->height(), 42);
    EXPECT_EQ(f.GroupBox4->height(), 45);
    EXPECT_EQ(f.GroupBox4->y(), f.GroupBox3->geometry().bottom() + 1);
    EXPECT_EQ(f.GroupBox1->height(), 95);
    EXPECT_EQ(f.TN1->y(), f.GroupBox1->geometry().bottom() + 1 + 3);

    // Received page: buttons left, then the spacer, then the folder label.
    EXPECT_EQ(f.Panel5->height(), 28);
    EXPECT_EQ(f.Panel6->width(), 58);
    EXPECT_EQ(f.Label_Spacer->x(), f.Panel6->geometry().right() + 1);
    EXPECT_EQ(f.Label_Dir_Reciv->x(), f.Label_Spacer->geometry().right() + 1);
    EXPECT_EQ(f.Label_Dir_Reciv->geometry().right(), f.Panel5->contentsRect().right());
    EXPECT_EQ(f.ListF_recv->y(), f.Panel5->geometry().bottom() + 1);
    EXPECT_EQ(f.Label_RecivNow->geometry().bottom(), f.Page_Reciv->height() - 1);
    EXPECT_EQ(f.Label_RecivNow->width(), f.Page_Reciv->width());

    // A flag label takes its place at the right edge once shown.
    f.Label_YesReciv->show();
    QCoreApplication::sendPostedEvents();
    f.Panel5->layout()->activate();
    EXPECT_GE(f.Label_YesReciv->width(), 72);
    EXPECT_GT(f.Label_YesReciv->width(), f.Label_YesReciv->fontMetrics().horizontalAdvance(f.Label_YesReciv->text()));
    EXPECT_EQ(f.Label_YesReciv->geometry().right(), f.Panel5->contentsRect().right());
    EXPECT_EQ(f.Label_Dir_Reciv->geometry().right() + 1, f.Label_YesReciv->x()); // the folder gives way

    // The progress row takes its room above the status bar while shown and
    // gives it back; the clock's width follows its text. The layouts keep
    // their sizes between changes, so each change must reach them.
    const auto settle = [&] {
        QCoreApplication::sendPostedEvents();
        f.layout()->activate();
    };
    const int tall = f.layout()->sizeHint().height();
    f.Panel_Progress->show();
    settle();
    EXPECT_EQ(f.Panel_Progress->geometry(), QRect(0, f.height() - 26 - 24, f.width(), 24));
    EXPECT_EQ(f.Panel2->height(), f.height() - 26 - 24);
    EXPECT_EQ(f.layout()->sizeHint().height(), tall + 24);
    f.Panel_Progress->hide();
    settle();
    EXPECT_EQ(f.Panel2->height(), f.height() - 26);
    EXPECT_EQ(f.layout()->sizeHint().height(), tall);
    const int wide = f.Panel1->layout()->sizeHint().width();
    f.Label_DateTime->setText(f.Label_DateTime->text() + QStringLiteral(" and more text"));
    settle();
    EXPECT_GT(f.Panel1->layout()->sizeHint().width(), wide);

    // Dragging the splitter changes the chat against the notebook only.
    const int chat = f.GroupBox1->height();
    const int notebook = f.TN1->height();
    QWidget *handle = f.Splitter1->handle(1);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->cursor().shape(), Qt::SplitVCursor);
    const QPoint grip(handle->width() / 2, 1);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(0, 40));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, 40));
    EXPECT_NEAR(f.GroupBox1->height(), chat + 40, 1); // the splitter rounds its grip
    EXPECT_EQ(f.GroupBox1->height() + f.TN1->height(), chat + notebook);
    EXPECT_EQ(f.GroupBox3->height(), 42);
    EXPECT_EQ(f.GroupBox4->height(), 45);
    EXPECT_EQ(f.Panel1->height(), 26);
}

// Records what the key preview hands to the window.
class TKeyWatchingForm : public TForm1 {
public:
    using TForm1::TForm1;
    std::vector<quint16> keys;
    void FormKeyDown(quint16 &Key, Qt::KeyboardModifiers) override { keys.push_back(Key); }
};

TEST_F(WindowTest, KeyPreviewSeesEveryKeyOnceWithoutTakingIt)
{
    TForm1Config config;
    config.programFolder = Folder();
    config.dialogs = dialogs;
    config.msgPort = 0;
    config.strmPort = 0;
    config.discovery = false;
    TKeyWatchingForm f(config);
    f.FormCreate();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.activateWindow();
    f.Edit_RemoteComputerName->setFocus();

    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        quint16 code;
    };
    for (const Press &p : {Press{Qt::Key_Return, {}, 13}, Press{Qt::Key_Enter, Qt::KeypadModifier, 13},
                           Press{Qt::Key_A, {}, 65}, Press{Qt::Key_F5, {}, 0}}) {
        f.keys.clear();
        QTest::keyClick(f.Edit_RemoteComputerName, p.key, p.modifiers);
        ASSERT_EQ(f.keys.size(), 1u) << p.key;
        EXPECT_EQ(f.keys.front(), p.code);
    }
    // The focused control still got its key.
    EXPECT_EQ(f.Edit_RemoteComputerName->text(), QStringLiteral("a"));

    // Keys of another window are not this window's.
    f.keys.clear();
    TAboutBox *box = f.AboutBox();
    QTest::keyClick(box->OKButton, Qt::Key_Space);
    EXPECT_TRUE(f.keys.empty());
}

TEST_F(WindowTest, GeneralErrorReportGetsWhatAHandlerThrows)
{
    TForm1 &f = Start();
    // A folder where the list file should be: the write passes the guard but fails.
    std::filesystem::create_directory(FsPath("~ListFile_send.txt"));
    WriteFile("a.txt", "x");
    dialogs->openFilesAnswers.push_back({QString::fromStdString(FsPath("a.txt"))});
    f.SB_FileAdd->click(); // through the real signal connection
    // The list is written on the writer's thread, which reports to this one.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs->messages.empty(); }, 5000));
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, dz::ToQString("Cannot create file " + Folder() + "~ListFile_send.txt"));
    EXPECT_EQ(dialogs->messages[0].caption, AppCaption());
    EXPECT_EQ(RowCount(f.ListF_send), 1); // the change stays on screen

    // Whatever is thrown, the report gets a text and the caller goes on.
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    EXPECT_FALSE(RunGuarded([] { throw dz::EFileError("Unable to create directory"); }));
    ASSERT_EQ(dialogs->messages.size(), 3u);
    EXPECT_EQ(dialogs->messages[1].text, QStringLiteral("Unknown exception"));
    EXPECT_EQ(dialogs->messages[2].text, QStringLiteral("Unable to create directory"));
    EXPECT_TRUE(RunGuarded([] {}));
}

TEST_F(WindowTest, ErrorReportIsHandedBackWhenTheWindowGoes)
{
    std::vector<std::string> seen;
    auto outer = dz::SetExceptionReporter([&seen](const std::string &m) { seen.push_back(m); });
    Make();
    dz::ReportError("inside");
    form.reset();
    dz::ReportError("after");
    dz::SetExceptionReporter(outer);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, QStringLiteral("inside"));
    EXPECT_EQ(seen, std::vector<std::string>{"after"});
}

} // namespace

// The size the user leaves the window at comes back, never below the
// design's nor beyond the screen; so does the chat's height.
TEST_F(WindowTest, TheWindowKeepsItsSizeInTheSettingsStore)
{
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    ASSERT_GE(screen.width(), 640);
    ASSERT_GE(screen.height(), 600);
    const struct {
        const char *file; // the settings file as it stands before start
        QSize size;       // the window's size at start
        int chat;         // the chat's height once shown
    } cases[] = {
        {"", QSize(378, 408), 95},
        {R"({"window.size": [500, 600]})", QSize(500, 600), 95},
        {R"({"window.size": [100, 900]})", QSize(378, screen.height()), 95},
        {R"({"window.size": [90000, 450]})", QSize(screen.width(), 450), 95},
        {R"({"window.size": "big"})", QSize(378, 408), 95},
        {R"({"window.size": [500, 600], "window.chat": 200})", QSize(500, 600), 200},
        {R"({"window.chat": "tall"})", QSize(378, 408), 95},
        {R"({"window.chat": -4})", QSize(378, 408), 95},
        {"not json", QSize(378, 408), 95},
    };
    for (const auto &c : cases) {
        WriteFile(dz::TSettingsStore::kFileName, c.file);
        TForm1 &f = Start();
        EXPECT_EQ(f.size(), c.size) << c.file;
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
        EXPECT_EQ(f.GroupBox1->height(), c.chat) << c.file;
        form.reset();
    }
    WriteFile(dz::TSettingsStore::kFileName, "");
    TForm1 &f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.resize(450, 520);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.size() == QSize(450, 520); }, 5000));
    QWidget *handle = f.Splitter1->handle(1);
    const QPoint grip(handle->width() / 2, 1);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(0, 60));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, 60));
    const int chat = f.GroupBox1->height();
    EXPECT_GT(chat, 95);
    EXPECT_TRUE(f.close());
    ASSERT_TRUE(f.FlushStateFiles()); // written on the writer's thread
    TForm1 &again = Start();
    EXPECT_EQ(again.size(), QSize(450, 520));
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.GroupBox1->height(), chat);
    const std::string ini = ReadFile("Dizaruz.ini"); // the INI keeps only its own keys
    EXPECT_EQ(ini.find("size"), std::string::npos);
    EXPECT_EQ(ini.find("chat"), std::string::npos);
}

namespace {

// Presses Tab from the focused control until the focus comes back to where
// it began (at most 40 times): the names of the controls it visited.
QStringList Names(std::initializer_list<const char *> names)
{
    QStringList list;
    for (const char *name : names)
        list << QString::fromLatin1(name);
    return list;
}

QStringList TabRound()
{
    QStringList visited;
    const QWidget *first = QApplication::focusWidget();
    for (int i = 0; i < 40 && first; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QWidget *now = QApplication::focusWidget();
        if (!now || now == first)
            break;
        visited << now->objectName();
    }
    return visited;
}

TEST_F(WindowTest, TabVisitsEveryControlOfTheShownPageInReadingOrder)
{
    TForm1 &f = Start();
    f.SB_msg->setEnabled(true);
    f.show();
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    const QStringList top = Names({"Edit_ThisComputerIP", "Edit_RemoteComputerName", "SB_Computers", "SB_connect",
                          "Edit_RemoteComputerIP", "SB_link", "SpeedButton2", "SB_msg", "Edit_Mess", "Memo_Mess", "qt_tabwidget_tabbar"});
    const struct {
        int page;
        QStringList controls;
    } pages[] = {
        {0, Names({"SpeedButton1", "SB_Dir", "ListF_recv"})},
        // SB_send is off until a peer is introduced: Tab passes it by.
        {1, Names({"SB_FileAdd", "SB_FolderAdd", "SB_FileDel", "SB_ListClear", "ListF_send"})},
    };
    for (const auto &p : pages) {
        SCOPED_TRACE(p.page);
        f.TN1->setCurrentIndex(p.page);
        f.Edit_ThisComputerName->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([&] { return f.Edit_ThisComputerName->hasFocus(); }));
        EXPECT_EQ(TabRound(), top + p.controls + Names({"SB_Help"}));
    }
}

TEST_F(WindowTest, ButtonShowsWhenTheKeyboardGivesItTheFocus)
{
    TForm1 &f = Start();
    f.show();
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    const QImage before = f.SB_connect->grab().toImage();
    f.Edit_RemoteComputerName->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.Edit_RemoteComputerName->hasFocus(); }));
    QTest::keyClick(f.Edit_RemoteComputerName, Qt::Key_Tab); // the computers button
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_TRUE(f.SB_connect->hasFocus());
    EXPECT_NE(f.SB_connect->grab().toImage(), before);
    // A click does not take the focus from the box the user types in.
    f.Edit_RemoteComputerName->setFocus(Qt::MouseFocusReason);
    QTest::mouseClick(f.SB_connect, Qt::LeftButton);
    EXPECT_TRUE(f.Edit_RemoteComputerName->hasFocus());
}

// The menu key opens a list's context menu at its current row, so its
// actions need no mouse.
TEST_F(WindowTest, MenuKeyOpensTheListsContextMenus)
{
    TForm1 &f = Start();
    f.ReceiveLog().Prepend(QStringLiteral("arrived.txt"), QString());
    f.SendList().Append(QStringLiteral("/tmp/first.txt"));
    f.show();
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    const struct {
        int page;
        QListView *list;
        QMenu *menu;
    } lists[] = {{0, f.ListF_recv, f.ReceivePage->PopupMenu_recv}, {1, f.ListF_send, f.PopupMenu1}};
    for (const auto &l : lists) {
        SCOPED_TRACE(l.page);
        f.TN1->setCurrentIndex(l.page);
        l.list->setFocus(Qt::TabFocusReason);
        SetItemIndex(l.list, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return l.list->hasFocus(); }));
        QTest::keyClick(f.windowHandle(), Qt::Key_Menu);
        EXPECT_TRUE(QTest::qWaitFor([&] { return l.menu->isVisible(); }));
        l.menu->hide();
    }
}

} // namespace
