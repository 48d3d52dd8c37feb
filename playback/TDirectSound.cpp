#include "playback/TDirectSound.h"

#include <algorithm>

#include "playback/CheckResult.h"
#include "playback/DirectSoundTypes.h"
#include "playback/SdlSoundSystem.h"
#include "playback/TDirectSoundBuffer.h"

namespace kestrune {

TDirectSound::TDirectSound(UiQueue& ui, const std::optional<std::string>& deviceName,
                           std::uint32_t primaryFlags)
    : ui(ui) {
    CheckResult(SdlSoundSystem::Create(deviceName, device));
    TDSBufferDesc desc;
    desc.dwFlags = primaryFlags | DSBCAPS_CTRL3D | DSBCAPS_PRIMARYBUFFER;
    primary = std::make_unique<TDirectSoundBuffer>(*this, desc);
}

TDirectSound::~TDirectSound() {
    while (!buffers.empty()) buffers.back()->Release();
    primary.reset();
    device.reset();
}

void TDirectSound::SetCooperativeLevel(void* window, std::uint32_t level) {
    CheckResult(device->SetCooperativeLevel(window, level));
}

void TDirectSound::AddBuffer(TDirectSoundBuffer* buffer) {
    if (std::find(buffers.begin(), buffers.end(), buffer) == buffers.end())
        buffers.push_back(buffer);
}

void TDirectSound::RemoveBuffer(TDirectSoundBuffer* buffer) {
    buffers.erase(std::remove(buffers.begin(), buffers.end(), buffer), buffers.end());
}

}  // namespace kestrune
