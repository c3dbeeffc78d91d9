// The window framework: a test window built from a test skin.

#include "ControlUtil.h"
#include "GifControl.h"
#include "LogCapture.h"
#include "WindowError.h"
#include "WindowImplBase.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QMovie>
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

class TestCustomWidget : public QWidget {
public:
    using QWidget::QWidget;
};

// What a test window saw; lives outside the window because the window deletes itself.
struct Observed {
    struct Message {
        unsigned msg;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        std::thread::id thread;
    };
    std::vector<TNotifyUI> notifications;
    std::vector<Message> messages;
    std::vector<int> ticks;
    int finalMessages = 0;
    int closeRequests = 0;
};

// Which overridden operation fails.
enum class Failing { kNone, kGetSkinFile, kInitWindow, kNotify, kOnFinalMessage };

class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(Observed& observed, QString skinFile = "TestWindow.xml", Failing failing = Failing::kNone)
        : observed_(observed)
        , skinFile_(std::move(skinFile))
        , failing_(failing)
    {
    }

    QString GetWindowClassName() const override { return "TestWindow"; }
    QString GetSkinFile() override
    {
        return GuardWindowOperation("TestWindow::GetSkinFile", [this] {
            FailIf(Failing::kGetSkinFile);
            return skinFile_;
        });
    }
    QString GetSkinFolder() const override { return TEST_SKIN_DIR; }
    QWidget* CreateControl(const QString& className, QWidget* parent, const QString&) override
    {
        return className == "TestCustom" ? new TestCustomWidget(parent) : nullptr;
    }
    void InitWindow() override
    {
        GuardWindowOperation("TestWindow::Init", [this] {
            FailIf(Failing::kInitWindow);
            // Set-up of controls must not come back as notifications.
            if (auto* slider = FindControl<QSlider>("test-slider"))
                slider->setValue(10);
            if (auto* check = FindControl<QCheckBox>("test-check"))
                check->setChecked(true);
        });
    }
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) override
    {
        observed_.messages.push_back({msg, wParam, lParam, std::this_thread::get_id()});
        handled = true;
        return 0;
    }
    void Notify(TNotifyUI& msg) override
    {
        GuardWindowOperation("TestWindow::Notify", [&] {
            observed_.notifications.push_back(msg);
            if (onNotify)
                onNotify(msg);
            FailIf(Failing::kNotify);
        });
        WindowImplBase::Notify(msg);
    }
    void OnFinalMessage() override
    {
        GuardWindowOperation("TestWindow::OnFinalMessage", [this] {
            ++observed_.finalMessages;
            FailIf(Failing::kOnFinalMessage);
        });
    }
    void OnClose(int, bool& handled) override
    {
        ++observed_.closeRequests;
        handled = keepOpen;
    }
    void OnTimer(int id) override
    {
        observed_.ticks.push_back(id);
        if (killOnFirstTick)
            KillTimer(id);
    }

    bool keepOpen = false;
    bool killOnFirstTick = false;
    std::function<void(TNotifyUI&)> onNotify;

private:
    void FailIf(Failing place) const
    {
        if (failing_ == place)
            throw std::runtime_error("test failure");
    }

    Observed& observed_;
    QString skinFile_;
    Failing failing_;
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

TEST_F(WindowImplBaseTest, FindsControlsByNameWithTheirClass)
{
    EXPECT_NE(window_->FindControl<QPushButton>("test-button"), nullptr);
    EXPECT_NE(window_->FindControl<QComboBox>("test-combo"), nullptr);
    EXPECT_NE(window_->FindControl<QSlider>("test-slider"), nullptr);
    EXPECT_NE(window_->FindControl<TestCustomWidget>("test-custom"), nullptr) << "the CreateControl hook made it";
    EXPECT_EQ(window_->objectName(), "TestWindow");
    EXPECT_EQ(window_->windowTitle(), "测试窗口");
    EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
}

TEST_F(WindowImplBaseTest, MissingOrMistypedControlIsLoggedNotFatal)
{
    LogCapture log;
    EXPECT_EQ(window_->FindControl<QPushButton>("no-such-control"), nullptr);
    EXPECT_TRUE(log.HasLine({"no-such-control", "TestWindow.xml"})) << log.Text();
    EXPECT_EQ(window_->FindControl<QSlider>("test-button"), nullptr);
    EXPECT_TRUE(log.HasLine({"test-button", "TestWindow.xml", "QPushButton", "QSlider"})) << log.Text();
}

