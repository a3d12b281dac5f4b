// The window at the sizes a user may give it, in each language: no visible
// control covers another or sticks out of the one that holds it, and no
// text of ours is cut, with the longest figures a run or a transfer shows.

#include "FormFixture.h"
#include "Language.h"
#include "SizeText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace {

// Labels that show the user's own data (a folder, a file's name): these
// may be longer than any window.
bool HoldsUserData(const QWidget *w)
{
    return w->objectName() == QLatin1String("Label_Dir_Reciv") || w->objectName() == QLatin1String("Label_RecivNow");
}

// A text a control shows, the room it needs (one line) and the room it has.
struct TFit {
    QString text;
    QSize need;
    QSize room;
};

TFit Fit(const QWidget *w, const QString &text, QSize room)
{
    return {text, QSize(w->fontMetrics().horizontalAdvance(text), w->fontMetrics().height()), room};
}

// The text of w and whether it fits; no text: nothing to check.
TFit FitOf(const QWidget *w)
{
    if (const auto *label = qobject_cast<const QLabel *>(w); label && !HoldsUserData(w)) {
        const int m = label->margin();
        const QSize room = label->contentsRect().marginsRemoved(QMargins(m, m, m, m)).size();
        if (label->wordWrap()) // as many lines as it takes at this width
            return {label->text(), QSize(0, label->heightForWidth(label->width())), label->size()};
        return Fit(w, label->text(), room);
    }
    if (const auto *group = qobject_cast<const QGroupBox *>(w))
        return Fit(w, group->title(), group->size());
    if (const auto *bar = qobject_cast<const QProgressBar *>(w))
        return Fit(w, bar->text(), bar->size() - QSize(4, 0));
    if (const auto *button = qobject_cast<const QAbstractButton *>(w))
        return Fit(w, button->text(), button->size());
    return {};
}

// Walks the visible controls under parent: named siblings (the window's
// own, not Qt's insides) must not intersect, must lie within their parent
// and must show their whole text.
void Walk(const QWidget *parent, QStringList &faults)
{
    QList<const QWidget *> own;
    for (const QObject *child : parent->children()) {
        const auto *w = qobject_cast<const QWidget *>(child);
        if (w == nullptr || w->isWindow() || !w->isVisible())
            continue;
        Walk(w, faults);
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (!parent->rect().contains(w->geometry()))
            faults << w->objectName() + QStringLiteral(" sticks out of ") + parent->objectName();
        const TFit fit = FitOf(w);
        if (!fit.text.isEmpty() && (fit.need.width() > fit.room.width() || fit.need.height() > fit.room.height()))
            faults << w->objectName() + QStringLiteral(": \"") + fit.text + QStringLiteral("\" is cut");
        for (const QWidget *other : own)
            if (other->geometry().intersects(w->geometry()))
                faults << other->objectName() + QStringLiteral(" and ") + w->objectName() + QStringLiteral(" overlap");
        own << w;
    }
}

struct TSize {
    const char *what;
    QSize size;
    int chat; // the chat's height above the splitter; 0: as it comes
};

class LayoutTest : public FormFixture {
protected:
    void TearDown() override
    {
        form.reset();
        InstallLanguage(*qApp, QStringLiteral("ru"));
    }
};

} // namespace

