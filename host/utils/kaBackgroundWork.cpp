#include "host/utils/kaBackgroundWork.h"

#include <utility>

namespace Lode::Utils {

kaBackgroundWork::~kaBackgroundWork()
{
    if (!_thread.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
    }
    _changed.notify_all();
    _thread.join();
}

void kaBackgroundWork::add(std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _jobs.push_back(std::move(job));
    }
    if (!_thread.joinable()) _thread = std::thread(&kaBackgroundWork::work, this);
    _changed.notify_all();
}

void kaBackgroundWork::wait()
{
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait(lock, [this] { return _jobs.empty() && !_running; });
    if (_thrown) std::rethrow_exception(std::exchange(_thrown, nullptr));
}

void kaBackgroundWork::work()
{
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;) {
        // Jobs still queued when stopping run all the same: their makers wait for them.
        _changed.wait(lock, [this] { return !_jobs.empty() || _stopping; });
        if (_jobs.empty()) return;
        std::function<void()> job = std::move(_jobs.front());
        _jobs.pop_front();
        _running = true;
        lock.unlock();
        std::exception_ptr thrown;
        try {
            job();
        } catch (...) {
            thrown = std::current_exception();
        }
        job = nullptr;
        lock.lock();
        if (thrown && !_thrown) _thrown = thrown;
        _running = false;
        _changed.notify_all();
    }
}

} // namespace Lode::Utils
