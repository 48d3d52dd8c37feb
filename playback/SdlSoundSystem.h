#pragma once

// The sound device of the DirectSound-style layer, over SDL2: stands in for the platform's
// DirectSound 8 device interface. Its calls return DirectSound result codes instead of raising
// (TDirectSound passes them through CheckResult).
//
// SDL's audio subsystem stays started while this object or any buffer made on it lives: each
// buffer holds a counted reference to its system. Threads: create, use and destroy systems from
// one thread at a time (SDL's audio start-up and device opening are not reentrant).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "playback/DirectSoundTypes.h"

namespace kestrune {

class SdlSoundBuffer;

class SdlSoundSystem : public std::enable_shared_from_this<SdlSoundSystem> {
    struct Token {};

  public:
    // Starts SDL's audio and checks that the output device (`device`: an SDL output device name;
    // none: the default device) opens. DSERR_NODRIVER when no audio driver starts or the device
    // cannot be opened (no card, no sound server); `system` is then left empty.
    static TDSResult Create(const std::optional<std::string>& device,
                            std::shared_ptr<SdlSoundSystem>& system);

    SdlSoundSystem(Token, std::optional<std::string> device);
    ~SdlSoundSystem();
    SdlSoundSystem(const SdlSoundSystem&) = delete;
    SdlSoundSystem& operator=(const SdlSoundSystem&) = delete;

    // Accepts the four levels DSSCL_NORMAL … DSSCL_WRITEPRIMARY (others: DSERR_INVALIDPARAM).
    // SDL output needs no window, so `window` may be null.
    TDSResult SetCooperativeLevel(void* window, std::uint32_t level);

    // Makes a primary buffer (DSBCAPS_PRIMARYBUFFER, no bytes, no format) or a streaming buffer
    // with its own SDL device opened at the buffer's format. Failures: DSERR_INVALIDPARAM for a
    // bad description (size field, byte count outside DSBSIZE_MIN … DSBSIZE_MAX or not a whole
    // number of frames, missing format), DSERR_BADFORMAT for a format SDL cannot play (not 8-,
    // 16- or 32-bit PCM or 32-bit float, 1 … 8 channels, DSBFREQUENCY_MIN … DSBFREQUENCY_MAX Hz,
    // consistent block align and byte rate), DSERR_NODRIVER when the device does not open, and
    // DSERR_ALLOCATED when it does not open while another streaming buffer of this system plays
    // on it (SDL's dummy and disk drivers offer one device, which opens once at a time).
    TDSResult CreateSoundBuffer(const TDSBufferDesc& desc, std::shared_ptr<SdlSoundBuffer>& buffer);

    const std::optional<std::string>& DeviceName() const noexcept { return device_; }

  private:
    friend class SdlSoundBuffer;

    std::optional<std::string> device_;
    std::atomic<int> streams_{0};  // streaming buffers with an open SDL device
};

}  // namespace kestrune
