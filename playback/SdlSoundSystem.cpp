#include "playback/SdlSoundSystem.h"

#include <SDL.h>

#include "playback/SdlSoundBuffer.h"

namespace kestrune {

namespace {

struct ParsedFormat {
    SDL_AudioFormat sdlFormat = 0;
    int channels = 0;
    int rate = 0;
    std::uint32_t blockAlign = 0;
    std::uint8_t silence = 0;
};

// The SDL sample format of a PCM or float format record; false when SDL cannot play it.
bool ParseFormat(const TWaveFormatEx& f, ParsedFormat& out) {
    std::uint16_t tag = f.wFormatTag;
    const std::uint16_t bits = f.wBitsPerSample;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (f.cbSize < sizeof(TWaveFormatExtensible) - sizeof(TWaveFormatEx)) return false;
        const auto& x = reinterpret_cast<const TWaveFormatExtensible&>(f);
        if (x.wValidBitsPerSample != bits) return false;
        const TGuid sub = x.SubFormat;
        if (sub == KSDATAFORMAT_SUBTYPE_PCM)
            tag = WAVE_FORMAT_PCM;
        else if (sub == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
            tag = WAVE_FORMAT_IEEE_FLOAT;
        else
            return false;
    }
    if (tag == WAVE_FORMAT_PCM && bits == 8) {
        out.sdlFormat = AUDIO_U8;
        out.silence = 0x80;
    } else if (tag == WAVE_FORMAT_PCM && bits == 16) {
        out.sdlFormat = AUDIO_S16LSB;
    } else if (tag == WAVE_FORMAT_PCM && bits == 32) {
        out.sdlFormat = AUDIO_S32LSB;
    } else if (tag == WAVE_FORMAT_IEEE_FLOAT && bits == 32) {
        out.sdlFormat = AUDIO_F32LSB;
    } else {
        return false;
    }
    const std::uint32_t channels = f.nChannels;
    const std::uint32_t rate = f.nSamplesPerSec;
    if (channels < 1 || channels > 8) return false;
    if (rate < DSBFREQUENCY_MIN || rate > DSBFREQUENCY_MAX) return false;
    const std::uint32_t align = channels * bits / 8;
    if (f.nBlockAlign != align || f.nAvgBytesPerSec != rate * align) return false;
    out.channels = static_cast<int>(channels);
    out.rate = static_cast<int>(rate);
    out.blockAlign = align;
    return true;
}

}  // namespace

TDSResult SdlSoundSystem::Create(const std::optional<std::string>& device,
                                 std::shared_ptr<SdlSoundSystem>& system) {
    system.reset();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return DSERR_NODRIVER;
    // From here the object owns the started subsystem.
    auto made = std::make_shared<SdlSoundSystem>(Token{}, device);
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 1024;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID probe = SDL_OpenAudioDevice(device ? device->c_str() : nullptr, 0,
                                                        &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (probe == 0) return DSERR_NODRIVER;
    SDL_CloseAudioDevice(probe);
    system = std::move(made);
    return DS_OK;
}

SdlSoundSystem::SdlSoundSystem(Token, std::optional<std::string> device)
    : device_(std::move(device)) {}

SdlSoundSystem::~SdlSoundSystem() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

TDSResult SdlSoundSystem::SetCooperativeLevel(void*, std::uint32_t level) {
    return level >= DSSCL_NORMAL && level <= DSSCL_WRITEPRIMARY ? DS_OK : DSERR_INVALIDPARAM;
}

TDSResult SdlSoundSystem::CreateSoundBuffer(const TDSBufferDesc& desc,
                                            std::shared_ptr<SdlSoundBuffer>& buffer) {
    buffer.reset();
    if (desc.dwSize != kDSBufferDescSize) return DSERR_INVALIDPARAM;
    if (desc.dwFlags & DSBCAPS_PRIMARYBUFFER) {
        if (desc.dwBufferBytes != 0 || desc.lpwfxFormat != nullptr) return DSERR_INVALIDPARAM;
        buffer = std::make_shared<SdlSoundBuffer>(SdlSoundBuffer::Token{}, shared_from_this(),
                                                  desc.dwFlags, 0, 1, 0);
        return DS_OK;
    }
    if (desc.lpwfxFormat == nullptr) return DSERR_INVALIDPARAM;
    if (desc.dwBufferBytes < DSBSIZE_MIN || desc.dwBufferBytes > DSBSIZE_MAX)
        return DSERR_INVALIDPARAM;
    ParsedFormat f;
    if (!ParseFormat(*desc.lpwfxFormat, f)) return DSERR_BADFORMAT;
    if (desc.dwBufferBytes % f.blockAlign != 0) return DSERR_INVALIDPARAM;
    auto made =
        std::make_shared<SdlSoundBuffer>(SdlSoundBuffer::Token{}, shared_from_this(), desc.dwFlags,
                                         desc.dwBufferBytes, f.blockAlign, f.silence);
    if (const TDSResult r = made->Open(device_, f.rate, f.sdlFormat, f.channels); r != DS_OK)
        return r;
    buffer = std::move(made);
    return DS_OK;
}

}  // namespace kestrune
