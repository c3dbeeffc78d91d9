// The window framework on a test window built from the test skin: notifications, posted messages,
// timers, dragging by the caption, the modal loop and how windows end, and failing operations.

#include "LogCapture.h"
#include "WindowError.h"
#include "WindowImplBase.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// How long a test waits for something the event loop must deliver before it gives up.
constexpr int kDeliveryTimeoutMs = 5000;

// What a test window saw; lives outside the window because the window deletes itself.
struct Observed {
    struct Message {
        unsigned msg;
        std::intptr_t lParam;
        bool onUiThread;
    };
    std::vector<TNotifyUI> notifications;
    std::vector<Message> messages;
    std::vector<int> ticks;
    int finalMessages = 0;
    int closeRequests = 0;
};

// Which overridden operation throws.
enum class Failing { kNone, kGetSkinFile, kInitWindow, kNotify, kOnFinalMessage };

class TestWindow : public WindowImplBase {
    // Runs body as the operation place, which throws when it is the failing one.
    template <class Body>
    auto Guard(const char* place, Failing at, Body body)
    {
        return GuardWindowOperation(place, [&] {
            if (failing_ == at)
                throw std::runtime_error("test failure");
            return body();
        });
    }

public:
    explicit TestWindow(Observed& observed, QString skinFile = "TestWindow.xml", Failing failing = Failing::kNone)
        : observed_(observed), skinFile_(std::move(skinFile)), failing_(failing)
    {
    }

    QString GetWindowClassName() const override { return "TestWindow"; }
    QString GetSkinFolder() const override { return TEST_SKIN_DIR; }
    QString GetSkinFile() override
    {
        return Guard("TestWindow::GetSkinFile", Failing::kGetSkinFile, [this] { return skinFile_; });
    }
    void InitWindow() override
    {
        Guard("TestWindow::Init", Failing::kInitWindow, [this] { // set-up that must not notify
            FindControl<QSlider>("test-slider")->setValue(10);
            FindControl<QCheckBox>("test-check")->setChecked(true);
        });
    }
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t, std::intptr_t lParam, bool& handled) override
    {
        observed_.messages.push_back({msg, lParam, std::this_thread::get_id() == uiThread_});
        handled = true;
        return 0;
    }
    void Notify(TNotifyUI& msg) override
    {
        Guard("TestWindow::Notify", Failing::kNotify, [&] { observed_.notifications.push_back(msg); });
        WindowImplBase::Notify(msg);
    }
    void OnFinalMessage() override
    {
        Guard("TestWindow::OnFinalMessage", Failing::kOnFinalMessage, [this] { ++observed_.finalMessages; });
    }
    void OnClose(int, bool& handled) override
    {
        ++observed_.closeRequests;
        handled = keepOpen;
    }
    void OnTimer(int id) override
    {
        observed_.ticks.push_back(id);
        KillTimer(id);
    }

    bool keepOpen = false;

private:
    Observed& observed_;
    QString skinFile_;
    Failing failing_;
    const std::thread::id uiThread_ = std::this_thread::get_id();
};

class WindowImplBaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        window_ = new TestWindow(observed_);
        ASSERT_TRUE(window_->Create(nullptr, "测试窗口"));
        window_->move(100, 100);
        window_->ShowWindow();
    }
    void TearDown() override { delete window_.data(); }

    Observed observed_;
    QPointer<TestWindow> window_;
};

