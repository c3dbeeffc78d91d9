// The window framework on a test window built from the test skin: the modal loop and how windows
// end, and failing operations. (Posted messages, notifications from the controls, and ending a
// window without a modal loop: the main window's tests.)

#include "LogCapture.h"
#include "WindowError.h"
#include "WindowImplBase.h"
#include "WindowTestSupport.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

// What a test window saw; lives outside the window because the window deletes itself.
struct Observed {
    int finalMessages = 0;
    int closeRequests = 0;
};

class TestWindow : public WindowImplBase {
public:
    // failing: the operation (as named in the log) that throws.
    explicit TestWindow(Observed& observed, QString skinFile = "TestWindow.xml", std::string failing = "")
        : observed_(observed), skinFile_(std::move(skinFile)), failing_(std::move(failing))
    {
    }

    QString GetWindowClassName() const override { return "TestWindow"; }
    QString GetSkinFolder() const override { return TEST_SKIN_DIR; }
    QString GetSkinFile() override { return Guard("TestWindow::GetSkinFile", [this] { return skinFile_; }); }
    void InitWindow() override { Guard("TestWindow::Init", [] {}); }
    void Notify(TNotifyUI& msg) override
    {
        Guard("TestWindow::Notify", [] {});
        WindowImplBase::Notify(msg);
    }
    void OnFinalMessage() override { Guard("TestWindow::OnFinalMessage", [this] { ++observed_.finalMessages; }); }
    void OnClose(int, bool& handled) override
    {
        ++observed_.closeRequests;
        handled = keepOpen;
    }

    bool keepOpen = false;

private:
    template <class Body>
    auto Guard(const char* place, Body body) -> decltype(body())
    {
        return GuardWindowOperation(place, [&] {
            if (failing_ == place)
                throw std::runtime_error("test failure");
            return body();
        });
    }

    Observed& observed_;
    QString skinFile_;
    std::string failing_;
};

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
        QTimer::singleShot(0, window, [window, &c] {
            window->Close(5); // queued: OnClose refuses it
            window->keepOpen = true;
            // Started only now: the refused request is handled before this (a loaded machine may
            // otherwise run both timers in one pass, before the request).
            QTimer::singleShot(20, window, [window, &c] {
                window->keepOpen = false;
                c.end(window);
            });
        });
        EXPECT_EQ(window->ShowModal(), c.result);
        EXPECT_TRUE(alive.isNull()) << "the window outlived ShowModal";
        EXPECT_EQ(observed.closeRequests, 2);
        EXPECT_EQ(observed.finalMessages, 1);
    }
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
        std::string failing; // and what the log names
        bool created;
    } cases[] = {
        {"NoSuchWindow.xml", std::string(TEST_SKIN_DIR) + "NoSuchWindow.xml", false},
        {"TestWindow.xml", "TestWindow::GetSkinFile", false},
        {"TestWindow.xml", "TestWindow::Init", false},
        {"TestWindow.xml", "TestWindow::Notify", true},
        {"TestWindow.xml", "TestWindow::OnFinalMessage", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
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
        EXPECT_TRUE(log.HasLine({c.failing})) << log.Text();
    }
}

} // namespace
