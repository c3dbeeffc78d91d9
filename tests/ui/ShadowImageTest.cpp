// The shadow image computed from a window region, and the shadow's setters.

#include "ControlUtil.h"
#include "CWndShadow.h"

#include <QImage>
#include <QRegion>

#include <gtest/gtest.h>

#include <vector>

namespace {

int AlphaAt(const QImage& image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

// Alphas from (x, y) on, stepping by (dx, dy), count pixels.
std::vector<int> AlphasAlong(const QImage& image, int x, int y, int dx, int dy, int count)
{
    std::vector<int> alphas;
    for (int i = 0; i < count; ++i)
        alphas.push_back(AlphaAt(image, x + i * dx, y + i * dy));
    return alphas;
}

bool AllClear(const QImage& image, const QRect& area)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) != 0)
                return false;
    return true;
}

CWndShadow::Params BoxParams()
{
    CWndShadow::Params params; // sharpness 5, darkness 150, black
    params.size = 4;
    params.xOffset = 0;
    params.yOffset = 0;
    return params;
}

constexpr int kWidth = 40;
constexpr int kHeight = 30;

TEST(ShadowImageTest, BoxShadowFadesOutFromEveryStraightEdge)
{
    const QImage image = CWndShadow::BuildShadowImage(QRegion(0, 0, kWidth, kHeight), QSize(kWidth, kHeight), BoxParams());
    ASSERT_EQ(image.size(), QSize(kWidth + 8, kHeight + 8));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(AllClear(image, QRect(4, 4, kWidth, kHeight))) << "the box itself stays uncovered";

    const std::vector<int> outwards{100, 75, 50, 25};
    const struct {
        const char* edge;
        int x, y, dx, dy; // the first pixel outside the box, and the outward step
    } edges[] = {
        {"left", 3, 4 + kHeight / 2, -1, 0},
        {"right", 4 + kWidth, 4 + kHeight / 2, 1, 0},
        {"top", 4 + kWidth / 2, 3, 0, -1},
        {"bottom", 4 + kWidth / 2, 4 + kHeight, 0, 1},
    };
    for (const auto& e : edges) {
        SCOPED_TRACE(e.edge);
        EXPECT_EQ(AlphasAlong(image, e.x, e.y, e.dx, e.dy, 4), outwards);
    }
}

TEST(ShadowImageTest, SizeBeyondSharpnessGivesASolidBandBeforeTheFade)
{
    CWndShadow::Params params = BoxParams();
    params.size = 10; // kernel radius 10 with a solid centre of radius 5
    const QImage image = CWndShadow::BuildShadowImage(QRegion(0, 0, kWidth, kHeight), QSize(kWidth, kHeight), params);
    ASSERT_EQ(image.size(), QSize(kWidth + 20, kHeight + 20));
    EXPECT_TRUE(AllClear(image, QRect(10, 10, kWidth, kHeight)));
    const std::vector<int> outwards{150, 150, 150, 150, 150, 125, 100, 75, 50, 25};
    EXPECT_EQ(AlphasAlong(image, 9, 10 + kHeight / 2, -1, 0, 10), outwards) << "left";
    EXPECT_EQ(AlphasAlong(image, 10 + kWidth / 2, 10 + kHeight, 0, 1, 10), outwards) << "bottom";
}

TEST(ShadowImageTest, OffsetShadowShowsBelowAndRightOfTheParent)
{
    const CWndShadow::Params params; // size 0, offset (5, 5)
    const QImage image = CWndShadow::BuildShadowImage(QRegion(0, 0, 60, 40), QSize(60, 40), params);
    ASSERT_EQ(image.size(), QSize(60, 40));
    // The image stands 5 pixels right of and below the parent, which covers its first 55 × 35.
    EXPECT_TRUE(AllClear(image, QRect(0, 0, 55, 35)));
    const std::vector<int> outwards{125, 100, 75, 50, 25};
    EXPECT_EQ(AlphasAlong(image, 55, 20, 1, 0, 5), outwards) << "right";
    EXPECT_EQ(AlphasAlong(image, 30, 35, 0, 1, 5), outwards) << "bottom";
}

