// The window shadow: the image it draws, and how its window follows the parent through showing,
// moving, resizing, hiding, minimising and deletion.

#include "ControlUtil.h"
#include "CWndShadow.h"
#include "ShadowRegistry.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>

namespace {

TEST(ShadowImageTest, BoxShadowFadesOutFromEveryStraightEdge)
{
    CWndShadow::Params params; // sharpness 5, darkness 150, black
    params.size = 4;
    params.xOffset = params.yOffset = 0;
    const QImage image = CWndShadow::BuildShadowImage(QRegion(0, 0, 40, 30), QSize(40, 30), params);
    ASSERT_EQ(image.size(), QSize(48, 38));
    // From the first pixel outside each edge outwards: visible, and lighter at every step.
    for (const auto& [x, y, dx, dy] : {std::array{3, 19, -1, 0}, {44, 19, 1, 0}, {24, 3, 0, -1}, {24, 34, 0, 1}}) {
        EXPECT_GT(qAlpha(image.pixel(x + 3 * dx, y + 3 * dy)), 0) << x << "," << y;
        for (int i = 1; i < 4; ++i)
            EXPECT_LT(qAlpha(image.pixel(x + i * dx, y + i * dy)), qAlpha(image.pixel(x + (i - 1) * dx, y + (i - 1) * dy)));
    }
    EXPECT_EQ(image.pixel(24, 19), 0u) << "the box itself is covered";
}

TEST(ShadowFollowTest, FollowsItsParentUntilTheParentGoes)
{
    ASSERT_TRUE(CWndShadow::ShadowsAvailable()) << "the offscreen platform shows translucent windows";
    QPointer<QWidget> parent = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
    parent->setGeometry(300, 200, 200, 120);
    parent->setMask(RoundedWindowRegion(parent->size(), 8));
    CWndShadow shadow;
    shadow.Attach(parent);
    shadow.SetShadowSize(4);
    shadow.SetShadowOffset(0, 0);
    const auto inPlace = [&] { // waits until the shadow stands 4 pixels around the parent
        return QTest::qWaitFor([&] {
            const QWidget* w = shadow.Window();
            return w && w->isVisible() && w->geometry() == parent->frameGeometry().adjusted(-4, -4, 4, 4);
        });
    };
    ASSERT_NE(shadow.Window(), nullptr);
    EXPECT_FALSE(shadow.Window()->isVisible()) << "shown before its parent";
    EXPECT_TRUE(shadow.Window()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    parent->show();
    ASSERT_TRUE(inPlace());
    parent->move(420, 260);
    EXPECT_TRUE(inPlace()) << "moved";
    parent->resize(260, 150);
    parent->setMask(RoundedWindowRegion(parent->size(), 8));
    EXPECT_TRUE(inPlace()) << "resized";
    EXPECT_EQ(shadow.Window()->Image(), CWndShadow::BuildShadowImage(parent->mask(), parent->size(), shadow.GetParams()));
    parent->hide();
    EXPECT_FALSE(shadow.Window()->isVisible()) << "hidden";
    parent->show();
    EXPECT_TRUE(inPlace()) << "shown again";
    parent->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shadow.Window()->isVisible(); })) << "minimised";
    parent->showNormal();
    EXPECT_TRUE(inPlace()) << "restored";

    const QObject* key = parent;
    delete parent.data();
    EXPECT_EQ(shadow.Window(), nullptr);
    EXPECT_EQ(ShadowRegistry::Instance().Find(key), nullptr);
}

} // namespace
