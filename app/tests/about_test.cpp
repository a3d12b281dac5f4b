// The about box: its picture, texts and links, and how SB_Help shows it.

#include "About.h"
#include "AboutPicture.h"
#include "Controls.h"
#include "FormFixture.h"
#include "Jpeg.h"
#include "Shell.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

namespace {

TEST(Jpeg, EmbeddedPictureDecodesThroughLibjpeg)
{
    const QImage image = DecodeJpeg(kAboutPictureJpeg, kAboutPictureJpegSize);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(kAboutPictureWidth, kAboutPictureHeight));
    EXPECT_EQ(image.size(), QSize(65, 89));
    // A dark blue sky at the top, a lighter one at the bottom.
    const QColor top = image.pixelColor(60, 2);
    const QColor bottom = image.pixelColor(2, 86);
    EXPECT_GT(top.blue(), top.red() + 60);
    EXPECT_GT(bottom.lightness(), top.lightness());
}

TEST(Jpeg, DamagedDataGivesANullImage)
{
    const std::string garbage(500, '\x5a');
    const unsigned char *g = reinterpret_cast<const unsigned char *>(garbage.data());
    struct Case {
        const char *name;
        const unsigned char *data;
        std::size_t size;
    };
    for (const Case &k : {Case{"none", nullptr, 0}, Case{"empty", kAboutPictureJpeg, 0},
                          Case{"header only", kAboutPictureJpeg, 20}, Case{"not a JPEG", g, garbage.size()}}) {
        SCOPED_TRACE(k.name);
        EXPECT_TRUE(DecodeJpeg(k.data, k.size).isNull());
    }
    // Cut short inside the picture data: libjpeg fills the rest, but never crashes.
    const QImage cut = DecodeJpeg(kAboutPictureJpeg, kAboutPictureJpegSize / 2);
    EXPECT_TRUE(cut.isNull() || cut.size() == QSize(65, 89));
}

TEST(AboutBox, HoldsItsControls)
{
    TFakeDialogs dialogs;
    TAboutBox box(dialogs);
    EXPECT_EQ(box.objectName(), QStringLiteral("AboutBox"));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(box.size(), QSize(298, 268));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_FALSE(box.isVisible());

    EXPECT_TRUE(box.ProgramIcon->hasScaledContents());
    EXPECT_EQ(box.ProgramIcon->pixmap().size(), QSize(65, 89));

    EXPECT_EQ(box.ProductName->text(), QStringLiteral("Dizaruz"));
    EXPECT_EQ(box.Label1->text(), QStringLiteral("Dizaruz"));
    EXPECT_TRUE(box.ProductName->font().bold());
    EXPECT_EQ(box.ProductName->font().pixelSize(), 19);
    EXPECT_EQ(box.ProductName->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(box.Label1->pos(), box.ProductName->pos() + QPoint(1, 1));
    EXPECT_EQ(box.Version->text(), QStringLiteral("Version  1.00    [22.12.2006]"));
    for (QLabel *link : {box.Label3, box.Label4}) {
        EXPECT_TRUE(link->font().bold());
        EXPECT_EQ(link->font().pixelSize(), 13);
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_TRUE(QUrl(link->text()).isValid());
    }

    const QStringList expected = {
        QStringLiteral("Dizaruz.exe"), QStringLiteral("==============="), QString(),
        QStringLiteral("Программа позволяет копировать файлы "), QStringLiteral("по сети, не используя для этого"),
        QStringLiteral("сетевые диски."), QString(), QStringLiteral("Чтобы пересылать файлы между двумя "),
        QStringLiteral("компьютерами - эта программа"), QStringLiteral("должна быть запущена на обоих компьютерах."),
        QString(), QStringLiteral("Интерфейс программы прост и не требует "), QStringLiteral("пояснений."), QString(),
        QStringLiteral("При выборе файлов для копирования - "), QStringLiteral("поддерживается "),
        QStringLiteral("механизим Drag and Drop."), QString(), QString(),
        QStringLiteral("Используемые порты : 573 и 574."), QString(), QString(), QStringLiteral("================="),
        box.Copyright->text(), box.Label3->text(), box.Label4->text(), QString()};
    QStringList lines;
    for (QTextBlock b = box.Memo1->document()->begin(); b.isValid(); b = b.next())
        lines.append(b.text());
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(box.Memo1->isReadOnly());
    EXPECT_EQ(box.Memo1->palette().color(QPalette::Base), kSilver);

    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_EQ(box.Memo1->height(), 95);
    EXPECT_EQ(box.Panel2->height(), 27);
    EXPECT_EQ(box.Panel2->geometry().bottom(), box.height() - 1);
    EXPECT_TRUE(box.OKButton->isDefault());
}

TEST(AboutBox, LinksOpenTheirOwnAddress)
{
    TFakeDialogs dialogs;
    TAboutBox box(dialogs);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(box.Label3, Qt::LeftButton);
    QTest::mouseClick(box.Label4, Qt::LeftButton);
    QTest::mouseClick(box.Label4, Qt::RightButton);
    ASSERT_EQ(dialogs.openedUrls.size(), 2u);
    EXPECT_EQ(dialogs.openedUrls[0], QUrl(box.Label3->text()));
    EXPECT_EQ(dialogs.openedUrls[1], QUrl(box.Label4->text()));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(OpenDocument, FailureIsToldOnlyWhenAsked)
{
    TFakeDialogs dialogs;
    EXPECT_FALSE(OpenDocument(dialogs, false, nullptr, "", 0));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(OpenDocument(dialogs, true, nullptr, "   ", 5));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Ошибка при открытии документа :    "));
    EXPECT_TRUE(dialogs.openedUrls.empty()); // nothing worth asking the desktop about

    // A document the desktop cannot open.
    dialogs.openUrlResult = false;
    EXPECT_FALSE(OpenDocument(dialogs, true, nullptr, "https://dizaruz.example.org/", 1));
    ASSERT_EQ(dialogs.openedUrls.size(), 1u);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, QStringLiteral("Ошибка при открытии документа : https://dizaruz.example.org/"));
}

using HelpTest = FormFixture;

TEST_F(HelpTest, HelpShowsTheVersionEachTime)
{
    TForm1 &f = Start();
    QString shownVersion;
    dialogs->onExecModal = [&](QDialog &d) {
        shownVersion = static_cast<TAboutBox &>(d).Version->text();
        return int(QDialog::Accepted);
    };
    for (int showing = 0; showing < 2; ++showing) {
        f.AboutBox()->Version->setText(QStringLiteral("Version  1.00    [22.12.2006]"));
        f.SB_Help->click();
        EXPECT_EQ(shownVersion, QStringLiteral("1.02  [22.12.2006]"));
    }
    ASSERT_EQ(dialogs->modalDialogs.size(), 2u);
    EXPECT_EQ(dialogs->modalDialogs[0], f.AboutBox());
    EXPECT_EQ(dialogs->modalDialogs[1], f.AboutBox()); // the same box, kept between showings
}

TEST(AboutBox, RealModalShowingEndsWithOK)
{
    TFakeDialogs fake;
    TAboutBox box(fake);
    TQtDialogs dialogs;
    QTimer::singleShot(0, &box, [&box] { box.OKButton->click(); });
    // A safety net so that a broken OK button fails the test instead of hanging it.
    QTimer::singleShot(5000, &box, [&box] { box.reject(); });
    EXPECT_EQ(dialogs.execModal(box), int(QDialog::Accepted));
    EXPECT_FALSE(box.isVisible());
}

} // namespace

