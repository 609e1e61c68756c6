#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// A helper thread that runs one job at a time for its owner, so that two independent halves of
// a computation can run side by side. Handing over a job allocates nothing. A job the helper has
// not begun when its owner waits for it is run by the owner itself: a helper left waiting for a
// processor never holds the owner up for longer than the job takes.
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
    // Returns once the job started last has finished, running it here when the helper has not
    // begun it.
    void wait();

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    Job job_ = nullptr;
    void *context_ = nullptr;
    bool running_ = false; // the helper has begun the job
    bool quit_ = false;
    std::thread thread_;
};
