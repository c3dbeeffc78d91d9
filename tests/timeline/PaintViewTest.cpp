// The timeline control (no window of the program shows it yet): one smoke test.

#include "CPaintViewUI.h"
#include "WindowImplBase.h"

#include <QApplication>
#include <QMouseEvent>

#include <cmath>
#include <limits>
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

// One pass over what the control promises: its label, the click band, a handle that stops at the
// other, and times that are no numbers painted without harm.
TEST_F(PaintViewTest, SmokeLabelClickDragAndClampedTimes)
{
    EXPECT_EQ(CPaintViewUI::FormatTime(3725.5), QStringLiteral("01:02:05.50"));
    view.SetDuration(400);
    Mouse(QEvent::MouseButtonPress, {120, 139}); // 11 px above the baseline: nothing
    Mouse(QEvent::MouseButtonRelease, {120, 139});
    EXPECT_TRUE(owner.Take().empty());
    Mouse(QEvent::MouseButtonPress, {120, 141}); // 9 px above: time 100
    Mouse(QEvent::MouseButtonRelease, {120, 141});
    auto posted = owner.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].first, CPaintViewUI::kMsgTimeClicked);
    EXPECT_DOUBLE_EQ(CPaintViewUI::ParamTime(posted[0].second), 100.0);

    view.SetSelection(0, 300); // the end handle at x 320
    DragStartHandleTo(500);
    posted = owner.Take();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_DOUBLE_EQ(CPaintViewUI::ParamTime(posted[1].second), 300.0) << "the start handle passed the end";

    view.SetDuration(kNaN);
    EXPECT_EQ(view.Duration(), 0.0);
    view.SetDuration(kInf);
    view.SetSelection(kInf, kNaN);
    EXPECT_EQ(view.Duration(), CPaintViewUI::kMaxTime);
    EXPECT_EQ(view.SelectionEnd(), 0.0);
    EXPECT_FALSE(view.grab().isNull());
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
