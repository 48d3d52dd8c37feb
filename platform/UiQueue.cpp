#include "platform/UiQueue.h"

#include <exception>
#include <future>

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
    std::promise<void> done;
    auto result = done.get_future();
    post([&call, &done] {
        // The caller is released only once this thread has let go of the exception, so the
        // caller alone owns it from then on.
        std::exception_ptr error;
        try {
            call();
        } catch (...) {
            error = std::current_exception();
        }
        if (error)
            done.set_exception(std::move(error));
        else
            done.set_value();
    });
    result.get();
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
