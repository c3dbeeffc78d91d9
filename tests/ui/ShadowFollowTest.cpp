// The window shadow: the image it draws, and how its window follows the parent through showing,
// moving, resizing, hiding, minimising and deletion.

#include "ControlUtil.h"
#include "CWndShadow.h"
#include "ShadowRegistry.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

// How long a test waits for the event loop to deliver something before it gives up.
constexpr int kDeliveryTimeoutMs = 5000;
constexpr int kRadius = 8;

TEST(ShadowImageTest, BoxShadowFadesOutFromEveryStraightEdge)
{
    CWndShadow::Params params; // sharpness 5, darkness 150, black
    params.size = 4;
    params.xOffset = params.yOffset = 0;
    const QImage image = CWndShadow::BuildShadowImage(QRegion(0, 0, 40, 30), QSize(40, 30), params);
    ASSERT_EQ(image.size(), QSize(48, 38));
    const struct {
        const char* edge;
        int x, y, dx, dy; // the first pixel outside the box, and the outward step
    } edges[] = {{"left", 3, 19, -1, 0}, {"right", 44, 19, 1, 0}, {"top", 24, 3, 0, -1}, {"bottom", 24, 34, 0, 1}};
    for (const auto& e : edges) {
        std::vector<int> alphas;
        for (int i = 0; i < 4; ++i)
            alphas.push_back(qAlpha(image.pixel(e.x + i * e.dx, e.y + i * e.dy)));
        EXPECT_EQ(alphas, (std::vector<int>{100, 75, 50, 25})) << e.edge;
    }
    EXPECT_EQ(image.pixel(24, 19), 0u) << "the box itself is covered";
}

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

    QPointer<QWidget> parent_;
    CWndShadow shadow_;
};

TEST_F(ShadowFollowTest, WaitsForItsParentThenFollowsMovesAndSizes)
{
    ASSERT_NE(shadow_.Window(), nullptr);
    EXPECT_FALSE(shadow_.Window()->isVisible()) << "shown before its parent";
    EXPECT_TRUE(shadow_.Window()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    parent_->move(420, 260);
    EXPECT_TRUE(ShadowInPlace()) << "moved";
    parent_->resize(260, 150);
    parent_->setMask(RoundedWindowRegion(parent_->size(), kRadius));
    EXPECT_TRUE(ShadowInPlace()) << "resized";
    EXPECT_EQ(shadow_.Window()->Image(),
              CWndShadow::BuildShadowImage(parent_->mask(), parent_->size(), shadow_.GetParams()));
    ASSERT_TRUE(shadow_.SetShadowSize(10));
    EXPECT_EQ(shadow_.Window()->geometry(), parent_->frameGeometry().adjusted(-10, -10, 10, 10)) << "not redrawn at once";
    EXPECT_FALSE(shadow_.SetShadowSize(21)) << "beyond the range";
}

TEST_F(ShadowFollowTest, HidesWithItsParentAndWhenMinimised)
{
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    parent_->hide();
    EXPECT_FALSE(shadow_.Window()->isVisible());
    parent_->show();
    EXPECT_TRUE(ShadowInPlace()) << "shown again";
    parent_->showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shadow_.Window()->isVisible(); }, kDeliveryTimeoutMs));
    parent_->showNormal();
    EXPECT_TRUE(ShadowInPlace()) << "restored";
}

TEST_F(ShadowFollowTest, GoesAwayWithItsParentAndLeavesAParentAloneWhenDestroyed)
{
    parent_->show();
    ASSERT_TRUE(ShadowInPlace());
    const QObject* key = parent_;
    delete parent_.data();
    EXPECT_EQ(shadow_.Window(), nullptr);
    EXPECT_EQ(ShadowRegistry::Instance().Find(key), nullptr);

    QWidget parent(nullptr, Qt::Window | Qt::FramelessWindowHint);
    parent.setGeometry(100, 100, 150, 100);
    parent.show();
    QPointer<QWidget> shadowWindow;
    {
        CWndShadow shadow;
        shadow.Attach(&parent);
        shadowWindow = shadow.Window();
        ASSERT_FALSE(shadowWindow.isNull());
    }
    EXPECT_TRUE(shadowWindow.isNull());
    EXPECT_EQ(ShadowRegistry::Instance().Find(&parent), nullptr);
    parent.resize(160, 110); // no filter of a dead shadow runs
}

} // namespace
