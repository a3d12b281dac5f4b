#include "util/settings.h"

#include "util/files.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(SettingsStore, KeepsValuesAcrossInstancesAndRemovesKeys)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/" + dz::TSettingsStore::kFileName;
    {
        dz::TSettingsStore store(path);
        EXPECT_TRUE(store.Value(QStringLiteral("window.size")).isUndefined());
        EXPECT_TRUE(store.Put(QStringLiteral("window.size"), QJsonArray{500, 600}));
        EXPECT_TRUE(store.Put(QStringLiteral("language"), QStringLiteral("en")));
        store.SetValue(QStringLiteral("language"), QJsonValue(QJsonValue::Undefined));
        EXPECT_TRUE(store.Save());
    }
    dz::TSettingsStore again(path);
    EXPECT_FALSE(again.Damaged());
    EXPECT_EQ(again.Value(QStringLiteral("window.size")), QJsonValue(QJsonArray{500, 600}));
    EXPECT_TRUE(again.Value(QStringLiteral("language")).isUndefined());
}

TEST(SettingsStore, DamagedFileIsSetAsideAndStoreStartsEmpty)
{
    for (const std::string bytes : {"{\"a\": 1", "[1, 2]", "\xff\xfe garbage"}) {
        QTemporaryDir dir;
        const std::string path = dir.path().toStdString() + "/s.json";
        dz::WriteFileAtomic(path, bytes);
        dz::TSettingsStore store(path);
        EXPECT_TRUE(store.Damaged()) << bytes;
        EXPECT_TRUE(store.Value(QStringLiteral("a")).isUndefined());
        EXPECT_TRUE(dz::FileExists(path + ".damaged"));
        EXPECT_EQ(dz::ReadFileBytes(path + ".damaged"), bytes);
        EXPECT_TRUE(store.Put(QStringLiteral("a"), 2));
        EXPECT_FALSE(dz::TSettingsStore(path).Damaged());
    }
}

TEST(SettingsStore, UnwritableFolderKeepsValuesInMemoryAndSaysSo)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/ro";
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    dz::TSettingsStore store(folder + "/s.json");
    const bool root = ::geteuid() == 0; // root writes anywhere
    EXPECT_EQ(store.Put(QStringLiteral("k"), 1), root);
    EXPECT_EQ(store.Value(QStringLiteral("k")), QJsonValue(1));
}

} // namespace
