// Work handed to a thread of its own while the caller goes on: on a machine of two cores, one
// decodes a file's images while the other reads its meshes.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace Lode::Utils {

// Jobs run one after another, in the order given, on one thread started with the first job.
// A job must not touch what the caller goes on touching; wait() is the point after which the
// caller may look at what the jobs made. An exception a job throws (running out of memory) is
// thrown again by wait(), the first one only. The destructor waits for every job too.
class kaBackgroundWork {
public:
    kaBackgroundWork() = default;
    kaBackgroundWork(const kaBackgroundWork&) = delete;
    kaBackgroundWork& operator=(const kaBackgroundWork&) = delete;
    ~kaBackgroundWork();

    void add(std::function<void()> job);
    // Returns once every job given so far has run.
    void wait();

private:
    void work();

    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<std::function<void()>> _jobs;
    bool _running = false; // a job taken from the queue has not finished
    bool _stopping = false;
    std::exception_ptr _thrown;
    std::thread _thread;
};

} // namespace Lode::Utils
