#include "peer/computers.h"

#include "util/settings.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using dz::peer::TComputer;
using dz::peer::TComputers;
using dz::peer::TDiscoveryState;
using dz::peer::TFoundService;

TFoundService Service(const QString &key, const QByteArray &name, const QByteArray &address)
{
    return {key, name, {"name=" + name, "proto=1", "stream=573"}, address, false};
}

TEST(Computers, HostileOrMalformedServicesAreCleanedOrDropped)
{
    const QByteArray longName(64, 'a');
    struct Case {
        const char *what;
        QByteArray instance;
        QList<QByteArray> txt;
        QByteArray address;
        const char *shown; // nullptr: dropped
    };
    const Case cases[] = {
        {"plain", "alpha", {"name=alpha"}, "10.0.0.5", "alpha"},
        {"renamed instance, TXT name shown", "alpha #2", {"name=alpha"}, "10.0.0.5", "alpha"},
        {"no TXT name: the instance", "beta", {"proto=1"}, "10.0.0.5", "beta"},
        {"bare attribute is no name", "beta", {"name"}, "10.0.0.5", "beta"},
        {"first of two names counts, key without case", "x", {"NAME=first", "name=second"}, "10.0.0.5", "first"},
        {"blanks trimmed", "x", {"name=  gamma \t"}, "10.0.0.5", "gamma"},
        {"Cyrillic", "x", {"name=\xd0\xb1\xd0\xb5\xd1\x82\xd0\xb0"}, "10.0.0.5", "\xd0\xb1\xd0\xb5\xd1\x82\xd0\xb0"},
        {"63 characters fit", "x", {"name=" + longName.left(63)}, "10.0.0.5", nullptr /* checked below */},
        {"64 characters do not", "x", {"name=" + longName}, "10.0.0.5", nullptr},
        {"control character", "x", {QByteArray("name=al\0pha", 10)}, "10.0.0.5", nullptr},
        {"line break", "x", {"name=alpha\nbeta"}, "10.0.0.5", nullptr},
        {"right-to-left override", "x", {"name=\xe2\x80\xae" "ahpla"}, "10.0.0.5", nullptr},
        {"bad UTF-8", "x", {"name=al\xffpha"}, "10.0.0.5", nullptr},
        {"empty name", "", {"name="}, "10.0.0.5", nullptr},
        {"loopback address", "x", {"name=alpha"}, "127.0.0.1", nullptr},
        {"multicast address", "x", {"name=alpha"}, "224.0.0.251", nullptr},
        {"broadcast address", "x", {"name=alpha"}, "255.255.255.255", nullptr},
        {"no address", "x", {"name=alpha"}, "", nullptr},
        {"IPv6 address", "x", {"name=alpha"}, "fe80::1", nullptr},
        {"address with junk", "x", {"name=alpha"}, "10.0.0.5 x", nullptr},
    };
    for (const Case &c : cases) {
        const auto clean = dz::peer::CleanService({QStringLiteral("k"), c.instance, c.txt, c.address, false});
        const bool fits63 = QByteArray(c.what).startsWith("63");
        if (c.shown || fits63) {
            ASSERT_TRUE(clean) << c.what;
            EXPECT_EQ(clean->name, fits63 ? QString::fromLatin1(longName.left(63)) : QString::fromUtf8(c.shown)) << c.what;
            EXPECT_EQ(clean->address, QStringLiteral("10.0.0.5")) << c.what;
        } else {
            EXPECT_FALSE(clean) << c.what;
        }
    }
}

TEST(Computers, ListsFoundByNameMarksDuplicatesAndLeavesThisCopyOut)
{
    TComputers model(nullptr);
    model.SetThisComputer(QStringLiteral("self"), QStringLiteral("10.0.0.1"));
    model.Found(Service(QStringLiteral("1"), "beta", "10.0.0.3"));
    model.Found(Service(QStringLiteral("2"), "alpha", "10.0.0.2"));
    model.Found(Service(QStringLiteral("3"), "ALPHA", "10.0.0.9"));
    TFoundService own = Service(QStringLiteral("4"), "self-renamed", "10.0.0.1");
    own.ourOwn = true;
    model.Found(own);
    model.Found(Service(QStringLiteral("5"), "self", "10.0.0.1"));
    model.Found(Service(QStringLiteral("6"), "beta", "10.0.0.3")); // a second instance, one computer
    const std::vector<TComputer> expected {
        {QStringLiteral("alpha"), QStringLiteral("10.0.0.2"), true, false, true},
        {QStringLiteral("ALPHA"), QStringLiteral("10.0.0.9"), true, false, true},
        {QStringLiteral("beta"), QStringLiteral("10.0.0.3"), true, false, false},
    };
    EXPECT_EQ(model.Computers(), expected);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(2), Qt::DisplayRole).toString(), QStringLiteral("beta (10.0.0.3)"));

    // A re-resolution moves a row; a withdrawal ends the duplicate; an
    // update that turns hostile removes the row.
    model.Found(Service(QStringLiteral("1"), "beta", "10.0.0.4"));
    model.Lost(QStringLiteral("3"));
    model.Lost(QStringLiteral("6"));
    model.Found({QStringLiteral("2"), "alpha", {"name=al\x01pha"}, "10.0.0.2", false});
    ASSERT_EQ(model.Computers().size(), 1u);
    EXPECT_EQ(model.Computers()[0], (TComputer{QStringLiteral("beta"), QStringLiteral("10.0.0.4"), true, false, false}));
}

