// The window shadow: how its window follows the parent through showing, moving, resizing, hiding,
// minimising and deletion (how it looks is not promised beyond its place).

#include "ControlUtil.h"
#include "CWndShadow.h"
#include "ShadowRegistry.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

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
