// Form1: the computers found on the network and those remembered, beside
// the remote name box; this copy published while its servers listen.

#include "Form1.h"

#include "AlignLayout.h"
#include "ComputersView.h"
#include "Controls.h"
#include "Guard.h"
#include "PeerBox.h"
#include "desktop/discovery.h"
#include "peer/computers.h"
#include "peer/core.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/text.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>

#include <utility>

void TForm1::BuildComputers()
{
    computers_ = std::make_unique<dz::peer::TComputers>(settings_.get());
    ComputersView = new TComputersView(computers_.get(), GroupBox4);
    ComputersView->hide(); // its parts are placed one by one
    PeerBox->PlaceComputers(ComputersView->Button());
    // The line sits above the status bar, two lines high, and only while it
    // has something to say: then the lists below give up the room, and
    // nothing else moves.
    QLabel *line = ComputersView->StatusLine();
    line->setParent(this);
    line->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    line->setContentsMargins(4, 1, 4, 1);
    static_cast<TAlignLayout *>(layout())->add(line, TAlignLayout::Align::Bottom, 30);
    connect(ComputersView, &TComputersView::Activated, this, [this](const QString &name, const QString &address) {
        RunGuarded([&] { PeerBox->ConnectTo(name, address); });
    });
    if (!config_.discovery)
        return;
    discovery_ = std::make_unique<dz::desktop::TDiscovery>();
    connect(discovery_.get(), &dz::desktop::TDiscovery::Found, computers_.get(), &dz::peer::TComputers::Found);
    connect(discovery_.get(), &dz::desktop::TDiscovery::Lost, computers_.get(), &dz::peer::TComputers::Lost);
    connect(discovery_.get(), &dz::desktop::TDiscovery::StateChanged, computers_.get(),
            &dz::peer::TComputers::SetState);
    discovery_->Start();
}

void TForm1::PublishThisComputer(const std::string &name)
{
    if (!computers_)
        return;
    const QString shown = dz::ToQString(name);
    computers_->SetThisComputer(shown, dz::ToQString(dz::TrimText(TextOf(Edit_ThisComputerIP))));
    // A copy whose ports are not open cannot be reached: it stays unlisted.
    if (!discovery_ || !listenProblems_.isEmpty() || shown.isEmpty() || shown == published_)
        return;
    dz::desktop::TPublication publication;
    publication.name = shown;
    publication.port = NMMSGServ1->LocalPort();
    publication.streamPort = NMStrmServ1->LocalPort();
    discovery_->Publish(publication);
    published_ = shown;
}

void TForm1::Answered(const dz::peer::TEffect &e)
{
    // Only a connect the user made counts, once its peer answered it.
    if (auto made = std::exchange(connecting_, std::nullopt))
        computers_->Remember(made->first, made->second.isEmpty() ? dz::ToQString(e.value) : made->second);
}
