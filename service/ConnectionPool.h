#pragma once
// ConnectionPool: up to a fixed number of threads for client connections, made when first needed
// and reused most-recently-idle first, so a quiet service keeps a few warm threads (and their
// touched stack pages) instead of cycling through all of them.
//
//   ConnectionPool pool(256);
//   pool.Run([sock] { ... serve the connection ... });   // an idle thread, a new one, or queued
//   pool.Shutdown();                                      // queued jobs run to their end; threads joined
//
// Thread-safety: Run and Shutdown from one thread (the accept loop); jobs run on the pool's threads.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ConnectionPool {
public:
    explicit ConnectionPool(std::size_t maxThreads);
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    void Run(std::function<void()> job);
    void Shutdown();

private:
    struct Worker {
        std::thread thread;
        std::condition_variable wake;
        std::function<void()> job;
    };
    void Body(Worker* worker);

    const std::size_t maxThreads_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<Worker*> idle_;  // the most recently idle last
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
};
