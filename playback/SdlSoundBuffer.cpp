#include "playback/SdlSoundBuffer.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "platform/Event.h"
#include "playback/SdlSoundSystem.h"

namespace kestrune {

namespace {

// Frames per SDL callback: the largest power of two within 12.5 ms (512 at 44100 Hz), so that
// playback starts within one short period and the callback runs about 86 times a second.
Uint16 PeriodFrames(int rate) {
    Uint16 frames = 64;
    while (frames < 4096 && frames * 2 <= rate / 80) frames = static_cast<Uint16>(frames * 2);
    return frames;
}

}  // namespace

SdlSoundBuffer::SdlSoundBuffer(Token, std::shared_ptr<SdlSoundSystem> system, std::uint32_t flags,
                               std::uint32_t bytes, std::uint32_t blockAlign, std::uint8_t silence)
    : system_(std::move(system)),
      flags_(flags),
      ring_(bytes, silence),
      blockAlign_(blockAlign),
      silence_(silence) {}

SdlSoundBuffer::~SdlSoundBuffer() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);
        --system_->streams_;
    }
}

TDSResult SdlSoundBuffer::Open(const std::optional<std::string>& device, int rate,
                               std::uint16_t sdlFormat, int channels) {
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = sdlFormat;
    want.channels = static_cast<Uint8>(channels);
    want.samples = PeriodFrames(rate);
    want.callback = &SdlSoundBuffer::AudioCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts to whatever the hardware takes.
    device_ = SDL_OpenAudioDevice(device ? device->c_str() : nullptr, 0, &want, &have, 0);
    if (device_ == 0) return system_->streams_ > 0 ? DSERR_ALLOCATED : DSERR_NODRIVER;
    ++system_->streams_;
    SDL_PauseAudioDevice(device_, 0);
    return DS_OK;
}

std::shared_ptr<SdlSoundBuffer> SdlSoundBuffer::QueryNotify() {
    if (ring_.empty() || !(flags_ & DSBCAPS_CTRLPOSITIONNOTIFY)) return nullptr;
    return shared_from_this();
}

TDSResult SdlSoundBuffer::GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) {
    if (ring_.empty()) return DSERR_INVALIDCALL;
    std::lock_guard lock(mutex_);
    if (play) *play = cursor_;
    if (write) *write = cursor_;
    return DS_OK;
}

TDSResult SdlSoundBuffer::SetCurrentPosition(std::uint32_t offset) {
    if (ring_.empty()) return DSERR_INVALIDCALL;
    if (offset >= ring_.size()) return DSERR_INVALIDPARAM;
    std::lock_guard lock(mutex_);
    cursor_ = offset - offset % blockAlign_;
    return DS_OK;
}

TDSResult SdlSoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes, TLockRegions& regions,
                               std::uint32_t flags) {
    regions = {};
    if (ring_.empty()) return DSERR_INVALIDCALL;
    const auto size = static_cast<std::uint32_t>(ring_.size());
    if (flags & DSBLOCK_ENTIREBUFFER) {
        regions.ptr1 = ring_.data();
        regions.bytes1 = size;
        return DS_OK;
    }
    if (flags & DSBLOCK_FROMWRITECURSOR) {
        std::lock_guard lock(mutex_);
        offset = cursor_;
    }
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
    regions.ptr1 = ring_.data() + offset;
    regions.bytes1 = std::min(bytes, size - offset);
    if (regions.bytes1 < bytes) {
        regions.ptr2 = ring_.data();
        regions.bytes2 = bytes - regions.bytes1;
    }
    return DS_OK;
}

bool SdlSoundBuffer::InRing(const std::uint8_t* p, std::uint32_t n) const {
    const std::uint8_t* begin = ring_.data();
    const std::uint8_t* end = begin + ring_.size();
    return p >= begin && p <= end && n <= static_cast<std::size_t>(end - p);
}

TDSResult SdlSoundBuffer::Unlock(const TLockRegions& regions) {
    if (ring_.empty()) return DSERR_INVALIDCALL;
    if (regions.ptr1 == nullptr || !InRing(regions.ptr1, regions.bytes1)) return DSERR_INVALIDPARAM;
    if (regions.ptr2 != nullptr ? !InRing(regions.ptr2, regions.bytes2) : regions.bytes2 != 0)
        return DSERR_INVALIDPARAM;
    // Taking the mutex orders the bytes just written before the callback's next copy.
    std::lock_guard lock(mutex_);
    return DS_OK;
}

TDSResult SdlSoundBuffer::Play(std::uint32_t reserved, std::uint32_t priority,
                               std::uint32_t flags) {
    if (ring_.empty()) return DSERR_INVALIDCALL;
    if (reserved != 0 || priority != 0) return DSERR_INVALIDPARAM;
    std::lock_guard lock(mutex_);
    playing_ = true;
    looping_ = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
}

TDSResult SdlSoundBuffer::Stop() {
    if (ring_.empty()) return DSERR_INVALIDCALL;
    std::lock_guard lock(mutex_);
    if (playing_) {
        playing_ = false;
        SignalStop();
    }
    return DS_OK;
}

TDSResult SdlSoundBuffer::SetNotificationPositions(std::uint32_t count,
                                                   const TDSBPositionNotify* positions) {
    if (ring_.empty() || !(flags_ & DSBCAPS_CTRLPOSITIONNOTIFY)) return DSERR_CONTROLUNAVAIL;
    if (count == 0) {
        std::lock_guard lock(mutex_);
        positions_.clear();
        return DS_OK;
    }
    if (positions == nullptr) return DSERR_INVALIDPARAM;
    std::vector<TDSBPositionNotify> list(positions, positions + count);
    for (const auto& p : list)
        if (p.hEventNotify == nullptr ||
            (p.dwOffset >= ring_.size() && p.dwOffset != DSBPN_OFFSETSTOP))
            return DSERR_INVALIDPARAM;
    std::lock_guard lock(mutex_);
    if (playing_) return DSERR_INVALIDCALL;
    positions_ = std::move(list);
    return DS_OK;
}

void SdlSoundBuffer::AudioCallback(void* self, std::uint8_t* stream, int len) {
    static_cast<SdlSoundBuffer*>(self)->Render(stream, static_cast<std::uint32_t>(len));
}

void SdlSoundBuffer::Render(std::uint8_t* out, std::uint32_t len) {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<std::uint32_t>(ring_.size());
    std::uint32_t done = 0;
    while (playing_ && done < len) {
        const std::uint32_t n = std::min(len - done, size - cursor_);
        std::memcpy(out + done, ring_.data() + cursor_, n);
        const std::uint32_t from = cursor_;
        cursor_ += n;
        done += n;
        if (cursor_ == size) {
            cursor_ = 0;
            if (!looping_) playing_ = false;
        }
        SignalPassed(from, from + n);
        if (!playing_) SignalStop();
    }
    if (done < len) std::memset(out + done, silence_, len - done);
}

void SdlSoundBuffer::SignalPassed(std::uint32_t from, std::uint32_t to) {
    for (const auto& p : positions_)
        if (p.dwOffset != DSBPN_OFFSETSTOP && p.dwOffset >= from && p.dwOffset < to)
            p.hEventNotify->set();
}

void SdlSoundBuffer::SignalStop() {
    for (const auto& p : positions_)
        if (p.dwOffset == DSBPN_OFFSETSTOP) p.hEventNotify->set();
}

}  // namespace kestrune
