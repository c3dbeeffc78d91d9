#pragma once
// OnlineStartup: the main window's one-shot online workers of its start-up - the background
// upgrade check, and the public address lookup while "user-real-ip" is empty. Created by the
// main window in InitWindow; its destruction (with the window) waits for workers still running
// (at most the requests' time-outs). Their results reach the window only on the UI thread and
// only while it exists.
//
// Thread: UI thread.

#include <QPointer>

#include <thread>
#include <vector>

class QWidget;

class OnlineStartup {
public:
    explicit OnlineStartup(QWidget* mainWindow);
    ~OnlineStartup();
    OnlineStartup(const OnlineStartup&) = delete;
    OnlineStartup& operator=(const OnlineStartup&) = delete;

private:
    std::vector<std::thread> workers_;
};