TEST(ShadowImageTest, PixelsArePremultipliedShadowColour)
{
    CWndShadow::Params params = BoxParams();
    params.colour = QColor(0x9E, 0x9D, 0x9D);
    const QImage image = CWndShadow::BuildShadowImage(QRegion(0, 0, kWidth, kHeight), QSize(kWidth, kHeight), params);
    // Alpha 100: red 0x9E·100/255 = 61, green and blue 0x9D·100/255 = 61 (integer division).
    const QRgb pixel = image.pixel(3, 4 + kHeight / 2);
    EXPECT_EQ(qAlpha(pixel), 100);
    EXPECT_EQ(qRed(pixel), 61);
    EXPECT_EQ(qGreen(pixel), 61);
    EXPECT_EQ(qBlue(pixel), 61);
    const QRgb faint = image.pixel(0, 4 + kHeight / 2); // alpha 25: 0x9E·25/255 = 15
    EXPECT_EQ(qAlpha(faint), 25);
    EXPECT_EQ(qRed(faint), 15);
}

TEST(ShadowImageTest, ParentWithoutRegionCastsNoShadow)
{
    const QImage image = CWndShadow::BuildShadowImage(QRegion(), QSize(kWidth, kHeight), BoxParams());
    ASSERT_EQ(image.size(), QSize(kWidth + 8, kHeight + 8));
    EXPECT_TRUE(AllClear(image, image.rect()));
}

TEST(ShadowImageTest, RoundedParentCastsARoundedSymmetricShadow)
{
    const QSize size(60, 40);
    const QImage image = CWndShadow::BuildShadowImage(RoundedWindowRegion(size, 8), size, BoxParams());
    ASSERT_EQ(image.size(), QSize(68, 48));
    EXPECT_GT(AlphaAt(image, 4, 4), 0) << "the cut-off corner of the parent is in shadow";
    EXPECT_EQ(AlphaAt(image, 4 + 30, 4 + 20), 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(image.pixel(x, y), image.pixel(image.width() - 1 - x, y)) << x << "," << y;
            ASSERT_EQ(image.pixel(x, y), image.pixel(x, image.height() - 1 - y)) << x << "," << y;
        }
    }
}

TEST(ShadowImageTest, DegenerateSizesGiveANullImage)
{
    CWndShadow::Params params = BoxParams();
    EXPECT_TRUE(CWndShadow::BuildShadowImage(QRegion(0, 0, 10, 10), QSize(0, 10), params).isNull());
    params.size = -6; // 10 + 2·(−6) < 0
    EXPECT_TRUE(CWndShadow::BuildShadowImage(QRegion(0, 0, 10, 10), QSize(10, 10), params).isNull());
    params.size = -3; // 4 × 4, accepted
    EXPECT_EQ(CWndShadow::BuildShadowImage(QRegion(0, 0, 10, 10), QSize(10, 10), params).size(), QSize(4, 4));
}

TEST(ShadowSettersTest, ValuesOutsideMinus20To20AreRefused)
{
    CWndShadow shadow;
    EXPECT_EQ(shadow.GetParams().size, 0);
    EXPECT_EQ(shadow.GetParams().xOffset, 5);
    EXPECT_EQ(shadow.GetParams().yOffset, 5);
    EXPECT_EQ(shadow.GetParams().sharpness, 5);
    EXPECT_EQ(shadow.GetParams().darkness, 150);
    EXPECT_EQ(shadow.GetParams().colour, QColor(Qt::black));

    ASSERT_TRUE(shadow.SetShadowSize(4));
    const struct {
        int value;
        bool accepted;
    } sizes[] = {{21, false}, {-21, false}, {20, true}, {-20, true}, {4, true}};
    for (const auto& c : sizes) {
        const int before = shadow.GetParams().size;
        EXPECT_EQ(shadow.SetShadowSize(c.value), c.accepted) << c.value;
        EXPECT_EQ(shadow.GetParams().size, c.accepted ? c.value : before) << c.value;
    }

    const struct {
        int x, y;
        bool accepted;
    } offsets[] = {{21, 0, false}, {0, -21, false}, {20, -20, true}, {0, 0, true}};
    for (const auto& c : offsets) {
        const CWndShadow::Params before = shadow.GetParams();
        EXPECT_EQ(shadow.SetShadowOffset(c.x, c.y), c.accepted) << c.x << "," << c.y;
        EXPECT_EQ(shadow.GetParams().xOffset, c.accepted ? c.x : before.xOffset);
        EXPECT_EQ(shadow.GetParams().yOffset, c.accepted ? c.y : before.yOffset);
    }
    EXPECT_TRUE(shadow.SetShadowColor(QColor(0x9E, 0x9D, 0x9D)));
    EXPECT_EQ(shadow.GetParams().colour, QColor(0x9E, 0x9D, 0x9D));
    shadow.Attach(nullptr); // nothing to shadow: no effect
    EXPECT_EQ(shadow.Status(), 0);
}

} // namespace
