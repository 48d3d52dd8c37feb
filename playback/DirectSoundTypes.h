#pragma once

// The records, flags and result codes of Kestrune's DirectSound-style sound output. The records
// keep the platform's own layouts (WAVEFORMATEX, WAVEFORMATEXTENSIBLE, DSBUFFERDESC,
// DSBPOSITIONNOTIFY), so code written against DirectSound reads the same here; the output itself
// runs over SDL2 (SdlSoundSystem, SdlSoundBuffer).

#include <cstdint>

namespace kestrune {

class Event;

// A DirectSound result code: 0 is success, a negative value a failure.
using TDSResult = std::int32_t;

inline constexpr TDSResult DS_OK = 0;
inline constexpr TDSResult DSERR_UNSUPPORTED = static_cast<TDSResult>(0x80004001u);
inline constexpr TDSResult DSERR_GENERIC = static_cast<TDSResult>(0x80004005u);
inline constexpr TDSResult DSERR_NOAGGREGATION = static_cast<TDSResult>(0x80040110u);
inline constexpr TDSResult DSERR_OUTOFMEMORY = static_cast<TDSResult>(0x8007000Eu);
inline constexpr TDSResult DSERR_INVALIDPARAM = static_cast<TDSResult>(0x80070057u);
inline constexpr TDSResult DSERR_ALLOCATED = static_cast<TDSResult>(0x8878000Au);
inline constexpr TDSResult DSERR_CONTROLUNAVAIL = static_cast<TDSResult>(0x8878001Eu);
inline constexpr TDSResult DSERR_INVALIDCALL = static_cast<TDSResult>(0x88780032u);
inline constexpr TDSResult DSERR_PRIOLEVELNEEDED = static_cast<TDSResult>(0x88780046u);
inline constexpr TDSResult DSERR_BADFORMAT = static_cast<TDSResult>(0x88780064u);
inline constexpr TDSResult DSERR_NODRIVER = static_cast<TDSResult>(0x88780078u);
inline constexpr TDSResult DSERR_ALREADYINITIALIZED = static_cast<TDSResult>(0x88780082u);
inline constexpr TDSResult DSERR_BUFFERLOST = static_cast<TDSResult>(0x88780096u);
inline constexpr TDSResult DSERR_OTHERAPPHASPRIO = static_cast<TDSResult>(0x887800A0u);
inline constexpr TDSResult DSERR_UNINITIALIZED = static_cast<TDSResult>(0x887800AAu);

// Buffer capabilities (TDSBufferDesc::dwFlags).
inline constexpr std::uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
inline constexpr std::uint32_t DSBCAPS_CTRL3D = 0x10;
inline constexpr std::uint32_t DSBCAPS_CTRLVOLUME = 0x80;
inline constexpr std::uint32_t DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
inline constexpr std::uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
inline constexpr std::uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

// Cooperative levels.
inline constexpr std::uint32_t DSSCL_NORMAL = 1;
inline constexpr std::uint32_t DSSCL_PRIORITY = 2;
inline constexpr std::uint32_t DSSCL_EXCLUSIVE = 3;
inline constexpr std::uint32_t DSSCL_WRITEPRIMARY = 4;

inline constexpr std::uint32_t DSBPLAY_LOOPING = 0x1;
inline constexpr std::uint32_t DSBLOCK_FROMWRITECURSOR = 0x1;
inline constexpr std::uint32_t DSBLOCK_ENTIREBUFFER = 0x2;
// The notification offset that fires when the buffer stops.
inline constexpr std::uint32_t DSBPN_OFFSETSTOP = 0xFFFFFFFF;

// Limits of a streaming buffer: its size in bytes and its sample rate in Hz.
inline constexpr std::uint32_t DSBSIZE_MIN = 4;
inline constexpr std::uint32_t DSBSIZE_MAX = 0x0FFFFFFF;
inline constexpr std::uint32_t DSBFREQUENCY_MIN = 100;
inline constexpr std::uint32_t DSBFREQUENCY_MAX = 200000;

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

#pragma pack(push, 1)

struct TGuid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const TGuid&, const TGuid&) = default;
};

// WAVEFORMATEX: 18 bytes.
struct TWaveFormatEx {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;  // bytes per frame
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;  // bytes of extra format information after these 18
};

// WAVEFORMATEXTENSIBLE: 40 bytes; Format.wFormatTag is WAVE_FORMAT_EXTENSIBLE and
// Format.cbSize 22.
struct TWaveFormatExtensible {
    TWaveFormatEx Format;
    std::uint16_t wValidBitsPerSample;
    std::uint32_t dwChannelMask;
    TGuid SubFormat;
};

#pragma pack(pop)

static_assert(sizeof(TGuid) == 16);
static_assert(sizeof(TWaveFormatEx) == 18);
static_assert(sizeof(TWaveFormatExtensible) == 40);

// The format record of 16-bit PCM, the document's format, at `channels` and `rate`.
inline constexpr TWaveFormatEx Pcm16Format(std::uint16_t channels, std::uint32_t rate) {
    return {WAVE_FORMAT_PCM,
            channels,
            rate,
            rate * channels * 2u,
            static_cast<std::uint16_t>(channels * 2),
            16,
            0};
}

inline constexpr TGuid GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr TGuid KSDATAFORMAT_SUBTYPE_PCM{
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TGuid KSDATAFORMAT_SUBTYPE_IEEE_FLOAT{
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// The size DirectSound expects in TDSBufferDesc::dwSize. (The record itself is larger here, as
// its format pointer has 64 bits.)
inline constexpr std::uint32_t kDSBufferDescSize = 36;

// DSBUFFERDESC: what to make. A primary buffer has DSBCAPS_PRIMARYBUFFER, 0 bytes and no format;
// a streaming buffer has 4 … 0x0FFFFFFF bytes and a format (a TWaveFormatEx, or the Format of a
// TWaveFormatExtensible with its tag and cbSize saying so).
struct TDSBufferDesc {
    std::uint32_t dwSize = kDSBufferDescSize;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwBufferBytes = 0;
    std::uint32_t dwReserved = 0;
    const TWaveFormatEx* lpwfxFormat = nullptr;
    TGuid guid3DAlgorithm = GUID_NULL;
};

// DSBPOSITIONNOTIFY: an auto-reset event set when the play cursor passes dwOffset (a byte offset
// in the buffer), or when the buffer stops (DSBPN_OFFSETSTOP).
struct TDSBPositionNotify {
    std::uint32_t dwOffset;
    Event* hEventNotify;
};

// The one or two writable regions of a locked byte range of a ring buffer: the second is the
// part that wrapped round to the buffer's start (null and 0 when the range did not wrap).
struct TLockRegions {
    std::uint8_t* ptr1 = nullptr;
    std::uint32_t bytes1 = 0;
    std::uint8_t* ptr2 = nullptr;
    std::uint32_t bytes2 = 0;
};

}  // namespace kestrune