TEST_F(WindowImplBaseTest, SetUpInInitWindowSendsNoNotifications)
{
    EXPECT_TRUE(observed_.notifications.empty());
    EXPECT_EQ(window_->FindControl<QSlider>("test-slider")->value(), 10);
}

TEST_F(WindowImplBaseTest, EachNotificationTypeArrivesWithItsSender)
{
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
        std::intptr_t lParam;
    };
    const struct {
        const char* name;
        std::function<void()> act;
        std::vector<Expected> expected; // in this order, among what arrives
    } cases[] = {
        {"button click", [&] { QTest::mouseClick(button, Qt::LeftButton); }, {{"click", button, 0, 0}}},
        {"check box cleared by a click",
         [&] { check->click(); },
         {{"selectchanged", check, 0, 0}, {"click", check, 0, 0}}},
        {"radio button chosen",
         [&] { radioB->click(); },
         {{"selectchanged", radioA, 0, 0}, {"selectchanged", radioB, 1, 0}}},
        {"combo entry selected", [&] { combo->setCurrentIndex(2); }, {{"itemselect", combo, 2, 0}}},
        {"slider moved", [&] { slider->setValue(37); }, {{"valuechanged", slider, 37, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        observed_.notifications.clear();
        c.act();
        std::size_t next = 0;
        for (const TNotifyUI& n : observed_.notifications) {
            if (next < c.expected.size() && n.type == c.expected[next].type && n.sender == c.expected[next].sender) {
                EXPECT_EQ(n.senderName, c.expected[next].sender->objectName());
                EXPECT_EQ(n.wParam, c.expected[next].wParam);
                EXPECT_EQ(n.lParam, c.expected[next].lParam);
                ++next;
            }
        }
        EXPECT_EQ(next, c.expected.size()) << "notifications missing or out of order";
    }
}

TEST_F(WindowImplBaseTest, PostedMessageArrivesOnTheUiThreadWithItsParameters)
{
    const std::thread::id uiThread = std::this_thread::get_id();
    TestWindow* window = window_;
    std::thread poster([window] {
        // Stands in for the recorder's encode thread: owns nothing, shares only the window,
        // whose PostMessage is thread-safe.
        window->PostMessage(1724, 0, 3725);
    });
    poster.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !observed_.messages.empty(); }, kDeliveryTimeoutMs));
    ASSERT_EQ(observed_.messages.size(), 1u);
    EXPECT_EQ(observed_.messages[0].msg, 1724u);
    EXPECT_EQ(observed_.messages[0].wParam, 0u);
    EXPECT_EQ(observed_.messages[0].lParam, 3725);
    EXPECT_EQ(observed_.messages[0].thread, uiThread);
}

TEST_F(WindowImplBaseTest, MessagesFromTwoThreadsAllArriveInEachThreadsOrder)
{
    constexpr int kPerThread = 500;
    TestWindow* window = window_;
    auto post = [window](unsigned msg) {
        // A posting worker thread: owns nothing, shares only the window (PostMessage is thread-safe).
        for (int i = 0; i < kPerThread; ++i)
            window->PostMessage(msg, 0, i);
    };
    std::thread first(post, 1234u);
    std::thread second(post, 1235u);
    first.join();
    second.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return observed_.messages.size() == 2 * kPerThread; }, kDeliveryTimeoutMs));
    std::intptr_t nextOf1234 = 0;
    std::intptr_t nextOf1235 = 0;
    for (const auto& m : observed_.messages)
        EXPECT_EQ(m.lParam, (m.msg == 1234u ? nextOf1234++ : nextOf1235++));
    EXPECT_EQ(nextOf1234, kPerThread);
    EXPECT_EQ(nextOf1235, kPerThread);
}

