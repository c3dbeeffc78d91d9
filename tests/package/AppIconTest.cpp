// The application icon: the icon theme's by the application id first, else the one built into the
// program in every size it was rendered in.

#include "AppIcon.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(AppIcon, ThemeIconFirstElseBuiltIn)
{
    QTemporaryDir themes;
    ASSERT_TRUE(themes.isValid());
    QIcon::setThemeName(QStringLiteral("hicolor"));
    QIcon::setThemeSearchPaths({themes.path()});

    // No theme holds it: the built-in icon, every size.
    const QIcon builtIn = AppIcon();
    ASSERT_FALSE(builtIn.isNull());
    EXPECT_EQ(builtIn.availableSizes().size(), 8);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(builtIn.availableSizes().contains(QSize(size, size))) << size;
    EXPECT_NE(builtIn.pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));

    // An installed (or user's) theme icon wins.
    const QString theme = themes.path() + "/hicolor";
    ASSERT_TRUE(QDir().mkpath(theme + "/16x16/apps"));
    QFile index(theme + "/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=16x16/apps\n\n[16x16/apps]\nSize=16\nType=Fixed\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(theme + "/16x16/apps/" + kAppId + ".png"));
    QIcon::setThemeSearchPaths({themes.path()}); // forgets what it looked up before
    EXPECT_EQ(AppIcon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
