#pragma once

// The thread that waits for the position notifications of one TDirectSoundBuffer and hands each
// to the UI thread.
//
// It sleeps in one wait on all its events (the position events in order, then its stop event).
// When position event i fires it runs the callback (buffer, i) on the UI thread through
// UiQueue::invoke and waits until it has run, so notifications reach the UI thread one at a
// time and in order; an auto-reset event that fires again before it was handled is delivered
// once. An exception thrown by the callback is handed back to the UI thread with UiQueue::post,
// so it surfaces from the UI thread's processPending; the thread carries on.
//
// Threads: construct, Start and destroy on the UI thread (the thread that owns the UiQueue).
// Destruction ends the thread and discards a notification it is still handing over: a callback
// that has not started by then never runs. It joins while running the UI queue
// (UiQueue::joinPumping), so it cannot deadlock with a thread blocked in invoke; when it runs
// inside this thread's own callback, the join is left to a call posted to the UI queue.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <thread>

#include "platform/Event.h"
#include "platform/UiQueue.h"

namespace kestrune {

class SdlSoundBuffer;
class TDirectSoundBuffer;

class TNotifyThread {
  public:
    using TCallback = std::function<void(TDirectSoundBuffer& buffer, std::int32_t index)>;

    // Most positions one thread waits for: its wait takes at most Event::kMaxWaitObjects events,
    // one of which is the stop event.
    static constexpr std::size_t MaxPositions = Event::kMaxWaitObjects - 1;

    // Makes one auto-reset event per offset (byte offsets in the buffer, or DSBPN_OFFSETSTOP) and
    // installs them as `notify`'s notification positions; the thread is made but not started.
    // Raises EDirectSoundNotifyError "Notification positions exceed maximum of 64" for more than
    // MaxPositions offsets and "Error creating event" when an event cannot be made, and
    // EDirectSoundError when installing fails (DSERR_CONTROLUNAVAIL when `notify` is null: the
    // buffer has no position notifications).
    TNotifyThread(TDirectSoundBuffer& buffer, std::span<const std::uint32_t> offsets,
                  std::shared_ptr<SdlSoundBuffer> notify, TCallback callback, UiQueue& ui);
    ~TNotifyThread();
    TNotifyThread(const TNotifyThread&) = delete;
    TNotifyThread& operator=(const TNotifyThread&) = delete;

    void Start();

    // The index of the notification last handed to the UI thread, −1 before the first.
    std::int32_t SignalledIndex() const noexcept;

  private:
    struct State;
    static void Execute(std::shared_ptr<State> state);

    std::shared_ptr<State> state;
    std::shared_ptr<SdlSoundBuffer> notify;
    std::thread thread;
};

}  // namespace kestrune