TEST_F(WindowImplBaseTest, TimerFiresUntilKilled)
{
    window_->killOnFirstTick = true;
    ASSERT_TRUE(window_->SetTimer(1001, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !observed_.ticks.empty(); }, kDeliveryTimeoutMs));
    QTest::qWait(100); // ten more intervals: a live timer would tick again
    EXPECT_EQ(observed_.ticks, std::vector<int>{1001});
    EXPECT_FALSE(window_->KillTimer(1001)) << "already killed in its first tick";

    window_->killOnFirstTick = false;
    observed_.ticks.clear();
    ASSERT_TRUE(window_->SetTimer(1008, 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return observed_.ticks.size() >= 3; }, kDeliveryTimeoutMs));
    EXPECT_TRUE(window_->KillTimer(1008));
    const std::size_t ticks = observed_.ticks.size();
    QTest::qWait(50);
    EXPECT_EQ(observed_.ticks.size(), ticks);
    EXPECT_FALSE(window_->SetTimer(1000, -1));
}

TEST_F(WindowImplBaseTest, GifControlPlaysAndPauses)
{
    auto* gif = window_->FindControl<QLabel>("test-gif");
    ASSERT_NE(gif, nullptr);
    ASSERT_NE(gif->movie(), nullptr);
    EXPECT_FALSE(GifControl::IsPlaying(gif)) << "waits for Play without autoPlay";
    GifControl::Play(gif);
    EXPECT_TRUE(GifControl::IsPlaying(gif));
    GifControl::Pause(gif);
    EXPECT_FALSE(GifControl::IsPlaying(gif));
    EXPECT_EQ(gif->movie()->state(), QMovie::Paused);
    GifControl::Play(gif);
    EXPECT_TRUE(GifControl::IsPlaying(gif));
    GifControl::Stop(gif);
    EXPECT_EQ(gif->movie()->state(), QMovie::NotRunning);
    GifControl::Play(nullptr); // no control: no effect
}

TEST_F(WindowImplBaseTest, ListElementsNotifyWithTheirTags)
{
    auto* list = window_->FindControl<QListWidget>("test-list");
    ASSERT_NE(list, nullptr);
    QWidget* first = window_->AddListElement(list, "TestElement.xml");
    QWidget* second = window_->AddListElement(list, "TestElement.xml");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(list->count(), 2);
    auto* firstPlay = FindControlIn<QPushButton>(first, "item-play", "TestElement.xml");
    auto* secondPlay = FindControlIn<QPushButton>(second, "item-play", "TestElement.xml");
    SetControlTag(firstPlay, 1);
    SetControlTag(secondPlay, 2);

    // A click removes the entry whose button sent it, from inside the notification.
    window_->onNotify = [list](TNotifyUI& msg) {
        if (msg.type == "click" && msg.senderName == "item-play")
            RemoveListElement(list, msg.sender->parentWidget());
    };
    QPointer<QWidget> secondAlive(second);
    QTest::mouseClick(secondPlay, Qt::LeftButton);
    ASSERT_EQ(observed_.notifications.size(), 1u);
    EXPECT_EQ(observed_.notifications[0].senderName, "item-play");
    EXPECT_EQ(GetControlTag(observed_.notifications[0].sender), 2u);
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(list->itemWidget(list->item(0)), first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return secondAlive.isNull(); }, kDeliveryTimeoutMs));
    EXPECT_FALSE(RemoveListElement(list, second));

    LogCapture log;
    EXPECT_EQ(window_->AddListElement(list, "NoSuchElement.xml"), nullptr);
    EXPECT_EQ(list->count(), 1);
    EXPECT_TRUE(log.HasLine({"NoSuchElement.xml"})) << log.Text();
}

