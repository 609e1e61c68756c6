#include "engine/tf/WorkerThread.h"

#include <utility>

WorkerThread::WorkerThread()
    : thread_([this] { loop(); })
{ }

WorkerThread::~WorkerThread()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WorkerThread::start(Job job, void *context)
{
    {
        std::lock_guard lock(mutex_);
        job_ = job;
        context_ = context;
    }
    changed_.notify_all();
}

void WorkerThread::wait()
{
    std::unique_lock lock(mutex_);
    if (job_ != nullptr && !running_) {
        // Not begun yet (on a busy machine the helper may wait for a processor): done here.
        const Job job = std::exchange(job_, nullptr);
        lock.unlock();
        job(context_);
        return;
    }
    changed_.wait(lock, [this] { return job_ == nullptr; });
}

void WorkerThread::loop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || job_ != nullptr; });
        if (job_ == nullptr)
            return;
        running_ = true;
        const Job job = job_;
        void *const context = context_;
        lock.unlock();
        job(context);
        lock.lock();
        running_ = false;
        job_ = nullptr;
        changed_.notify_all();
    }
}
