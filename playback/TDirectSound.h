#pragma once

// The sound output device: owns the device interface (SdlSoundSystem) and its primary buffer,
// and keeps the list of the buffers made on it that still exist.
//
// Threads: UI thread (the thread owning the UiQueue). Buffers made on the device hand their
// notifications to that UiQueue.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/UiQueue.h"

namespace kestrune {

class SdlSoundSystem;
class TDirectSoundBuffer;

class TDirectSound {
  public:
    // Creates the device (`device`: an SDL output device name; none: the default device) and
    // its primary buffer, made with `primaryFlags` | DSBCAPS_CTRL3D | DSBCAPS_PRIMARYBUFFER.
    // Raises EDirectSoundError; DSERR_NODRIVER ("No sound driver is available for use") when
    // there is no usable output device.
    explicit TDirectSound(UiQueue& ui, const std::optional<std::string>& device = std::nullopt,
                          std::uint32_t primaryFlags = 0);
    // Releases every buffer still in the list (the primary buffer included): each ends its
    // notification thread, closes its sound stream and leaves the list. A buffer object owned
    // elsewhere stays valid but released (its calls then raise DSERR_INVALIDCALL).
    ~TDirectSound();
    TDirectSound(const TDirectSound&) = delete;
    TDirectSound& operator=(const TDirectSound&) = delete;

    // `level`: DSSCL_NORMAL … DSSCL_WRITEPRIMARY; `window` may be null. Raises EDirectSoundError.
    void SetCooperativeLevel(void* window, std::uint32_t level);

    // The buffers made on this device that still exist, in the order they were made (the
    // primary buffer first).
    const std::vector<TDirectSoundBuffer*>& Buffers() const noexcept { return buffers; }
    TDirectSoundBuffer& PrimaryBuffer() noexcept { return *primary; }

    SdlSoundSystem& Interface() noexcept { return *device; }
    UiQueue& Ui() noexcept { return ui; }

  private:
    friend class TDirectSoundBuffer;
    void AddBuffer(TDirectSoundBuffer* buffer);
    void RemoveBuffer(TDirectSoundBuffer* buffer);

    UiQueue& ui;
    std::shared_ptr<SdlSoundSystem> device;
    std::vector<TDirectSoundBuffer*> buffers;  // not owned, except the primary buffer
    std::unique_ptr<TDirectSoundBuffer> primary;
};

}  // namespace kestrune