TEST_F(WindowImplBaseTest, EachNotificationTypeArrivesWithItsSenderButNoneFromSetUp)
{
    EXPECT_TRUE(observed_.notifications.empty()) << "InitWindow's set-up notified";
    auto* button = window_->FindControl<QPushButton>("test-button");
    auto* check = window_->FindControl<QCheckBox>("test-check");
    auto* radioA = window_->FindControl<QRadioButton>("test-radio-a");
    auto* radioB = window_->FindControl<QRadioButton>("test-radio-b");
    auto* combo = window_->FindControl<QComboBox>("test-combo");
    auto* slider = window_->FindControl<QSlider>("test-slider");
    struct Expected {
        QString type;
        QWidget* sender;
        std::uintptr_t wParam;
    };
    const struct {
        const char* name;
        std::function<void()> act;
        std::vector<Expected> expected; // in this order, among what arrives
    } cases[] = {
        {"button click", [&] { QTest::mouseClick(button, Qt::LeftButton); }, {{"click", button, 0}}},
        {"check box cleared", [&] { check->click(); }, {{"selectchanged", check, 0}, {"click", check, 0}}},
        {"radio chosen", [&] { radioB->click(); }, {{"selectchanged", radioA, 0}, {"selectchanged", radioB, 1}}},
        {"combo entry", [&] { combo->setCurrentIndex(1); }, {{"itemselect", combo, 1}}},
        {"slider moved", [&] { slider->setValue(37); }, {{"valuechanged", slider, 37}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        observed_.notifications.clear();
        c.act();
        std::size_t next = 0;
        for (const TNotifyUI& n : observed_.notifications) {
            if (next < c.expected.size() && n.type == c.expected[next].type && n.sender == c.expected[next].sender) {
                EXPECT_EQ(n.senderName, n.sender->objectName());
                EXPECT_EQ(n.wParam, c.expected[next++].wParam);
            }
        }
        EXPECT_EQ(next, c.expected.size()) << "notifications missing or out of order";
    }
}

TEST_F(WindowImplBaseTest, MissingOrMistypedControlIsLoggedNotFatal)
{
    LogCapture log;
    EXPECT_EQ(window_->FindControl<QPushButton>("no-such-control"), nullptr);
    EXPECT_TRUE(log.HasLine({"no-such-control", "TestWindow.xml"})) << log.Text();
    EXPECT_EQ(window_->FindControl<QSlider>("test-button"), nullptr);
    EXPECT_TRUE(log.HasLine({"test-button", "QPushButton", "QSlider"})) << log.Text();
}

TEST_F(WindowImplBaseTest, MessagesFromTwoThreadsArriveOnTheUiThreadInEachThreadsOrder)
{
    constexpr int kPerThread = 500;
    TestWindow* window = window_;
    auto post = [window](unsigned msg) {
        // A posting worker (as the recorder's encode thread): owns nothing, shares only the
        // window, whose PostMessage is thread-safe.
        for (int i = 0; i < kPerThread; ++i)
            window->PostMessage(msg, 0, i);
    };
    std::thread first(post, 1724u);
    std::thread second(post, 1725u);
    first.join();
    second.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return observed_.messages.size() == 2 * kPerThread; }, kDeliveryTimeoutMs));
    std::intptr_t next[2] = {0, 0};
    for (const auto& m : observed_.messages) {
        EXPECT_TRUE(m.onUiThread);
        EXPECT_EQ(m.lParam, next[m.msg - 1724u]++);
    }
}

TEST_F(WindowImplBaseTest, TimerTicksUntilKilled)
{
    ASSERT_TRUE(window_->SetTimer(1001, 10)); // OnTimer kills it in its first tick
    ASSERT_TRUE(QTest::qWaitFor([&] { return !observed_.ticks.empty(); }, kDeliveryTimeoutMs));
    QTest::qWait(100); // ten more intervals: a live timer would tick again
    EXPECT_EQ(observed_.ticks, std::vector<int>{1001});
    EXPECT_FALSE(window_->KillTimer(1001)) << "already killed";
    EXPECT_FALSE(window_->SetTimer(1002, -1));
}

TEST_F(WindowImplBaseTest, CaptionDragsTheWindowAndTheRestDoesNot)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
    const QPoint start = window_->pos();
    auto drag = [&](QPoint from, QPoint by) {
        const QPoint global = window_->mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(window_->SkinRoot(), &press); // the skin passes it up to the window
        QMouseEvent move(QEvent::MouseMove, from + by, global + by, Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(window_, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, from + by, global + by, Qt::LeftButton, {}, {});
        QApplication::sendEvent(window_, &release);
    };
    drag(QPoint(150, 10), QPoint(40, 25));
    EXPECT_EQ(window_->pos(), start + QPoint(40, 25));
    drag(QPoint(150, 200), QPoint(40, 25)); // below the 30-pixel caption
    EXPECT_EQ(window_->pos(), start + QPoint(40, 25));
}

