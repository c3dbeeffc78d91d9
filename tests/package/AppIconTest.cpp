// The application icon built into the program.

#include "AppIcon.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Without a theme that holds it (the installed theme's icon is the same picture): the built-in
// icon, in every size rendered.
TEST(AppIcon, BuiltInInEverySize)
{
    QTemporaryDir themes;
    ASSERT_TRUE(themes.isValid());
    QIcon::setThemeName(QStringLiteral("hicolor"));
    QIcon::setThemeSearchPaths({themes.path()});
    const QIcon builtIn = AppIcon();
    ASSERT_FALSE(builtIn.isNull());
    EXPECT_EQ(builtIn.availableSizes().size(), 8);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(builtIn.availableSizes().contains(QSize(size, size))) << size;
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
