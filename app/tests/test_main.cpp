// Widget tests run on Qt's offscreen platform, also when started by hand,
// and in Russian, the design's texts they compare (the machines' own locale
// is not Russian); a test of another language installs it and puts Russian back.

#include "Language.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallLanguage(app, QStringLiteral("ru"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