// ---- Ending windows -------------------------------------------------------------------------------

TEST(WindowLifetimeTest, ModalLoopReturnsTheCodeOfTheCloseThatWasNotRefused)
{
    const struct {
        const char* name;
        std::function<void(TestWindow*)> end;
        int result;
    } cases[] = {
        {"Close(7)", [](TestWindow* w) { w->Close(7); }, 7},
        {"close button", [](TestWindow* w) { QTest::mouseClick(w->FindControl<QPushButton>("closebtn"), Qt::LeftButton); }, 0},
        {"Escape", [](TestWindow* w) { QTest::keyClick(w, Qt::Key_Escape); }, 0},
        {"window manager", [](TestWindow* w) { w->close(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Observed observed;
        auto* window = new TestWindow(observed);
        ASSERT_TRUE(window->Create(nullptr, QString()));
        QPointer<TestWindow> alive(window);
        QTimer::singleShot(0, window, [window] {
            window->Close(5); // queued: OnClose refuses it
            window->keepOpen = true;
        });
        QTimer::singleShot(20, window, [window, &c] {
            window->keepOpen = false;
            c.end(window);
        });
        EXPECT_EQ(window->ShowModal(), c.result);
        EXPECT_TRUE(alive.isNull()) << "the window outlived ShowModal";
        EXPECT_EQ(observed.closeRequests, 2);
        EXPECT_EQ(observed.finalMessages, 1);
    }
}

TEST(WindowLifetimeTest, WindowWithoutModalLoopDeletesItselfAfterClose)
{
    Observed observed;
    auto* window = new TestWindow(observed);
    ASSERT_TRUE(window->Create(nullptr, QString()));
    window->ShowWindow();
    QPointer<TestWindow> alive(window);
    window->Close(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, kDeliveryTimeoutMs));
    EXPECT_EQ(observed.finalMessages, 1);
}

TEST(WindowLifetimeTest, ModalWindowWhoseOwnerIsDeletedEndsItsLoop)
{
    Observed observed;
    auto* owner = new QWidget;
    owner->show();
    auto* window = new TestWindow(observed);
    ASSERT_TRUE(window->Create(owner, QString()));
    QPointer<TestWindow> alive(window);
    QTimer::singleShot(0, owner, [owner] { delete owner; });
    EXPECT_EQ(window->ShowModal(), 0);
    EXPECT_TRUE(alive.isNull());
}

TEST(WindowLifetimeTest, FailuresAreLoggedAndAWindowNotCreatedNeverConfirms)
{
    const struct {
        const char* skinFile;
        Failing failing;
        std::string logged;
        bool created;
    } cases[] = {
        {"NoSuchWindow.xml", Failing::kNone, std::string(TEST_SKIN_DIR) + "NoSuchWindow.xml", false},
        {"TestWindow.xml", Failing::kGetSkinFile, "TestWindow::GetSkinFile", false},
        {"TestWindow.xml", Failing::kInitWindow, "TestWindow::Init", false},
        {"TestWindow.xml", Failing::kNotify, "TestWindow::Notify", true},
        {"TestWindow.xml", Failing::kOnFinalMessage, "TestWindow::OnFinalMessage", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        LogCapture log;
        Observed observed;
        auto* window = new TestWindow(observed, c.skinFile, c.failing);
        EXPECT_EQ(window->Create(nullptr, QString()), c.created);
        QPointer<TestWindow> alive(window);
        QTimer::singleShot(0, window, [window] {
            if (auto* button = window->FindControl<QPushButton>("test-button"))
                QTest::mouseClick(button, Qt::LeftButton);
            window->Close(2);
        });
        EXPECT_EQ(window->ShowModal(), c.created ? 2 : 0);
        EXPECT_TRUE(alive.isNull());
        EXPECT_TRUE(log.HasLine({c.logged})) << log.Text();
        if (!c.created) {
            EXPECT_TRUE(log.HasLine({"TestWindow", "not created"})) << log.Text();
        }
    }
}

} // namespace
