#pragma once

// A sound buffer of the DirectSound-style layer, over SDL2: stands in for the platform's
// IDirectSoundBuffer together with its IDirectSoundNotify.
//
// A streaming buffer is a ring of bytes in memory played by an SDL audio device of its own,
// opened at the ring's format (SDL converts when the hardware cannot take it) and running for
// the buffer's whole life. SDL's audio callback copies the ring from the play cursor, advances
// the cursor (wrapping to 0 at the end of a looping buffer, stopping at the end of a one-shot
// one) and sets the event of every notification position whose byte it played; while the buffer
// is stopped the device plays silence. Stopping a playing buffer sets the events at
// DSBPN_OFFSETSTOP. A primary buffer has no ring: its calls fail with DSERR_INVALIDCALL.
//
// Threads: every method may be called from any thread. The play cursor, the play state and the
// notification positions are guarded by one mutex, which the audio callback holds while it
// copies and sets events. The ring's bytes are not guarded: whoever writes a locked region must
// keep to bytes the cursor has already played or that are not playing, as a DirectSound user
// must; Unlock makes the written bytes visible to the callback's next read.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "playback/DirectSoundTypes.h"

namespace kestrune {

class SdlSoundSystem;

class SdlSoundBuffer : public std::enable_shared_from_this<SdlSoundBuffer> {
    struct Token {};

  public:
    // Streaming buffers also need Open; SdlSoundSystem::CreateSoundBuffer does both.
    SdlSoundBuffer(Token, std::shared_ptr<SdlSoundSystem> system, std::uint32_t flags,
                   std::uint32_t bytes, std::uint32_t blockAlign, std::uint8_t silence);
    // Closes the SDL device, waiting for a running audio callback to return.
    ~SdlSoundBuffer();
    SdlSoundBuffer(const SdlSoundBuffer&) = delete;
    SdlSoundBuffer& operator=(const SdlSoundBuffer&) = delete;

    // The notify interface: this buffer when it was made with DSBCAPS_CTRLPOSITIONNOTIFY, else
    // null. (The 3D and property-set interfaces are not offered.)
    std::shared_ptr<SdlSoundBuffer> QueryNotify();

    // Play and write cursors, byte offsets in the ring. The callback has taken every byte before
    // the play cursor, so the write cursor is the play cursor. Either pointer may be null.
    TDSResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write);
    // Moves the play cursor to `offset` (< the buffer's size), rounded down to a whole frame.
    TDSResult SetCurrentPosition(std::uint32_t offset);
    // Locks `bytes` (1 … size) from `offset` (< size) as one region, or two when the range wraps
    // past the end. DSBLOCK_FROMWRITECURSOR starts at the write cursor, DSBLOCK_ENTIREBUFFER
    // locks the whole ring.
    TDSResult Lock(std::uint32_t offset, std::uint32_t bytes, TLockRegions& regions,
                   std::uint32_t flags);
    // Ends a lock; the regions must lie in the ring.
    TDSResult Unlock(const TLockRegions& regions);
    // Starts playing from the play cursor; DSBPLAY_LOOPING loops, otherwise the buffer stops at
    // its end. `reserved` and `priority` must be 0.
    TDSResult Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags);
    // Stops playing; the cursor stays where it is. Sets the stop events if it was playing.
    TDSResult Stop();
    // Replaces the notification positions: offsets < size or DSBPN_OFFSETSTOP, each with its
    // event. Only while stopped (DSERR_INVALIDCALL otherwise), except that count 0 clears the
    // positions at any time; after it returns the callback no longer touches the old events.
    TDSResult SetNotificationPositions(std::uint32_t count, const TDSBPositionNotify* positions);

  private:
    friend class SdlSoundSystem;

    TDSResult Open(const std::optional<std::string>& device, int rate, std::uint16_t sdlFormat,
                   int channels);
    static void AudioCallback(void* self, std::uint8_t* stream, int len);
    void Render(std::uint8_t* out, std::uint32_t len);
    // Sets the events of the positions in [from, to) (callback, mutex held).
    void SignalPassed(std::uint32_t from, std::uint32_t to);
    void SignalStop();
    bool InRing(const std::uint8_t* p, std::uint32_t n) const;

    std::shared_ptr<SdlSoundSystem> system_;
    const std::uint32_t flags_;
    std::vector<std::uint8_t> ring_;
    const std::uint32_t blockAlign_;
    const std::uint8_t silence_;
    std::uint32_t device_ = 0;  // the SDL_AudioDeviceID, 0 when none is open

    std::mutex mutex_;  // guards the members below
    std::uint32_t cursor_ = 0;
    bool playing_ = false;
    bool looping_ = false;
    std::vector<TDSBPositionNotify> positions_;
};

}  // namespace kestrune