TEST(Computers, FoundListIsCappedAndFreedSlotsTakeNewcomers)
{
    TComputers model(nullptr);
    for (int i = 0; i < TComputers::kMaxFound + 5; ++i)
        model.Found(Service(QString::number(i), "host" + QByteArray::number(i), "10.0.1." + QByteArray::number(i + 1)));
    EXPECT_EQ(model.rowCount(), TComputers::kMaxFound);
    model.Found(Service(QStringLiteral("0"), "host0", "10.0.1.200")); // an update still counts
    EXPECT_EQ(model.rowCount(), TComputers::kMaxFound);
    model.Lost(QStringLiteral("1"));
    model.Found(Service(QStringLiteral("new"), "newcomer", "10.0.2.1"));
    EXPECT_EQ(model.rowCount(), TComputers::kMaxFound);
    EXPECT_TRUE(std::any_of(model.Computers().begin(), model.Computers().end(),
                            [](const TComputer &c) { return c.name == QStringLiteral("newcomer"); }));
}

TEST(Computers, RememberedComputersAreKeptNewestFirstAndMergedWithFoundOnes)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/s.json";
    {
        dz::TSettingsStore store(path);
        TComputers model(&store);
        for (int i = 0; i < TComputers::kMaxRemembered + 2; ++i)
            model.Remember(QStringLiteral("pc%1").arg(i), QStringLiteral("10.0.3.%1").arg(i + 1));
        model.Remember(QStringLiteral("PC5"), QStringLiteral("not an address")); // moves pc5 up, renamed, keeps its address
        model.Remember(QStringLiteral("bad\x01name"), QString());
    }
    dz::TSettingsStore store(path);
    TComputers model(&store);
    ASSERT_EQ(model.Computers().size(), static_cast<std::size_t>(TComputers::kMaxRemembered));
    EXPECT_EQ(model.Computers()[0], (TComputer{QStringLiteral("PC5"), QStringLiteral("10.0.3.6"), false, true, false}));
    EXPECT_EQ(model.Computers()[1].name, QStringLiteral("pc11"));
    EXPECT_EQ(model.Computers()[9].name, QStringLiteral("pc2"));

    // Seen by discovery: one row, the resolved address, both marks; gone
    // again: back to "not seen now" with the remembered address.
    model.Found(Service(QStringLiteral("k"), "pc11", "10.0.9.9"));
    EXPECT_EQ(model.Computers()[0], (TComputer{QStringLiteral("pc11"), QStringLiteral("10.0.9.9"), true, true, false}));
    EXPECT_EQ(model.Computers().size(), static_cast<std::size_t>(TComputers::kMaxRemembered));
    model.Lost(QStringLiteral("k"));
    EXPECT_EQ(model.Computers()[1], (TComputer{QStringLiteral("pc11"), QStringLiteral("10.0.3.12"), false, true, false}));
}

TEST(Computers, DamagedRememberedValuesAreSkipped)
{
    dz::TSettingsStore store;
    store.SetValue(QString::fromLatin1(dz::peer::kRememberedKey),
                   QJsonArray{QStringLiteral("just text"), 5,
                              QJsonObject{{QStringLiteral("name"), QStringLiteral("ok")}, {QStringLiteral("address"), 7}},
                              QJsonObject{{QStringLiteral("name"), QStringLiteral("OK")}},
                              QJsonObject{{QStringLiteral("address"), QStringLiteral("10.0.0.1")}},
                              QJsonObject{{QStringLiteral("name"), QStringLiteral("second")},
                                          {QStringLiteral("address"), QStringLiteral("10.0.0.2")}}});
    TComputers model(&store);
    const std::vector<TComputer> expected {{QStringLiteral("ok"), QString(), false, true, false},
                                           {QStringLiteral("second"), QStringLiteral("10.0.0.2"), false, true, false}};
    EXPECT_EQ(model.Computers(), expected);
    dz::TSettingsStore wrongShape;
    wrongShape.SetValue(QString::fromLatin1(dz::peer::kRememberedKey), QStringLiteral("x"));
    EXPECT_EQ(TComputers(&wrongShape).rowCount(), 0);
}

TEST(Computers, StateForgetsFoundComputersWhenDiscoveryStopsAndSaysWhenItIsBack)
{
    TComputers model(nullptr);
    std::vector<TDiscoveryState> told;
    QObject::connect(&model, &TComputers::StateChanged, [&](TDiscoveryState s) { told.push_back(s); });
    model.SetState(TDiscoveryState::Running);
    model.Found(Service(QStringLiteral("k"), "alpha", "10.0.0.2"));
    model.SetState(TDiscoveryState::Stopped);
    EXPECT_EQ(model.rowCount(), 0);
    model.SetState(TDiscoveryState::NoDaemon);
    model.SetState(TDiscoveryState::Running);
    model.SetState(TDiscoveryState::Running);
    const std::vector<TDiscoveryState> expected {TDiscoveryState::Running, TDiscoveryState::Stopped, TDiscoveryState::NoDaemon,
                                                 TDiscoveryState::Resumed};
    EXPECT_EQ(told, expected);
}

} // namespace
