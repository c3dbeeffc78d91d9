#include "ConnectionPool.h"

#include <algorithm>

ConnectionPool::ConnectionPool(std::size_t maxThreads) : maxThreads_(std::max<std::size_t>(maxThreads, 1)) {}

ConnectionPool::~ConnectionPool() { Shutdown(); }

void ConnectionPool::Run(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
        Worker* worker = idle_.back();
        idle_.pop_back();
        worker->job = std::move(job);
        worker->wake.notify_one();
    } else if (workers_.size() < maxThreads_) {
        auto worker = std::make_unique<Worker>();
        worker->job = std::move(job);
        Worker* raw = worker.get();
        workers_.push_back(std::move(worker));
        raw->thread = std::thread([this, raw] { Body(raw); });
    } else {
        queue_.push_back(std::move(job));
    }
}

void ConnectionPool::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        for (Worker* worker : idle_) worker->wake.notify_one();
    }
    for (auto& worker : workers_) worker->thread.join();
}

// Connection thread body: owns nothing but the job it runs; shares the idle list and the queue
// (under mutex_). Runs its job, then queued ones, then waits idle until handed a job or stopped.
void ConnectionPool::Body(Worker* worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (worker->job) {
            auto job = std::move(worker->job);
            worker->job = nullptr;
            lock.unlock();
            job();
            lock.lock();
            continue;
        }
        if (!queue_.empty()) {
            worker->job = std::move(queue_.front());
            queue_.pop_front();
            continue;
        }
        if (stopping_) return;
        idle_.push_back(worker);
        worker->wake.wait(lock, [&] { return worker->job || stopping_; });
        if (!worker->job) {
            idle_.erase(std::find(idle_.begin(), idle_.end(), worker));
            return;
        }
    }
}
