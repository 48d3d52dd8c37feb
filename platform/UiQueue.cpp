#include "platform/UiQueue.h"

#include <exception>

namespace kestrune {

UiQueue::UiQueue() : uiThread_(std::this_thread::get_id()) {}

UiQueue::~UiQueue() = default;

void UiQueue::post(std::function<void()> call) {
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        wake = wake_;
    }
    arrived_.notify_all();
    if (wake) wake();
}

void UiQueue::invoke(const std::function<void()>& call) {
    if (isUiThread()) {
        call();
        return;
    }
    // The UI thread moves an exception into `error` under the lock and keeps no reference to
    // it, so the caller alone owns (and finally destroys) it.
    std::mutex m;
    std::condition_variable ran;
    bool done = false;
    std::exception_ptr error;
    post([&] {
        std::exception_ptr caught;
        try {
            call();
        } catch (...) {
            caught = std::current_exception();
        }
        std::lock_guard lock(m);
        error = std::move(caught);
        done = true;
        ran.notify_one();
    });
    std::unique_lock lock(m);
    ran.wait(lock, [&] { return done; });
    if (error) std::rethrow_exception(std::move(error));
}

int UiQueue::processPending() {
    int ran = 0;
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex_);
            if (calls_.empty()) return ran;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        call();
        ++ran;
    }
}

int UiQueue::waitAndProcess(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [this] { return !calls_.empty(); });
    }
    return processPending();
}

void UiQueue::joinPumping(std::thread& thread) {
    if (!thread.joinable()) return;
    // The thread signals its end through a posted no-op, so the wait below wakes for it too.
    std::mutex m;
    bool ended = false;
    std::thread watcher([&] {
        thread.join();
        {
            std::lock_guard lock(m);
            ended = true;
        }
        post([] {});
    });
    for (;;) {
        {
            std::lock_guard lock(m);
            if (ended) break;
        }
        waitAndProcess(std::chrono::milliseconds(50));
    }
    watcher.join();
    processPending();
}

void UiQueue::setWakeHandler(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

}  // namespace kestrune
