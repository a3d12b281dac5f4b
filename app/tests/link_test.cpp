// The link's state beside the remote name: two windows with keys meet and
// show the same code, the user confirms it or forgets the pin; a window
// whose peer does not encrypt says so.

#include "Controls.h"
#include "LinkBadge.h"
#include "PeerTools.h"

#include <QAction>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

using namespace peer;
using dz::peer::TLinkState;

class LinkTest : public TPeerTest {
protected:
    void SetUp() override
    {
        TPeerTest::SetUp();
        links = true;
    }
    static TLinkBadge *Badge(TForm1 &f) { return f.findChild<TLinkBadge *>(QStringLiteral("SB_link")); }
};

TEST_F(LinkTest, TwoWindowsShowTheSameCodeAndTheUserConfirmsOrForgets)
{
    auto [a, b] = ConnectedPair();
    TLinkBadge *badgeA = Badge(*a);
    TLinkBadge *badgeB = Badge(*b);
    ASSERT_TRUE(badgeA && badgeB);
    ASSERT_TRUE(PumpUntil([&] {
        return badgeA->State() == TLinkState::EncryptedUnconfirmed &&
               badgeB->State() == TLinkState::EncryptedUnconfirmed;
    }));
    // Beside the remote name, with the code both users compare.
    EXPECT_EQ(badgeA->parentWidget(), a->GroupBox4);
    EXPECT_EQ(badgeA->Code().size(), 14u);
    EXPECT_EQ(badgeA->Code(), badgeB->Code());
    EXPECT_NE(badgeA->toolTip().indexOf(QString::fromStdString(badgeA->Code())), -1);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(FsFolder("a") + "Dizaruz-key.pem")).exists());

    // Each state has its own name for a screen reader, and its own picture.
    const QString unconfirmed = badgeA->accessibleName();
    const QImage unconfirmedPicture = badgeA->icon().pixmap(16).toImage();
    EXPECT_TRUE(badgeA->ConfirmAction()->isEnabled());
    badgeA->ConfirmAction()->trigger();
    ASSERT_TRUE(PumpUntil([&] { return badgeA->State() == TLinkState::EncryptedConfirmed; }));
    const QString confirmed = badgeA->accessibleName();
    EXPECT_NE(confirmed, unconfirmed);
    EXPECT_NE(badgeA->icon().pixmap(16).toImage(), unconfirmedPicture);
    EXPECT_FALSE(badgeA->ConfirmAction()->isEnabled());
    // Pinned on both sides: chat goes on, encrypted.
    a->Edit_Mess->setText(QStringLiteral("secret"));
    a->SB_msgClick();
    ASSERT_TRUE(PumpUntil([&] { return !MemoLines(b->Memo_Mess).empty(); }));

    badgeA->ForgetAction()->trigger();
    ASSERT_TRUE(PumpUntil([&] { return badgeA->State() == TLinkState::Clear; }));
    EXPECT_NE(badgeA->accessibleName(), confirmed);
    EXPECT_NE(badgeA->accessibleName(), unconfirmed);
    EXPECT_NE(badgeA->icon().pixmap(16).toImage(), unconfirmedPicture);
    EXPECT_TRUE(dialogs->notices.empty());
}

TEST_F(LinkTest, AnOlderPeerIsShownClear)
{
    auto f = MakeWindow("a", "ALPHA", "192.168.0.1");
    Deliver(*f, "ItsMe=BETA|127.0.0.1", "BETA");
    Deliver(*f, "Dizaruz_Can=BigFiles|NoTick", "BETA");
    TLinkBadge *badge = Badge(*f);
    ASSERT_TRUE(badge);
    ASSERT_TRUE(PumpUntil([&] { return !badge->toolTip().isEmpty() && f->Work().PendingCount() == 0; }));
    EXPECT_EQ(badge->State(), TLinkState::Clear);
    EXPECT_EQ(badge->accessibleName(), TLinkBadge::StateText(TLinkState::Clear));
    EXPECT_FALSE(badge->ForgetAction()->isEnabled());
    EXPECT_TRUE(dialogs->notices.empty());
}

} // namespace
