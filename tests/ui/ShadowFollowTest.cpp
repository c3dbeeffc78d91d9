// The shadow window follows its parent: showing, moving, resizing, hiding, minimising, deletion.

#include "ControlUtil.h"
#include "CWndShadow.h"
#include "ShadowRegistry.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// How long a test waits for the event loop to deliver something before it gives up.
constexpr int kDeliveryTimeoutMs = 5000;
constexpr int kRadius = 8;

class ShadowFollowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CWndShadow::ShadowsAvailable()) << "the offscreen platform shows translucent windows";
        parent_ = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
        parent_->setGeometry(300, 200, 200, 120);
        parent_->setMask(RoundedWindowRegion(parent_->size(), kRadius));
        shadow_.Attach(parent_);
        shadow_.SetShadowSize(4);
        shadow_.SetShadowOffset(0, 0);
    }
    void TearDown() override { delete parent_.data(); }

    // Waits until the shadow window stands where it belongs around the parent.
    bool ShadowInPlace() const
    {
        return QTest::qWaitFor(
            [&] {
                const QWidget* w = shadow_.Window();
                return w && w->isVisible() && w->geometry() == parent_->frameGeometry().adjusted(-4, -4, 4, 4);
            },
            kDeliveryTimeoutMs);
    }

    void Resize(int w, int h)
    {
        parent_->resize(w, h);
        parent_->setMask(RoundedWindowRegion(parent_->size(), kRadius));
    }

    QPointer<QWidget> parent_;
    CWndShadow shadow_;
};

TEST_F(ShadowFollowTest, AttachedToAHiddenParentWaitsForItToShow)
{
    EXPECT_EQ(shadow_.Status(), CWndShadow::kEnabled);
    EXPECT_EQ(ShadowRegistry::Instance().Find(parent_), &shadow_);
    ASSERT_NE(shadow_.Window(), nullptr);
    EXPECT_FALSE(shadow_.Window()->isVisible());
    EXPECT_TRUE(shadow_.Window()->windowFlags().testFlag(Qt::WindowTransparentForInput));

    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    EXPECT_EQ(shadow_.Status(), CWndShadow::kEnabled | CWndShadow::kShadowVisible | CWndShadow::kParentVisible);
    EXPECT_EQ(shadow_.Window()->Image(),
              CWndShadow::BuildShadowImage(parent_->mask(), parent_->size(), shadow_.GetParams()));
}

TEST_F(ShadowFollowTest, FollowsMovesAndSizeChanges)
{
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    parent_->move(420, 260);
    EXPECT_TRUE(ShadowInPlace()) << "moved";
    Resize(260, 150);
    EXPECT_TRUE(ShadowInPlace()) << "grown";
    EXPECT_EQ(shadow_.Window()->Image().size(), QSize(268, 158));
    Resize(180, 90);
    EXPECT_TRUE(ShadowInPlace()) << "shrunk";
    EXPECT_EQ(shadow_.Window()->Image(),
              CWndShadow::BuildShadowImage(parent_->mask(), parent_->size(), shadow_.GetParams()));
}

TEST_F(ShadowFollowTest, SetterRedrawsAVisibleShadowAtOnce)
{
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    ASSERT_TRUE(shadow_.SetShadowSize(10));
    EXPECT_EQ(shadow_.Window()->geometry(), parent_->frameGeometry().adjusted(-10, -10, 10, 10));
    EXPECT_FALSE(shadow_.SetShadowSize(21));
    EXPECT_EQ(shadow_.GetParams().size, 10);
}

TEST_F(ShadowFollowTest, HidesWithItsParentAndWhenMinimised)
{
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    parent_->hide();
    EXPECT_FALSE(shadow_.Window()->isVisible());
    EXPECT_EQ(shadow_.Status(), CWndShadow::kEnabled);
    parent_->show();
    EXPECT_TRUE(ShadowInPlace()) << "shown again";

    parent_->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shadow_.Window()->isVisible(); }, kDeliveryTimeoutMs));
    EXPECT_FALSE(shadow_.Status() & CWndShadow::kShadowVisible);
    parent_->showNormal();
    EXPECT_TRUE(ShadowInPlace()) << "restored";
    EXPECT_TRUE(shadow_.Status() & CWndShadow::kShadowVisible);
}

TEST_F(ShadowFollowTest, GoesAwayWithItsParent)
{
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    const QObject* key = parent_;
    delete parent_.data();
    EXPECT_EQ(shadow_.Window(), nullptr);
    EXPECT_EQ(ShadowRegistry::Instance().Find(key), nullptr);
    EXPECT_EQ(shadow_.Status(), 0);
}

TEST(ShadowDetachTest, DestroyedShadowLeavesItsParentAlone)
{
    QWidget parent(nullptr, Qt::Window | Qt::FramelessWindowHint);
    parent.setGeometry(100, 100, 150, 100);
    parent.show();
    QPointer<QWidget> shadowWindow;
    {
        CWndShadow shadow;
        shadow.Attach(&parent);
        shadowWindow = shadow.Window();
        ASSERT_FALSE(shadowWindow.isNull());
        EXPECT_EQ(ShadowRegistry::Instance().Find(&parent), &shadow);
    }
    EXPECT_TRUE(shadowWindow.isNull());
    EXPECT_EQ(ShadowRegistry::Instance().Find(&parent), nullptr);
    parent.move(130, 120); // no filter of a dead shadow runs
    parent.resize(160, 110);
}

} // namespace
