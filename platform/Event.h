#pragma once

// A Win32-style event: signalled or not, manual-reset (stays signalled until Reset) or auto-reset
// (a successful wait consumes the signal, so one waiter is released per Set). Any thread may call
// any method.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace kestrune {

class Event {
  public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset kind, bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // Waits until signalled (consuming the signal of an auto-reset event). Returns false on
    // timeout; no timeout waits forever.
    bool wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    // Waits until any of `events` is signalled and returns the lowest index among the signalled
    // ones (consuming that one's signal if auto-reset), or nothing on timeout. At most
    // kMaxWaitObjects events; more raise std::invalid_argument.
    static constexpr std::size_t kMaxWaitObjects = 64;
    static std::optional<std::size_t> waitAny(
        std::span<Event* const> events,
        std::optional<std::chrono::milliseconds> timeout = std::nullopt);

  private:
    struct Waiter;
    bool tryConsumeLocked();

    const Reset kind_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_;
    std::vector<Waiter*> waiters_;  // multi-event waiters to poke on set()
};

}  // namespace kestrune
