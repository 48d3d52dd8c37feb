#include "playback/TPlayer.h"

#include <algorithm>
#include <cstring>

#include "document/TLargeFile.h"
#include "document/Twavefile.h"
#include "platform/PlaybackIdle.h"
#include "playback/CheckResult.h"
#include "playback/TDirectSound.h"
#include "playback/TDirectSoundBuffer.h"

namespace kestrune {

TPlayer::TPlayer(UiQueue& ui, void* window) : ui(ui), window(window) {}

TPlayer::~TPlayer() {
    const bool wasPlaying = playing;
    playing = false;
    if (wasPlaying && ring) {
        try {
            ring->Stop();
        } catch (...) {
        }
    }
    ring.reset();
    device.reset();
    if (wasPlaying) PlaybackIdle.set();
}

// --- Arithmetic ---

std::uint64_t TPlayer::ChunkSizeOf(const TWaveFormatEx& f) {
    const std::uint64_t align = f.nBlockAlign;
    if (align == 0) return 0;
    std::uint64_t chunk = (align * f.nSamplesPerSec) >> 4;
    if (chunk % align != 0) chunk += align - chunk % align;
    return chunk;
}

std::uint32_t TPlayer::ChannelMask(std::uint32_t channels) {
    switch (channels) {
        case 1:
            return 0x4;
        case 2:
            return 0x3;
        case 3:
            return 0xB;
        case 4:
            return 0x33;
        case 5:
            return 0x3B;
        case 6:
            return 0x3F;
        case 8:
            return 0xFF;
        default:
            return 0;
    }
}

TWaveFormatExtensible TPlayer::ExtensibleFormat(const TWaveFormatEx& f) {
    TWaveFormatExtensible x{};
    x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    x.Format.nChannels = f.nChannels;
    x.Format.nSamplesPerSec = f.nSamplesPerSec;
    x.Format.nAvgBytesPerSec = f.nAvgBytesPerSec;
    x.Format.nBlockAlign = f.nBlockAlign;
    x.Format.wBitsPerSample = f.wBitsPerSample;
    x.Format.cbSize = sizeof(TWaveFormatExtensible) - sizeof(TWaveFormatEx);  // 22
    x.wValidBitsPerSample = 16;
    x.dwChannelMask = ChannelMask(f.nChannels);
    x.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    return x;
}

std::array<std::uint32_t, TPlayer::NotificationCount> TPlayer::NotificationOffsets(
    std::uint32_t chunk) {
    std::array<std::uint32_t, NotificationCount> offsets{};
    for (std::uint32_t i = 0; i + 1 < ChunkCount; ++i) offsets[i] = chunk * (i + 1);
    offsets[ChunkCount - 1] = chunk * ChunkCount - 1;
    offsets[ChunkCount] = DSBPN_OFFSETSTOP;
    return offsets;
}

// --- Operations ---

void TPlayer::Initialize() {
    ring.reset();
    device.reset();
    bufferOpen = false;
    playing = false;
    try {
        device = std::make_unique<TDirectSound>(ui);
        device->SetCooperativeLevel(window, DSSCL_NORMAL);
    } catch (...) {
        device.reset();
        if (OnPlayStatus) OnPlayStatus(false);
        throw;
    }
    if (OnPlayStatus) OnPlayStatus(false);
}

void TPlayer::Open(Twavefile& doc, std::uint32_t first, const TWaveFormatEx& f,
                   std::int32_t bytes) {
    Close();
    if (!device) return;  // no sound device: nothing can be opened
    document = &doc;
    start = first;
    format = f;
    readOffset = 0;

    // Whole frames only, and never past the end of the store.
    std::uint64_t len = bytes > 0 ? static_cast<std::uint64_t>(bytes) : 0;
    store = nullptr;
    {
        std::unique_lock lock(doc.StoreLock(), std::try_to_lock);
        if (lock.owns_lock() && doc.Ready() && doc.Current() != nullptr) {
            store = doc.Current();
            storeGeneration = doc.StoreGeneration();
            const std::uint64_t samples = doc.Current()->sampleCount();
            len = std::min<std::uint64_t>(len, samples > first ? (samples - first) * 2 : 0);
        }
    }
    if (f.nBlockAlign != 0) len -= len % f.nBlockAlign;
    length = static_cast<std::int32_t>(len);

    const std::uint64_t chunk = ChunkSizeOf(f);
    if (chunk == 0 || chunk * ChunkCount > DSBSIZE_MAX) CheckResult(DSERR_INVALIDPARAM);
    chunkSize = static_cast<std::uint32_t>(chunk);
    bufferSize = chunkSize * ChunkCount;

    extensible = ExtensibleFormat(f);
    TDSBufferDesc desc;
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY |
                   DSBCAPS_CTRLVOLUME;
    desc.dwBufferBytes = bufferSize;
    desc.lpwfxFormat = &extensible.Format;
    ring = std::make_unique<TDirectSoundBuffer>(*device, desc);
    bufferOpen = true;

    endReached = false;
    writeOffset = 0;
    FillBuffer();
    finishing = false;
}

void TPlayer::Play() {
    if (playing) StopPlayback(false);
    if (!bufferOpen) {
        playing = false;
        if (OnPlayStatus) OnPlayStatus(false);
        return;
    }
    if (fillFailed) Rewind();
    PlaybackIdle.reset();
    try {
        SetupNotifications();
        ring->SetPosition(0);
        finishing = false;
        ring->Play(DSBPLAY_LOOPING);
    } catch (...) {
        PlaybackIdle.set();
        throw;
    }
    playing = true;
    if (OnPlayStatus) OnPlayStatus(true);
}

void TPlayer::Stop() {
    StopPlayback(false);
}

void TPlayer::Close() {
    StopPlayback(true);
}

void TPlayer::Shutdown() {
    StopPlayback(true);
    device.reset();
}

void TPlayer::StopPlayback(bool release) {
    try {
        if (playing) {
            playing = false;
            ring->Stop();
        }
        if (release) {
            ring.reset();
            bufferOpen = false;
            document = nullptr;
            store = nullptr;
        } else if (bufferOpen) {
            Rewind();
        }
    } catch (...) {
        PlaybackIdle.set();
        throw;
    }
    PlaybackIdle.set();
    if (OnPlayStatus) OnPlayStatus(playing);
}

void TPlayer::Rewind() {
    readOffset = 0;
    endReached = false;
    writeOffset = 0;
    FillBuffer();
    finishing = false;
}

// --- Filling ---

TLargeFile* TPlayer::AvailableStore(std::unique_lock<std::mutex>& lock) {
    if (document == nullptr || store == nullptr) return nullptr;
    lock = std::unique_lock(document->StoreLock(), std::try_to_lock);
    if (!lock.owns_lock()) return nullptr;
    // The generation as well as the address: a store made after the old one was released may
    // take its place in memory.
    if (!document->Ready() || document->Current() == nullptr || document->Current() != store ||
        document->StoreGeneration() != storeGeneration) {
        lock.unlock();
        return nullptr;
    }
    return document->Current();
}

void TPlayer::Silence(std::uint8_t* p, std::uint32_t n) const {
    std::memset(p, format.wBitsPerSample == 8 ? 0x80 : 0, n);
}

std::uint32_t TPlayer::CopyRange(TLargeFile* source, std::uint8_t* p, std::uint32_t n) {
    std::uint32_t count = 0;
    if (source != nullptr && length > 0) {
        const auto len = static_cast<std::uint32_t>(length);
        count = std::min(len - std::min(readOffset, len), n);
    }
    if (count > 0) {
        // Samples first … first + wanted − 1; a store shorter than the range reads as silence.
        const std::uint64_t first = std::uint64_t{start} + readOffset / 2;
        const std::uint64_t wanted = count / 2;
        const std::uint64_t held = source->sampleCount();
        const std::uint64_t have = first < held ? std::min(wanted, held - first) : 0;
        if (have > 0)
            source->getblock(reinterpret_cast<std::int16_t*>(p), static_cast<std::uint32_t>(first),
                             static_cast<std::uint32_t>(first + have - 1));
        Silence(p + 2 * have, count - static_cast<std::uint32_t>(2 * have));
        readOffset += count;
    }
    Silence(p + count, n - count);
    return count;
}

std::uint32_t TPlayer::FillRegions(TLargeFile* source, const TLockRegions& r) {
    std::uint32_t count = CopyRange(source, r.ptr1, r.bytes1);
    if (r.ptr2 != nullptr) count += CopyRange(source, r.ptr2, r.bytes2);
    return count;
}

std::uint32_t TPlayer::RefillChunk(TLargeFile* source) {
    const TLockRegions r = ring->Lock(writeOffset, chunkSize, 0);
    const std::uint32_t count = FillRegions(source, r);
    ring->Unlock(r);
    writeOffset = (writeOffset + chunkSize) % bufferSize;
    return count;
}

void TPlayer::FillBuffer() {
    const TLockRegions r = ring->Lock(0, bufferSize, 0);
    std::uint32_t count = 0;
    {
        std::unique_lock<std::mutex> lock;
        TLargeFile* source = AvailableStore(lock);
        fillFailed = source == nullptr;
        count = FillRegions(source, r);
    }
    if (count < r.bytes1 + r.bytes2 && count < chunkSize) endReached = true;
    ring->Unlock(r);
    writeOffset += r.bytes1 + r.bytes2;
    if (writeOffset >= bufferSize) writeOffset -= bufferSize;
    position = 0;
    lastCursor = 0;
}

void TPlayer::SetupNotifications() {
    const auto offsets = NotificationOffsets(chunkSize);
    ring->OnNotify = [this](TDirectSoundBuffer& buffer, std::int32_t index) {
        HandleNotify(buffer, index);
    };
    ring->SetNotifications(offsets);
}

std::int32_t TPlayer::Reported() const noexcept {
    if (finishing) return length;
    return static_cast<std::int32_t>(
        std::min<std::uint64_t>(position, static_cast<std::uint64_t>(std::max(length, 0))));
}

void TPlayer::HandleNotify(TDirectSoundBuffer& buffer, std::int32_t index) {
    // A notification handed over before a stop, or from a buffer that is gone.
    if (!playing || &buffer != ring.get()) return;
    bool stop = false;
    bool report = true;
    {
        std::unique_lock<std::mutex> lock;
        TLargeFile* source = AvailableStore(lock);
        if (source == nullptr) {
            // Closed, replaced, or an operation has begun on it.
            stop = true;
        } else {
            const std::uint32_t cursor = ring->GetPlayCursor();
            position +=
                cursor >= lastCursor ? cursor - lastCursor : bufferSize - lastCursor + cursor;
            lastCursor = cursor;
            const auto len = static_cast<std::uint64_t>(std::max(length, 0));
            if (index == StopNotification) {
                // The ring buffer has stopped under the player.
                finishing = true;
                stop = true;
            } else if (finishing) {
                // The end has been reported; stop once the cursor has really passed it, so that
                // a late notification never cuts the range's last bytes.
                if (position >= len) {
                    stop = true;
                } else {
                    RefillChunk(nullptr);
                    report = false;
                }
            } else if (endReached) {
                // Silence over the chunk just played, moving on each time, so that whatever the
                // cursor reaches after the range's end is silence.
                RefillChunk(nullptr);
                if ((chunkSize < len && position >= len - chunkSize) || position >= len)
                    finishing = true;
            } else if (RefillChunk(source) < chunkSize) {
                endReached = true;
            }
        }
    }
    if (stop) {
        StopPlayback(false);
        return;
    }
    if (report && OnPlayProcess) OnPlayProcess(Reported());
}

}  // namespace kestrune
