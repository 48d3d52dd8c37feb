#pragma once

// One sound buffer made on a TDirectSound: a primary buffer, or a looping streaming ring buffer
// of a chosen byte size and format that reports the play cursor passing given byte offsets as
// OnNotify calls on the UI thread. Every failed call raises EDirectSoundError (CheckResult).
//
// Threads: UI thread. SetNotifications and destruction end a notification thread and may run
// calls queued on the UiQueue while they wait for it (see TNotifyThread).

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "playback/DirectSoundTypes.h"

namespace kestrune {

class SdlSoundBuffer;
class TDirectSound;
class TNotifyThread;

class TDirectSoundBuffer {
  public:
    // (buffer, notification index): index i is the i-th offset given to SetNotifications.
    using TNotifyEvent = std::function<void(TDirectSoundBuffer& buffer, std::int32_t index)>;

    // Makes the buffer described by `desc` on `owner` and adds it to the owner's list.
    TDirectSoundBuffer(TDirectSound& owner, const TDSBufferDesc& desc);
    // Ends the notification thread, closes the sound stream and leaves the owner's list.
    ~TDirectSoundBuffer();
    TDirectSoundBuffer(const TDirectSoundBuffer&) = delete;
    TDirectSoundBuffer& operator=(const TDirectSoundBuffer&) = delete;

    // Byte offset of the play cursor in the ring.
    std::uint32_t GetPlayCursor();
    // Moves the play cursor to byte `offset` (< the buffer's size).
    void SetPosition(std::uint32_t offset);
    // Locks `bytes` from byte `offset` for writing: one region, or two when the range wraps
    // past the end of the ring. Write only bytes the play cursor has already played (or any
    // while stopped), then Unlock.
    TLockRegions Lock(std::uint32_t offset, std::uint32_t bytes, std::uint32_t flags);
    void Unlock(const TLockRegions& regions);
    // Starts playing from the play cursor; DSBPLAY_LOOPING loops over the ring.
    void Play(std::uint32_t flags);
    // Stops; the play cursor stays where it is. A playing buffer fires its DSBPN_OFFSETSTOP
    // notification.
    void Stop();
    // Replaces the notification positions: byte offsets in the ring or DSBPN_OFFSETSTOP, at
    // most TNotifyThread::MaxPositions. Ends the current notification thread first (a
    // notification of it not yet delivered is dropped), then starts a new one. Only while
    // stopped.
    void SetNotifications(std::span<const std::uint32_t> offsets);

    // Called on the UI thread for each notification; an empty slot is skipped.
    TNotifyEvent OnNotify;

    // False once released, by destruction or by the destruction of its device.
    bool Alive() const noexcept { return owner != nullptr; }

  private:
    friend class TDirectSound;
    // Ends the notification thread, releases the interfaces and leaves the owner's list.
    void Release();
    // The notification thread's callback.
    void NotifyHandler(TDirectSoundBuffer& buffer, std::int32_t index);
    SdlSoundBuffer& Interface();

    TDirectSound* owner;
    std::shared_ptr<SdlSoundBuffer> buffer;
    std::shared_ptr<SdlSoundBuffer> notify;  // null without DSBCAPS_CTRLPOSITIONNOTIFY
    std::unique_ptr<TNotifyThread> notifyThread;
};

}  // namespace kestrune
