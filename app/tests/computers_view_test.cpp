#include "ComputersView.h"

#include <QAction>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using dz::peer::TDiscoveryState;

dz::peer::TFoundService Service(const QString &key, const QByteArray &name, const QByteArray &address)
{
    return {key, name, {"name=" + name}, address, false};
}

QStringList MenuTexts(const TComputersView &view)
{
    QStringList texts;
    for (const QAction *a : view.Menu()->actions())
        texts << a->text();
    return texts;
}

TEST(ComputersView, MenuFollowsTheModelAndAChoiceGivesNameAndAddress)
{
    dz::peer::TComputers model(nullptr);
    TComputersView view(&model);
    EXPECT_EQ(MenuTexts(view), QStringList{QStringLiteral("Компьютеры не найдены")});
    EXPECT_FALSE(view.Menu()->actions().front()->isEnabled());
    EXPECT_FALSE(view.Button()->accessibleName().isEmpty());

    model.Remember(QStringLiteral("old&pc"), QStringLiteral("10.0.0.7"));
    model.Found(Service(QStringLiteral("1"), "beta", "10.0.0.3"));
    model.Found(Service(QStringLiteral("2"), "beta", "10.0.0.4"));
    const QStringList expected {QStringLiteral("beta — 10.0.0.3 (это имя у нескольких)"),
                                QStringLiteral("beta — 10.0.0.4 (это имя у нескольких)"),
                                QStringLiteral("old&&pc — 10.0.0.7 (сейчас не виден)")};
    EXPECT_EQ(MenuTexts(view), expected);

    QSignalSpy activated(&view, &TComputersView::Activated);
    view.Menu()->actions()[1]->trigger();
    view.Menu()->actions()[2]->trigger();
    ASSERT_EQ(activated.size(), 2);
    EXPECT_EQ(activated[0], (QVariantList{QStringLiteral("beta"), QStringLiteral("10.0.0.4")}));
    EXPECT_EQ(activated[1], (QVariantList{QStringLiteral("old&pc"), QStringLiteral("10.0.0.7")}));
}

TEST(ComputersView, OneLineSaysWhyNothingIsFoundAndWhenItIsBack)
{
    dz::peer::TComputers model(nullptr);
    model.SetState(TDiscoveryState::NoDaemon); // before the view: shown at once
    TComputersView view(&model);
    view.show();
    EXPECT_TRUE(view.StatusLine()->isVisible());
    EXPECT_TRUE(view.StatusLine()->text().contains(QStringLiteral("avahi-daemon")));
    model.SetState(TDiscoveryState::Running);
    EXPECT_TRUE(view.StatusLine()->text().contains(QStringLiteral("снова")));
    model.SetState(TDiscoveryState::Stopped);
    EXPECT_TRUE(view.StatusLine()->text().contains(QStringLiteral("остановилась")));

    dz::peer::TComputers fresh(nullptr);
    TComputersView quiet(&fresh);
    quiet.show();
    fresh.SetState(TDiscoveryState::Running);
    EXPECT_FALSE(quiet.StatusLine()->isVisible());
}

} // namespace
