#include "BackgroundCall.h"

#include "WindowImplBase.h"

#include <QCoreApplication>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

namespace {

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
};

std::mutex g_workersLock;
std::list<Worker> g_workers; // under g_workersLock
bool g_postRoutineAdded = false; // under g_workersLock

} // namespace

void StartBackgroundWorker(std::function<void()> job)
{
    std::list<Worker> finished;
    std::lock_guard<std::mutex> guard(g_workersLock);
    if (!g_postRoutineAdded) {
        qAddPostRoutine(WaitForBackgroundCalls); // before the application object is gone
        g_postRoutineAdded = true;
    }
    for (auto it = g_workers.begin(); it != g_workers.end();) {
        const auto next = std::next(it);
        if (it->done->load())
            finished.splice(finished.end(), g_workers, it);
        it = next;
    }
    Worker& worker = g_workers.emplace_back();
    worker.thread = std::thread([job = std::move(job), done = worker.done] {
        // Background call: one per request. Owns its request and result; shares only its done
        // flag (atomic) with the list of workers, and hands the result over as a queued call.
        job();
        done->store(true);
    });
    for (Worker& w : finished)
        w.thread.join(); // done: returns at once
}

void PostToUiThread(std::function<void()> call)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

bool ReceiverAlive(const QObject* receiver)
{
    if (!receiver)
        return false;
    const auto* window = qobject_cast<const WindowImplBase*>(receiver);
    return !window || !window->IsEnded();
}

void WaitForBackgroundCalls()
{
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> guard(g_workersLock);
        workers.swap(g_workers);
    }
    for (Worker& w : workers)
        w.thread.join();
}