TEST_F(WindowImplBaseTest, CaptionDragsTheWindowAndTheRestDoesNot)
{
    QWidget* root = window_->SkinRoot();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
    const QPoint start = window_->pos();
    auto drag = [&](QPoint from, QPoint by) {
        const QPoint global = window_->mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(root, &press); // the skin's top widget passes it up to the window
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

TEST_F(WindowImplBaseTest, RoundCornerPropertyGivesTheWindowARegion)
{
    const QRegion region = window_->mask();
    ASSERT_FALSE(region.isEmpty());
    EXPECT_FALSE(region.contains(QPoint(0, 0)));
    EXPECT_FALSE(region.contains(QPoint(319, 239)));
    EXPECT_TRUE(region.contains(QPoint(6, 0)) || region.contains(QPoint(7, 0)));
    EXPECT_TRUE(region.contains(QPoint(160, 120)));
    window_->ResizeClient(400, 300);
    EXPECT_EQ(window_->size(), QSize(400, 300));
    EXPECT_TRUE(window_->mask().contains(QPoint(390, 150))) << "the region follows the size";
}

// ---- Ending windows -------------------------------------------------------------------------------

TEST(WindowLifetimeTest, ShowModalReturnsTheCloseCodeAndTheWindowIsGone)
{
    Observed observed;
    auto* window = new TestWindow(observed);
    ASSERT_TRUE(window->Create(nullptr, QString()));
    QPointer<TestWindow> alive(window);
    QTimer::singleShot(0, window, [window] { window->Close(7); });
    EXPECT_EQ(window->ShowModal(), 7);
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(observed.finalMessages, 1);
}

TEST(WindowLifetimeTest, CloseButtonAndEscapeEndAModalWindowWithZero)
{
    const std::function<void(TestWindow*)> enders[] = {
        [](TestWindow* w) { QTest::mouseClick(w->FindControl<QPushButton>("closebtn"), Qt::LeftButton); },
        [](TestWindow* w) { QTest::keyClick(w, Qt::Key_Escape); },
        [](TestWindow* w) { w->close(); }, // the window manager's close
    };
    for (const auto& end : enders) {
        Observed observed;
        auto* window = new TestWindow(observed);
        ASSERT_TRUE(window->Create(nullptr, QString()));
        QPointer<TestWindow> alive(window);
        QTimer::singleShot(0, window, [window, &end] {
            window->Close(5);
            window->keepOpen = true; // the first request (5) is refused by OnClose
        });
        QTimer::singleShot(20, window, [window, &end] {
            window->keepOpen = false;
            end(window);
        });
        EXPECT_EQ(window->ShowModal(), 0);
        EXPECT_TRUE(alive.isNull());
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

TEST(WindowLifetimeTest, MissingSkinFileFailsCreateAndIsLoggedWithItsPath)
{
    LogCapture log;
    Observed observed;
    auto* window = new TestWindow(observed, "NoSuchWindow.xml");
    EXPECT_FALSE(window->Create(nullptr, QString()));
    EXPECT_FALSE(window->IsCreated());
    EXPECT_TRUE(log.HasLine({std::string(TEST_SKIN_DIR) + "NoSuchWindow.xml"})) << log.Text();
    EXPECT_TRUE(log.HasLine({"TestWindow", "not created"})) << log.Text();
    QPointer<TestWindow> alive(window);
    window->CenterWindow();
    EXPECT_EQ(window->ShowModal(), 0) << "never counts as a confirmation";
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(observed.finalMessages, 0);
}

TEST(WindowLifetimeTest, FailingOperationsAreLoggedWithClassAndOperation)
{
    const struct {
        Failing failing;
        const char* place;
        bool created;
    } cases[] = {
        {Failing::kGetSkinFile, "TestWindow::GetSkinFile", false},
        {Failing::kInitWindow, "TestWindow::Init", false},
        {Failing::kNotify, "TestWindow::Notify", true},
        {Failing::kOnFinalMessage, "TestWindow::OnFinalMessage", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.place);
        LogCapture log;
        Observed observed;
        auto* window = new TestWindow(observed, "TestWindow.xml", c.failing);
        EXPECT_EQ(window->Create(nullptr, QString()), c.created);
        QPointer<TestWindow> alive(window);
        QTimer::singleShot(0, window, [window] {
            QTest::mouseClick(window->FindControl<QPushButton>("test-button"), Qt::LeftButton);
            window->Close(2);
        });
        const int result = window->ShowModal();
        EXPECT_EQ(result, c.created ? 2 : 0);
        EXPECT_TRUE(alive.isNull());
        EXPECT_TRUE(log.HasLine({c.place})) << log.Text();
    }
}

TEST(WindowPlacementTest, CenterWindowCentresOnTheOwner)
{
    QWidget owner;
    owner.setGeometry(200, 150, 700, 500);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    Observed observed;
    auto* window = new TestWindow(observed);
    ASSERT_TRUE(window->Create(&owner, QString()));
    window->CenterWindow();
    EXPECT_LE((window->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 1);
    delete window;
}

} // namespace