TEST_F(LayoutTest, NothingOverlapsOrIsCutAtAnySizeInEitherLanguage)
{
    // An empty size: the least the window may be (the design's outer size,
    // less the frame).
    const TSize sizes[] = {
        {"the least", QSize(), 0},
        {"the design's size", QSize(378, 408), 0},
        {"taller", QSize(378, 600), 0},
        {"wider", QSize(640, 408), 0},
        {"large, the chat drawn down", QSize(800, 600), 300},
    };
    for (const char *language : {"ru", "en"}) {
        ASSERT_TRUE(InstallLanguage(*qApp, QLatin1String(language)));
        form.reset();
        TForm1 &f = Start();
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
        // The longest figures a user will meet: hundreds of files, sizes
        // with four digits, a transfer of hours.
        f.Label_YesSend->show();
        f.Label_YesReciv->show();
        f.Label_RunProgress->setText(
            QStringLiteral("%1/%2 · %3").arg(999).arg(999).arg(BytesPairText(1000LL << 30, 1023LL << 30)));
        f.Label_RunProgress->show();
        f.ProgressBar_File->setFormat(BytesText(1000LL << 20) + QCoreApplication::translate("TProgressRow", " из ") +
                                      BytesText(1023LL << 20));
        f.Label_Speed->setText(BytesText(1000LL << 20) + QCoreApplication::translate("TProgressRow", "/с") +
                               QStringLiteral(" · ") +
                               DurationText(std::chrono::hours(99) + std::chrono::seconds(3599)));
        f.Panel_Progress->show();
        ASSERT_LE(f.minimumWidth(), 378);
        ASSERT_LE(f.minimumHeight(), 408);
        for (const TSize &s : sizes) {
            const QSize size = s.size.isValid() ? s.size : f.minimumSize();
            f.resize(size);
            ASSERT_TRUE(QTest::qWaitFor([&] { return f.size() == size; }, 5000)) << s.what;
            if (s.chat > 0)
                f.Splitter1->setSizes({s.chat, 10000});
            for (int page = 0; page < f.TN1->count(); ++page) {
                f.TN1->setCurrentIndex(page);
                QCoreApplication::sendPostedEvents();
                f.layout()->activate();
                QStringList faults;
                Walk(&f, faults);
                EXPECT_TRUE(faults.isEmpty()) << language << ", " << s.what << ", page " << page << ":\n"
                                              << faults.join(QLatin1Char('\n')).toStdString();
            }
        }
    }
}

// The boxes take what the window gains in width, and what stands beside
// them moves along; at the design's width they keep the design's places.
TEST_F(LayoutTest, EditBoxesTakeTheWidth)
{
    TForm1 &f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    struct TPlace {
        QWidget *widget;
        QRect designed;
        bool grows;
        bool moves;
    };
    const TPlace places[] = {
        {f.Edit_ThisComputerName, QRect(48, 15, 121, 21), true, false},
        {f.Edit_ThisComputerIP, QRect(240, 15, 121, 21), true, true},
        {f.Label_ThisIP, QRect(208, 19, f.Label_ThisIP->width(), f.Label_ThisIP->height()), false, true},
        // The address box gives room to the link's state at its end.
        {f.Edit_RemoteComputerIP, QRect(240, 16, 99, 21), true, true},
        {f.SB_connect, QRect(176, 15, 25, 22), false, true},
        {f.Edit_Mess, QRect(56, 2, 297, 21), true, false},
    };
    // The least size leaves at most the frame's few pixels to share.
    f.resize(f.minimumSize());
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.size() == f.minimumSize(); }, 5000));
    for (const TPlace &p : places) {
        SCOPED_TRACE(p.widget->objectName().toStdString());
        EXPECT_NEAR(p.widget->x(), p.designed.x(), 4);
        EXPECT_NEAR(p.widget->width(), p.designed.width(), 4);
    }

    const int gain = 300;
    f.resize(f.minimumWidth() + gain, 408);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.width() == f.minimumWidth() + gain; }, 5000));
    for (const TPlace &p : places) {
        SCOPED_TRACE(p.widget->objectName().toStdString());
        const QRect now = p.widget->geometry();
        EXPECT_EQ(now.top(), p.designed.top());
        EXPECT_EQ(now.height(), p.designed.height());
        EXPECT_EQ(now.width() > p.designed.width() + gain / 4, p.grows);
        EXPECT_EQ(now.left() > p.designed.left() + gain / 4, p.moves);
        EXPECT_LE(now.right(), p.widget->parentWidget()->width());
    }
    // Side by side, each box takes the same share, and the two never meet.
    EXPECT_NEAR(f.Edit_ThisComputerName->geometry().right() - places[0].designed.right(),
                f.Edit_ThisComputerIP->width() - places[1].designed.width(), 1);
    EXPECT_LT(f.Edit_ThisComputerName->geometry().right(), f.Label_ThisIP->x());
    EXPECT_LT(f.Edit_RemoteComputerName->geometry().right(), f.SB_connect->x());
}
