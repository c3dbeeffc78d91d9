// The skin's resources ("res.xml"): the program's own skin, and broken ones that are refused.

#include "SkinResources.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SkinResourcesTest, BrokenSkinsAreRefusedTheProgramSkinGivesStyleSheetAndImages)
{
    QTemporaryDir skin;
    ASSERT_TRUE(skin.isValid());
    for (const char* res : {"<Resources><StyleSheet file=\"gone.qss\"/><Image name=\"logo\" file=\"logo.png\"/></Resources>",
                            "<Resources><StyleSheet file="}) {
        QFile file(skin.path() + "/res.xml");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(res);
        file.close();
        EXPECT_FALSE(LoadSkinResources(skin.path())) << res;
    }
    EXPECT_TRUE(SkinImage("logo").isNull());

    // (Loaded last: the next tests use the program's skin.)
    ASSERT_TRUE(LoadSkinResources(FindSkinFolder()));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_FALSE(SkinImage("close").isNull());
    EXPECT_TRUE(SkinImage("nothing-of-that-name").isNull());
}

} // namespace
