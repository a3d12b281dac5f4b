// The window's languages: the choice at start, a finished English
// translation embedded in the program, and an English window with no
// Russian left outside the user's own data.

#include "About.h"
#include "FormFixture.h"
#include "Language.h"
#include "Problems.h"
#include "SizeText.h"
#include "util/problem.h"
#include "util/settings.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTranslator>
#include <gtest/gtest.h>

#include <fstream>

namespace {

struct TStartCase {
    const char *stored; // the settings file's content; nullptr: no file
    const char *desktop;
    const char *expected;
};

} // namespace

TEST(Language, ChoiceAtStart)
{
    const TStartCase cases[] = {
        {nullptr, "ru_RU", "ru"},
        {nullptr, "en_US", "en"},
        {nullptr, "de_DE", "en"},
        {R"({"language":"auto"})", "ru_RU", "ru"},
        {R"({"language":"auto"})", "en_US", "en"},
        {R"({"language":"ru"})", "en_US", "ru"},
        {R"({"language":"en"})", "ru_RU", "en"},
        {R"({"language":"fr"})", "ru_RU", "ru"}, // unknown: Auto
        {R"({"language":7})", "en_US", "en"},
        {"not json", "ru_RU", "ru"},
    };
    for (const TStartCase &c : cases) {
        SCOPED_TRACE(std::string(c.stored ? c.stored : "(none)") + " on " + c.desktop);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string folder = dir.path().toStdString() + "/";
        const std::string file = folder + dz::TSettingsStore::kFileName;
        if (c.stored)
            std::ofstream(file) << c.stored;
        EXPECT_EQ(LanguageAtStart(folder, QLocale(QString::fromLatin1(c.desktop))), QLatin1String(c.expected));
        // Reading the choice leaves a damaged file for the window to set aside and report.
        EXPECT_EQ(std::filesystem::exists(file), c.stored != nullptr);
        EXPECT_FALSE(std::filesystem::exists(file + ".damaged"));
    }
}

// Finished is lrelease's count (app.TranslationFinished.*); here, that the
// translation is linked into what links app.
TEST(Language, EnglishTranslationIsEmbedded)
{
    QTranslator embedded;
    ASSERT_TRUE(embedded.load(QStringLiteral(":/i18n/dizaruz_en.qm")));
    EXPECT_EQ(embedded.translate("TForm1", "Принятые"), QStringLiteral("Received"));
}

class EnglishWindow : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        ASSERT_TRUE(InstallLanguage(*qApp, QStringLiteral("en")));
    }
    void TearDown() override
    {
        form.reset();
        InstallLanguage(*qApp, QStringLiteral("ru"));
    }

    // Every text a user can meet on widget and its actions, by where it is.
    static QStringList TextsOf(QWidget *widget)
    {
        const QString at = widget->objectName() + QLatin1Char(' ');
        QStringList texts = {at + widget->windowTitle(), at + widget->toolTip(), at + widget->accessibleName(),
                             at + widget->accessibleDescription(), at + widget->statusTip(),
                             at + widget->whatsThis()};
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << at + label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            texts << at + button->text();
        if (auto *group = qobject_cast<QGroupBox *>(widget))
            texts << at + group->title();
        if (auto *line = qobject_cast<QLineEdit *>(widget))
            texts << at + line->placeholderText();
        if (auto *memo = qobject_cast<QPlainTextEdit *>(widget)) {
            // The chat and the lists are the user's; the about box's text is ours.
            texts << at + memo->placeholderText();
            if (memo->objectName() == QLatin1String("Memo1"))
                texts << at + memo->toPlainText();
        }
        if (auto *tabs = qobject_cast<QTabWidget *>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                texts << at + tabs->tabText(i) << at + tabs->tabToolTip(i);
        // The language names are each in its own language.
        auto *combo = qobject_cast<QComboBox *>(widget);
        if (combo != nullptr && combo->objectName() != QLatin1String("Language_Choice"))
            for (int i = 0; i < combo->count(); ++i)
                texts << at + combo->itemText(i);
        for (QAction *action : widget->actions())
            texts << at + action->text() << at + action->toolTip() << at + action->statusTip();
        return texts;
    }
};

