#include "playback/TNotifyThread.h"

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "playback/CheckResult.h"
#include "playback/EDirectSoundNotifyError.h"
#include "playback/SdlSoundBuffer.h"

namespace kestrune {

// What the thread uses. Shared with the thread's body, so that a thread whose join was posted
// to the UI queue never outlives it.
struct TNotifyThread::State {
    State(TDirectSoundBuffer& buffer, TCallback callback, UiQueue& ui)
        : buffer(buffer), callback(std::move(callback)), ui(ui) {}

    TDirectSoundBuffer& buffer;
    TCallback callback;
    UiQueue& ui;
    Event stopEvent{Event::Reset::Manual};
    std::vector<std::unique_ptr<Event>> events;  // one per position
    std::vector<TDSBPositionNotify> positions;
    std::vector<Event*> handles;  // the position events in order, then the stop event
    std::atomic<bool> terminated{false};
    std::atomic<bool> inInvoke{false};  // the thread is in, or about to enter, UiQueue::invoke
    std::atomic<std::int32_t> signalled{-1};
    bool inCallback = false;  // UI thread only
};

TNotifyThread::TNotifyThread(TDirectSoundBuffer& buffer, std::span<const std::uint32_t> offsets,
                             std::shared_ptr<SdlSoundBuffer> notifyInterface, TCallback callback,
                             UiQueue& ui) {
    if (offsets.size() + 1 > Event::kMaxWaitObjects)
        throw EDirectSoundNotifyError("Notification positions exceed maximum of " +
                                      std::to_string(Event::kMaxWaitObjects));
    state = std::make_shared<State>(buffer, std::move(callback), ui);
    notify = std::move(notifyInterface);
    state->positions.resize(offsets.size());
    state->handles.resize(offsets.size() + 1);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        try {
            state->events.push_back(std::make_unique<Event>(Event::Reset::Auto));
        } catch (const std::bad_alloc&) {
            throw EDirectSoundNotifyError("Error creating event");
        }
        state->positions[i] = {offsets[i], state->events.back().get()};
        state->handles[i] = state->events.back().get();
    }
    state->handles[offsets.size()] = &state->stopEvent;
    if (notify == nullptr) CheckResult(DSERR_CONTROLUNAVAIL);
    CheckResult(notify->SetNotificationPositions(static_cast<std::uint32_t>(offsets.size()),
                                                 state->positions.data()));
}

TNotifyThread::~TNotifyThread() {
    // The buffer lets go of the events first, so its audio callback never sets them again.
    if (notify) notify->SetNotificationPositions(0, nullptr);
    state->terminated = true;
    state->stopEvent.set();
    if (!thread.joinable()) return;
    if (state->inCallback) {
        // Destroyed by this thread's own callback: the thread ends as soon as that callback
        // returns, so join it from the UI queue then.
        struct Joiner {
            explicit Joiner(std::thread t) : thread(std::move(t)) {}
            std::thread thread;
            ~Joiner() {
                if (thread.joinable()) thread.join();
            }
        };
        auto pending = std::make_shared<Joiner>(std::move(thread));
        state->ui.post([pending] { pending->thread.join(); });
    } else if (state->inInvoke && state->ui.isUiThread()) {
        state->ui.joinPumping(thread);
    } else {
        thread.join();
    }
}

void TNotifyThread::Start() {
    if (!thread.joinable() && !state->terminated)
        thread = std::thread(&TNotifyThread::Execute, state);
}

std::int32_t TNotifyThread::SignalledIndex() const noexcept {
    return state->signalled.load();
}

void TNotifyThread::Execute(std::shared_ptr<State> s) {
    const std::size_t count = s->positions.size();
    while (!s->terminated) {
        const auto index = Event::waitAny(s->handles);
        if (!index || *index >= count || s->terminated) continue;
        const auto i = static_cast<std::int32_t>(*index);
        s->signalled = i;
        // Announced before the last look at `terminated`, which the destructor sets before it
        // looks at `inInvoke`: either the destructor sees this and keeps the UI queue running
        // while it joins, or this sees `terminated` and never calls invoke.
        s->inInvoke = true;
        if (s->terminated) break;
        try {
            s->ui.invoke([&s, i] {
                if (s->terminated) return;  // discarded: the thread is being ended
                s->inCallback = true;
                try {
                    s->callback(s->buffer, i);
                } catch (...) {
                    s->inCallback = false;
                    throw;
                }
                s->inCallback = false;
            });
        } catch (...) {
            s->ui.post([e = std::current_exception()] { std::rethrow_exception(e); });
        }
        s->inInvoke = false;
    }
}

}  // namespace kestrune
