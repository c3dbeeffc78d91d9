// The skin folder and the resources named in "res.xml".

#include "LogCapture.h"
#include "SkinResources.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Restores the program's skin after a test that loads another.
class SkinResourcesTest : public testing::Test {
protected:
    void TearDown() override { LoadSkinResources(programSkin_); }

    const QString programSkin_ = FindSkinFolder();
};

TEST_F(SkinResourcesTest, ProgramSkinGivesStyleSheetChineseFontAndImages)
{
    ASSERT_TRUE(LoadSkinResources(programSkin_));
    EXPECT_EQ(SkinFolder(), programSkin_);
    EXPECT_TRUE(programSkin_.endsWith('/'));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_EQ(QApplication::font().family(), "Noto Sans CJK SC");
    const QFontMetrics metrics(QApplication::font());
    for (const QChar c : QString("TAMSU电脑录音软件确定要删除文件吗"))
        EXPECT_TRUE(metrics.inFontUcs4(c.unicode())) << "no glyph for U+" << std::hex << int(c.unicode());
    EXPECT_FALSE(SkinImage("close").isNull());
    for (const char* file : {"MessageBox.xml", "PromptBox.xml"})
        EXPECT_TRUE(QFile::exists(programSkin_ + file)) << file;
}

TEST_F(SkinResourcesTest, UnknownImageAndMissingFilesAreLogged)
{
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
    EXPECT_FALSE(LoadSkinResources(skin.path())) << "malformed";
    EXPECT_TRUE(log.HasLine({"res.xml", "line"})) << log.Text();
}

TEST_F(SkinResourcesTest, EnvironmentNamesTheSkinFolder)
{
    const QByteArray old = qgetenv("TAMSU_SKIN_DIR");
    qputenv("TAMSU_SKIN_DIR", "/some/skin");
    EXPECT_EQ(FindSkinFolder(), "/some/skin/");
    qputenv("TAMSU_SKIN_DIR", old);
}

} // namespace
