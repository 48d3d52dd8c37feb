#include "platform/Event.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune {

struct Event::Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool poked = false;
};

Event::Event(Reset kind, bool signalled) : kind_(kind), signalled_(signalled) {}

Event::~Event() = default;

void Event::set() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    if (kind_ == Reset::Manual)
        changed_.notify_all();
    else
        changed_.notify_one();
    for (Waiter* w : waiters_) {
        std::lock_guard wl(w->mutex);
        w->poked = true;
        w->cv.notify_one();
    }
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::isSet() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool Event::tryConsumeLocked() {
    if (!signalled_) return false;
    if (kind_ == Reset::Auto) signalled_ = false;
    return true;
}

bool Event::wait(std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock lock(mutex_);
    if (!timeout) {
        changed_.wait(lock, [this] { return signalled_; });
    } else if (!changed_.wait_for(lock, *timeout, [this] { return signalled_; })) {
        return false;
    }
    tryConsumeLocked();
    return true;
}

std::optional<std::size_t> Event::waitAny(std::span<Event* const> events,
                                          std::optional<std::chrono::milliseconds> timeout) {
    if (events.empty() || events.size() > kMaxWaitObjects)
        throw std::invalid_argument("waitAny takes 1 to 64 events");
    // A wait without a timeout is a wait until the end of time.
    const auto deadline = timeout ? std::chrono::steady_clock::now() + *timeout
                                  : std::chrono::steady_clock::time_point::max();

    Waiter waiter;
    for (Event* e : events) {
        std::lock_guard lock(e->mutex_);
        e->waiters_.push_back(&waiter);
    }
    std::optional<std::size_t> result;
    for (;;) {
        {
            std::lock_guard wl(waiter.mutex);
            waiter.poked = false;
        }
        for (std::size_t i = 0; i < events.size() && !result; ++i) {
            std::lock_guard lock(events[i]->mutex_);
            if (events[i]->tryConsumeLocked()) result = i;
        }
        if (result) break;
        std::unique_lock wl(waiter.mutex);
        if (!timeout) {
            waiter.cv.wait(wl, [&] { return waiter.poked; });
        } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.poked; })) {
            break;
        }
    }
    for (Event* e : events) {
        std::lock_guard lock(e->mutex_);
        auto& ws = e->waiters_;
        ws.erase(std::remove(ws.begin(), ws.end(), &waiter), ws.end());
    }
    return result;
}

}  // namespace kestrune
