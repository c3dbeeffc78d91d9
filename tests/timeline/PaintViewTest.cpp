// The timeline control: its labels, the time it reports for a click or a drag, and what it does
// with a duration of 0, widths under its margins and times that are not numbers.

#include "CPaintViewUI.h"
#include "SkinLoader.h"
#include "WindowImplBase.h"

#include <QApplication>
#include <QMouseEvent>

#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Keeps what the control posts, time parameters decoded.
class Owner : public WindowImplBase {
public:
    QString GetWindowClassName() const override { return QStringLiteral("Owner"); }
    QString GetSkinFile() override { return {}; }
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) override
    {
        received.emplace_back(msg, wParam);
        handled = true;
        return 0;
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> Take()
    {
        QCoreApplication::sendPostedEvents(this);
        return std::exchange(received, {});
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> received;
};

class PaintViewTest : public testing::Test {
protected:
    // A 440 px wide control: the timeline runs from x 20 to 420 (400 px), the baseline is at y 150.
    void SetUp() override { view.resize(440, 180); }

    void Mouse(QEvent::Type type, QPoint pos)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, pos, view.mapToGlobal(pos), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
    }
    // Presses on the start handle's circle and drags it to x.
    void DragStartHandleTo(int x)
    {
        Mouse(QEvent::MouseButtonPress, {20, 36});
        Mouse(QEvent::MouseMove, {21, 36});
        Mouse(QEvent::MouseMove, {x, 36});
        Mouse(QEvent::MouseButtonRelease, {x, 36});
    }

    Owner owner;
    CPaintViewUI view{&owner};
};

TEST(PaintViewFormat, LabelsOfClampedTimes)
{
    const std::pair<double, const char*> cases[] = {
        {3725.5, "01:02:05.50"}, {0, "00:00:00.00"},     {1.29, "00:00:01.29"},
        {59.999, "00:00:59.99"}, {-5, "00:00:00.00"},    {kNaN, "00:00:00.00"},
        {kInf, "99:59:59.99"},   {-kInf, "00:00:00.00"}, {1e300, "99:59:59.99"},
    };
    for (const auto& [seconds, label] : cases)
        EXPECT_EQ(CPaintViewUI::FormatTime(seconds), QString::fromLatin1(label)) << seconds;
    EXPECT_EQ(CPaintViewUI::ParamTime(CPaintViewUI::TimeParam(3725.5)), 3725.5);
}

TEST_F(PaintViewTest, CreatedFromSkinByClassAndInterfaceName)
{
    QWidget* root = SkinLoader::LoadSkinWidget(
        QStringLiteral("TimelineDemo.xml"), nullptr,
        [this](const QString& cls, QWidget* parent, const QString&) { return CreatePaintView(cls, parent, &owner); },
        QStringLiteral(TIMELINE_SKIN_DIR));
    ASSERT_NE(root, nullptr);
    std::unique_ptr<QWidget> keep(root);
    auto* timeline = root->findChild<CPaintViewUI*>(QStringLiteral("timeline"));
    ASSERT_NE(timeline, nullptr);
    EXPECT_EQ(timeline->GetClass(), QStringLiteral("PaintView"));
    EXPECT_EQ(timeline->GetInterface(QStringLiteral("Paint-View")), timeline);
    EXPECT_EQ(timeline->GetInterface(QStringLiteral("Control")), nullptr);
}

TEST_F(PaintViewTest, ClickOnBaselineBandReportsItsTime)
{
    view.SetDuration(400);
    Mouse(QEvent::MouseButtonPress, {120, 139}); // 11 px above the baseline
    Mouse(QEvent::MouseButtonRelease, {120, 139});
    EXPECT_TRUE(owner.Take().empty());
    Mouse(QEvent::MouseButtonPress, {120, 141}); // 9 px above
    const auto posted = owner.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].first, CPaintViewUI::kMsgTimeClicked);
    EXPECT_DOUBLE_EQ(CPaintViewUI::ParamTime(posted[0].second), 100.0);
    EXPECT_DOUBLE_EQ(view.ClickedTime(), 100.0);
}

TEST_F(PaintViewTest, StartHandleStopsAtEndHandle)
{
    view.SetDuration(400);
    view.SetSelection(0, 300); // the end handle at x 320
    DragStartHandleTo(500);
    const auto posted = owner.Take();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].first, CPaintViewUI::kMsgStartDragBegin);
    EXPECT_EQ(posted[1].first, CPaintViewUI::kMsgStartTimeChanged);
    EXPECT_DOUBLE_EQ(CPaintViewUI::ParamTime(posted[1].second), 300.0);
    EXPECT_EQ(posted[2].first, CPaintViewUI::kMsgStartDragEnd);

    // It is picked up where it stopped (over the end handle) and goes back.
    DragStartHandleTo(120);
    EXPECT_TRUE(owner.Take().empty()) << "nothing is left to drag at the start";
    Mouse(QEvent::MouseButtonPress, {320, 36});
    Mouse(QEvent::MouseMove, {320, 37});
    Mouse(QEvent::MouseMove, {120, 37});
    Mouse(QEvent::MouseButtonRelease, {120, 37});
    EXPECT_DOUBLE_EQ(view.SelectionStart(), 100.0);
    EXPECT_DOUBLE_EQ(view.SelectionEnd(), 300.0);
}

TEST_F(PaintViewTest, ZeroDurationNarrowAndNonFiniteComputeNoTime)
{
    // Duration 0: a click means time 0, a drag moves the handle but sets no selection time.
    view.SetPosition(5);
    Mouse(QEvent::MouseButtonPress, {200, 150});
    DragStartHandleTo(200);
    auto posted = owner.Take();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(CPaintViewUI::ParamTime(posted[0].second), 0.0);
    EXPECT_EQ(posted[1].first, CPaintViewUI::kMsgStartDragBegin);
    EXPECT_EQ(posted[2].first, CPaintViewUI::kMsgStartDragEnd);
    EXPECT_EQ(view.SelectionStart(), 0.0);
    EXPECT_FALSE(view.grab().isNull());

    // Times that are no numbers are clamped before use.
    view.SetDuration(kNaN);
    EXPECT_EQ(view.Duration(), 0.0);
    view.SetDuration(kInf);
    view.SetPosition(-kInf);
    view.SetSelection(kInf, kNaN);
    view.SetWaveform({std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()});
    EXPECT_EQ(view.Duration(), CPaintViewUI::kMaxTime);
    EXPECT_EQ(view.SelectionStart(), CPaintViewUI::kMaxTime);
    EXPECT_EQ(view.SelectionEnd(), 0.0);
    EXPECT_FALSE(view.grab().isNull());

    // Widths up to the two margins have no timeline: nothing is clicked or dragged there.
    for (int width : {0, 1, 39, 40}) {
        view.resize(width, 180);
        view.grab();
        Mouse(QEvent::MouseButtonPress, {width / 2, 150});
        DragStartHandleTo(width / 2);
        EXPECT_TRUE(owner.Take().empty()) << width;
    }
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
