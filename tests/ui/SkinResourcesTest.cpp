// The skin's resources ("res.xml"): the program's own skin, and the errors of a broken one.

#include "LogCapture.h"
#include "SkinResources.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SkinResourcesTest, ProgramSkinGivesStyleSheetTheChineseFontAndImages)
{
    ASSERT_TRUE(LoadSkinResources(FindSkinFolder()));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_EQ(QApplication::font().family(), "Noto Sans CJK SC");
    EXPECT_FALSE(SkinImage("close").isNull());
}

TEST(SkinResourcesTest, MissingFilesUnknownImagesAndMalformedXmlAreLogged)
{
    struct RestoreSkin {
        ~RestoreSkin() { LoadSkinResources(FindSkinFolder()); } // the program's skin for the next tests
    } restore;
    QTemporaryDir skin;
    ASSERT_TRUE(skin.isValid());
    QFile res(skin.path() + "/res.xml");
    ASSERT_TRUE(res.open(QIODevice::WriteOnly));
    res.write("<Resources><StyleSheet file=\"gone.qss\"/><Image name=\"logo\" file=\"logo.png\"/></Resources>");
    res.close();

    LogCapture log;
    EXPECT_FALSE(LoadSkinResources(skin.path()));
    EXPECT_TRUE(log.HasLine({"gone.qss"})) << log.Text();
    EXPECT_TRUE(log.HasLine({"logo.png"})) << log.Text();
    EXPECT_TRUE(SkinImage("nothing-of-that-name").isNull());
    EXPECT_TRUE(log.HasLine({"nothing-of-that-name"})) << log.Text();

    ASSERT_TRUE(res.open(QIODevice::WriteOnly | QIODevice::Truncate));
    res.write("<Resources><StyleSheet file=");
    res.close();
    EXPECT_FALSE(LoadSkinResources(skin.path()));
    EXPECT_TRUE(log.HasLine({"res.xml", "line"})) << log.Text();
}

} // namespace
