#pragma once

// The hand-off to the UI thread. Worker threads queue calls with `post` (fire and forget) or
// `invoke` (run there and wait). The UI thread runs them in `processPending`; a GUI front end
// calls it from its event loop when `setWakeHandler`'s handler fires, the command-line front end
// and the tests pump it with `waitAndProcess`.
//
// A UI thread that waits for another thread to end must keep calling `processPending` while it
// waits (see `joinPumping`), so that a thread blocked in `invoke` is never left hanging.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrune {

class UiQueue {
  public:
    // The thread constructing the queue is its UI thread.
    UiQueue();
    ~UiQueue();
    UiQueue(const UiQueue&) = delete;
    UiQueue& operator=(const UiQueue&) = delete;

    // Any thread. Queues `call` to run later on the UI thread.
    void post(std::function<void()> call);
    // Any thread. Runs `call` on the UI thread and returns when it has run; on the UI thread it
    // runs at once. An exception thrown by `call` is rethrown in the caller.
    void invoke(const std::function<void()>& call);

    bool isUiThread() const { return std::this_thread::get_id() == uiThread_; }

    // UI thread. Runs every call queued so far (and those they queue). Returns how many ran.
    int processPending();
    // UI thread. Waits up to `timeout` for a call to arrive, then runs what is queued.
    int waitAndProcess(std::chrono::milliseconds timeout);
    // UI thread. Joins `thread`, running queued calls while it waits.
    void joinPumping(std::thread& thread);

    // Called (on the posting thread) whenever a call is queued; a GUI uses it to schedule
    // processPending on its event loop.
    void setWakeHandler(std::function<void()> wake);

  private:
    std::thread::id uiThread_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> calls_;
    std::function<void()> wake_;
};

}  // namespace kestrune
