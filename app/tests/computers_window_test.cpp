// The list of computers in the window: an activation introduces this copy
// as a typed connect does, and a connect the peer answered is remembered.

#include "ComputersView.h"
#include "PeerTools.h"
#include "peer/computers.h"

#include <QLineEdit>
#include <QToolButton>

namespace {

using namespace peer;

using ComputersWindowTest = TPeerTest;

std::vector<dz::peer::TComputer> Remembered(const TForm1 &f)
{
    std::vector<dz::peer::TComputer> rows;
    for (const dz::peer::TComputer &c : f.Computers().Computers())
        if (c.remembered)
            rows.push_back(c);
    return rows;
}

TEST_F(ComputersWindowTest, AnActivationIntroducesAtTheAddressAndIsRemembered)
{
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
    SendsTo(*a, *b);
    SendsTo(*b, *a);
    EXPECT_FALSE(a->ComputersView->Button()->isHidden());
    EXPECT_LE(a->Edit_RemoteComputerName->geometry().right(), a->ComputersView->Button()->geometry().left());

    // A name no resolver knows: the messages go to the address the list gave.
    emit a->ComputersView->Activated(QStringLiteral("BETA-NOWHERE"), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(PumpUntil([&] { return a->SB_send->isEnabled() && b->SB_send->isEnabled(); }));
    EXPECT_EQ(a->Edit_RemoteComputerName->text(), QStringLiteral("BETA-NOWHERE"));
    EXPECT_EQ(b->Edit_RemoteComputerName->text(), QStringLiteral("127.0.0.1")) << "b heard a's ItsMe";
    EXPECT_EQ(a->Core().Hosts().msgHost, "127.0.0.2");
    ASSERT_TRUE(PumpUntil([&] { return !Remembered(*a).empty(); }));
    // Loopback is no computer's address: the name is kept without one.
    EXPECT_EQ(Remembered(*a), (std::vector<dz::peer::TComputer>{{QStringLiteral("BETA-NOWHERE"), QString(), false, true, false}}));
    EXPECT_TRUE(Remembered(*b).empty()) << "a stranger who introduced itself is not remembered";
    EXPECT_NE(ReadFile("a", "Dizaruz.ini").find("ComputerName=BETA-NOWHERE"), std::string::npos);

    // A typed connect counts too, at the address the answer announced; newest first.
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.2"));
    a->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return Remembered(*a).size() == 2; }));
    EXPECT_EQ(Remembered(*a).front().name, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(Remembered(*a).front().address, QStringLiteral("192.168.0.2"));
}

} // namespace
