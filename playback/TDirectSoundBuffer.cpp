#include "playback/TDirectSoundBuffer.h"

#include "playback/CheckResult.h"
#include "playback/SdlSoundBuffer.h"
#include "playback/SdlSoundSystem.h"
#include "playback/TDirectSound.h"
#include "playback/TNotifyThread.h"

namespace kestrune {

TDirectSoundBuffer::TDirectSoundBuffer(TDirectSound& owner, const TDSBufferDesc& desc)
    : owner(&owner) {
    CheckResult(owner.Interface().CreateSoundBuffer(desc, buffer));
    notify = buffer->QueryNotify();
    owner.AddBuffer(this);
}

TDirectSoundBuffer::~TDirectSoundBuffer() {
    Release();
}

void TDirectSoundBuffer::Release() {
    if (owner == nullptr) return;
    notifyThread.reset();
    notify.reset();
    buffer.reset();
    owner->RemoveBuffer(this);
    owner = nullptr;
}

SdlSoundBuffer& TDirectSoundBuffer::Interface() {
    if (buffer == nullptr) CheckResult(DSERR_INVALIDCALL);
    return *buffer;
}

std::uint32_t TDirectSoundBuffer::GetPlayCursor() {
    std::uint32_t play = 0;
    CheckResult(Interface().GetCurrentPosition(&play, nullptr));
    return play;
}

void TDirectSoundBuffer::SetPosition(std::uint32_t offset) {
    CheckResult(Interface().SetCurrentPosition(offset));
}

TLockRegions TDirectSoundBuffer::Lock(std::uint32_t offset, std::uint32_t bytes,
                                      std::uint32_t flags) {
    TLockRegions regions;
    CheckResult(Interface().Lock(offset, bytes, regions, flags));
    return regions;
}

void TDirectSoundBuffer::Unlock(const TLockRegions& regions) {
    CheckResult(Interface().Unlock(regions));
}

void TDirectSoundBuffer::Play(std::uint32_t flags) {
    CheckResult(Interface().Play(0, 0, flags));
}

void TDirectSoundBuffer::Stop() {
    CheckResult(Interface().Stop());
}

void TDirectSoundBuffer::SetNotifications(std::span<const std::uint32_t> offsets) {
    notifyThread.reset();
    if (owner == nullptr) CheckResult(DSERR_INVALIDCALL);
    notifyThread = std::make_unique<TNotifyThread>(
        *this, offsets, notify,
        [this](TDirectSoundBuffer& b, std::int32_t index) { NotifyHandler(b, index); },
        owner->Ui());
    notifyThread->Start();
}

void TDirectSoundBuffer::NotifyHandler(TDirectSoundBuffer& b, std::int32_t index) {
    if (OnNotify) OnNotify(b, index);
}

}  // namespace kestrune
