#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// A helper thread that runs one job at a time for its owner, so that two independent halves of
// a computation can run side by side. Handing over a job allocates nothing.
class WorkerThread
{
public:
    using Job = void (*)(void *context);

    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Runs job(context) on the helper thread; the previous job must have been waited for.
    void start(Job job, void *context);
    // Returns once the job started last has finished.
    void wait();

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    Job job_ = nullptr;
    void *context_ = nullptr;
    bool quit_ = false;
    std::thread thread_;
};