TEST_F(EnglishWindow, ShowsNoRussian)
{
    Start();
    QWidget *about = form->AboutBox();
    const QRegularExpression russian(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    QStringList found;
    QStringList all;
    int walked = 0;
    for (QWidget *top : {static_cast<QWidget *>(form.get()), about}) {
        QList<QWidget *> widgets = top->findChildren<QWidget *>();
        widgets.prepend(top);
        for (QWidget *widget : widgets) {
            ++walked;
            for (const QString &text : TextsOf(widget)) {
                all << text;
                if (text.contains(russian))
                    found << text;
            }
        }
    }
    EXPECT_GT(walked, 40);
    // The walk reaches the tabs, the pop-up menus and the about box.
    for (const char *english : {"TN1 Send", "PopupMenu_recv Show in folder", "PopupMenu1 Clear the whole list",
                                "Language_Choice Language"})
        EXPECT_TRUE(all.contains(QString::fromUtf8(english))) << english;
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1String("\n")).toStdString();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Copying files over the network"));
}

TEST_F(EnglishWindow, SizesFollowTheLanguage)
{
    EXPECT_EQ(BytesText(1536), QStringLiteral("1.5 KB"));
    EXPECT_EQ(BytesPairText(512LL << 20, 3LL << 30), QStringLiteral("0.5/3.0 GB"));
    InstallLanguage(*qApp, QStringLiteral("ru"));
    // Russian digit groups are parted by a no-break space.
    const struct {
        qint64 bytes;
        const char *text;
    } rows[] = {{0, "0 Б"}, {1023, "1\u00a0023 Б"}, {1536, "1,5 КБ"}, {(25 << 20) / 2, "12,5 МБ"},
                {5000LL << 40, "5\u00a0000 ТБ"}};
    for (const auto &row : rows)
        EXPECT_EQ(BytesText(row.bytes), QString::fromUtf8(row.text)) << row.bytes;
}

// Refusals reported from below the window are worded in its language, with
// the user's names and the figures in place.
TEST_F(EnglishWindow, ProblemsAreWordedInTheLanguage)
{
    using dz::TProblemKind;
    const std::uint64_t mib = 1 << 20;
    const struct {
        TProblemKind kind;
        const char *english; // a part of the English wording
    } rows[] = {
        {TProblemKind::TooBigForProgram, "the largest size"},
        {TProblemKind::TooBigForPeer, "takes files only up to"},
        {TProblemKind::MismatchTwice, "twice"},
        {TProblemKind::NoSpaceThere, "needs 36.0 MB on the other computer"},
        {TProblemKind::BadName, "is not allowed"},
        {TProblemKind::Mismatch, "arrived unlike it left"},
        {TProblemKind::NoSpaceHere, "needs 36.0 MB, and the receive folder has 100 MB free (64.0 MB"},
    };
    const QRegularExpression russian(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    for (const auto &row : rows) {
        const std::string text = dz::TProblem{row.kind, "Проект.iso", "ГАММА", {36 * mib, 100 * mib, 64 * mib}}.Encode();
        const QString english = WordedProblem(text);
        EXPECT_TRUE(english.contains(QString::fromUtf8(row.english))) << english.toStdString();
        EXPECT_TRUE(english.contains(QStringLiteral("Проект.iso"))) << english.toStdString();
        QString rest = english;
        rest.remove(QStringLiteral("Проект.iso")).remove(QStringLiteral("ГАММА"));
        EXPECT_FALSE(rest.contains(russian)) << english.toStdString();
    }
    InstallLanguage(*qApp, QStringLiteral("ru"));
    EXPECT_EQ(WordedProblem(dz::TProblem{TProblemKind::NoSpaceHere, "Проект.iso", "ALPHA", {36 * mib, 100 * mib, 64 * mib}}
                                .Encode()),
              QStringLiteral("Файл от ALPHA не сохранён: «Проект.iso» требует 36,0 МБ, а в папке приёма свободно 100 МБ "
                             "(64,0 МБ остаются незанятыми)."));
    EXPECT_EQ(WordedProblem("Connection Failed"), QStringLiteral("Connection Failed"));
}

TEST_F(EnglishWindow, AboutBoxKeepsTheChoice)
{
    Start();
    TAboutBox *about = form->AboutBox();
    QComboBox *choice = about->Language_Choice;
    ASSERT_TRUE(choice->isEnabled());
    EXPECT_EQ(choice->currentText(), QStringLiteral("Auto"));
    const int russian = choice->findText(QStringLiteral("Русский"));
    ASSERT_GE(russian, 0);
    choice->setCurrentIndex(russian);
    emit choice->activated(russian);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    form->FlushStateFiles();
    // What the next start reads, on an English desktop.
    EXPECT_EQ(LanguageAtStart(Folder(), QLocale(QStringLiteral("en_US"))), QStringLiteral("ru"));
    // Choosing the same again says nothing more.
    emit choice->activated(russian);
    EXPECT_EQ(dialogs->messages.size(), 1u);
}
