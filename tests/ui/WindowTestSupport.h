#pragma once
// Helpers for tests that drive windows: the visible window of a class, a step run once a
// (modal) window shows, an owner window that records the messages posted to it, and a stand-in
// for the desktop that receives the addresses the program asks it to open.

#include "WindowImplBase.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <vector>

// How long a test waits for something the event loop, a worker or a local server must deliver
// (a loaded machine included) before it gives up.
inline constexpr int kDeliveryTimeoutMs = 10000;

// The visible top-level window of class Window, or nullptr.
template <class Window>
Window* VisibleWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<Window*>(w); window && window->isVisible())
            return window;
    return nullptr;
}

// Calls step(window) once a visible Window appears (also inside a modal loop that opens later),
// then stops looking.
template <class Window>
void WhenShown(std::function<void(Window*)> step)
{
    constexpr int kLookMs = 10; // how often to look for the window
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (Window* window = VisibleWindow<Window>()) {
            timer->stop();
            timer->deleteLater();
            step(window);
        }
    });
    timer->start(kLookMs);
}

// An owner for dialogs under test: records every message posted to it.
class MessageRecorderWindow : public WindowImplBase {
public:
    QString GetWindowClassName() const override { return "MessageRecorderWindow"; }
    QString GetSkinFile() override { return "PromptBox.xml"; }
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t, std::intptr_t, bool& handled) override
    {
        messages.push_back(msg);
        handled = true;
        return 0;
    }
    std::vector<unsigned> messages;
};

// While it exists, file and web addresses the program opens land in opened instead of the desktop.
class DesktopStandIn : public QObject {
    Q_OBJECT
public:
    DesktopStandIn()
    {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~DesktopStandIn() override
    {
        for (const char* scheme : {"file", "http", "https"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    std::vector<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};
