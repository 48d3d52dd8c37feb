#pragma once

// Plays a range of the document's 16-bit samples through a looping ring buffer of sixteen
// chunks of about 1/16 s each. The first second is copied in when the range is opened; each
// position notification refills the chunk the play cursor has just left (so about 15/16 s is
// always queued ahead), reports the bytes played so far, and once the range has been read the
// chunks become silence and playback stops by itself about one chunk after the range's end.
//
// While it plays, PlaybackIdle is reset, so document operations (which wait for it) keep off
// the samples; every stop sets it again. The samples are read from the document's Current store
// only while the document is Ready, its store is the one the range was opened on, and the
// store lock can be taken; otherwise the next notification stops playback, and a buffer refilled
// then gets silence. The player never keeps using a store the document has released.
//
// Threads: UI thread only (every operation, and every callback: notifications arrive through
// the UiQueue given to the constructor). The callbacks are raised last in each operation, so
// they may call any operation of the player (but not destroy it).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/UiQueue.h"
#include "playback/DirectSoundTypes.h"

namespace kestrune {

class TDirectSound;
class TDirectSoundBuffer;
class TLargeFile;
class Twavefile;

// Index: bytes of the range played so far, 0 … the range's length.
using TPlayProcess = std::function<void(std::int32_t Index)>;
// action: true when playback has started, false when it is not playing.
using TPlayStatus = std::function<void(bool action)>;

class TPlayer {
  public:
    static constexpr std::uint32_t ChunkCount = 16;
    // Notification indices 0 … 15 arrive as the play cursor leaves chunk 0 … 15; index 16 when
    // the ring buffer stops.
    static constexpr std::size_t NotificationCount = 17;
    static constexpr std::int32_t StopNotification = 16;

    // `ui` delivers the notifications; `window` is handed to the device's cooperative level
    // (null: none).
    explicit TPlayer(UiQueue& ui, void* window = nullptr);
    // Releases the buffer and the device without raising callbacks; sets PlaybackIdle if it
    // was playing.
    ~TPlayer();
    TPlayer(const TPlayer&) = delete;
    TPlayer& operator=(const TPlayer&) = delete;

    // Creates the device (default output) with cooperative level DSSCL_NORMAL, then reports
    // OnPlayStatus(false). Without a usable sound device it raises EDirectSoundError
    // (DSERR_NODRIVER, "No sound driver is available for use") after reporting
    // OnPlayStatus(false); the player then has no device, Open opens nothing and Play reports
    // false, so the program works on without sound.
    void Initialize();

    // Closes any previous buffer and prepares a ring buffer for the range filled with its
    // first second. `start`: the first sample (frame × channels); `length`: bytes of the range
    // (channels × frames × 2), rounded down to whole frames and clamped to the store's end;
    // `format`: 16-bit PCM with the document's channels and rate. The document must outlive
    // the open buffer. Raises EDirectSoundError when the ring buffer cannot be made; no buffer
    // is open then.
    void Open(Twavefile& document, std::uint32_t start, const TWaveFormatEx& format,
              std::int32_t length);
    // Plays the open buffer from the range start (restarting if already playing: reports
    // false, then true). With no buffer open it only reports false.
    void Play();
    // Stops and rewinds; the buffer stays open and a following Play starts again from the
    // range start. Reports false.
    void Stop();
    // Stops and releases the ring buffer. Reports false.
    void Close();
    // Close, then destroys the device.
    void Shutdown();

    bool Playing() const noexcept { return playing; }

    TPlayProcess OnPlayProcess;
    TPlayStatus OnPlayStatus;

    // State of the open buffer, for the view and for diagnostics.
    std::uint32_t ChunkSize() const noexcept { return chunkSize; }
    std::uint32_t BufferSize() const noexcept { return bufferSize; }
    std::int32_t Length() const noexcept { return length; }
    // The format description the ring buffer was made with.
    const TWaveFormatExtensible& Format() const noexcept { return extensible; }
    // The ring buffer while one is open, else null.
    TDirectSoundBuffer* Buffer() noexcept { return ring.get(); }
    bool HasDevice() const noexcept { return device != nullptr; }

    // Bytes per chunk for a format: (block align × rate) / 16, rounded up to a whole frame
    // (11028 for 44100 Hz stereo, 5512 for mono). 0 for a format without frames.
    static std::uint64_t ChunkSizeOf(const TWaveFormatEx& format);
    // The speaker mask for a channel count (0 for 7 or more than 8 channels).
    static std::uint32_t ChannelMask(std::uint32_t channels);
    // The WAVEFORMATEXTENSIBLE record for a 16-bit PCM format.
    static TWaveFormatExtensible ExtensibleFormat(const TWaveFormatEx& format);
    // chunk × 1 … chunk × 15, the ring's last byte (16 × chunk − 1), then DSBPN_OFFSETSTOP.
    static std::array<std::uint32_t, NotificationCount> NotificationOffsets(std::uint32_t chunk);

  private:
    void StopPlayback(bool release);
    void Rewind();
    void FillBuffer();
    void SetupNotifications();
    void HandleNotify(TDirectSoundBuffer& buffer, std::int32_t index);
    // The document's store, with the store lock taken in `lock`, while the range may be read
    // from it; null otherwise.
    TLargeFile* AvailableStore(std::unique_lock<std::mutex>& lock);
    // Copies up to `n` bytes of the range from the read offset to `p` (nothing without a
    // source), fills the rest of the n bytes with silence, and returns the bytes copied.
    std::uint32_t CopyRange(TLargeFile* source, std::uint8_t* p, std::uint32_t n);
    void Silence(std::uint8_t* p, std::uint32_t n) const;
    // Fills the locked regions from the range, or with silence when `source` is null.
    std::uint32_t FillRegions(TLargeFile* source, const TLockRegions& regions);
    // Refills the chunk at the write offset from the range (silence when `source` is null) and
    // moves the write offset on by a chunk; returns the bytes copied from the range.
    std::uint32_t RefillChunk(TLargeFile* source);
    // The position to report: never past the length, the length once finishing.
    std::int32_t Reported() const noexcept;

    UiQueue& ui;
    void* window;

    Twavefile* document = nullptr;      // not owned
    const TLargeFile* store = nullptr;  // the store the range was opened on; compared, never read
    std::uint64_t storeGeneration = 0;  // and its generation in the document
    std::uint32_t start = 0;            // first sample of the range
    std::uint32_t readOffset = 0;       // bytes of the range copied into the ring
    std::int32_t length = 0;            // bytes of the range
    TWaveFormatEx format{};
    TWaveFormatExtensible extensible{};
    std::uint32_t bufferSize = 0;
    std::uint32_t chunkSize = 0;
    std::uint32_t writeOffset = 0;  // ring offset of the next chunk to refill
    std::uint64_t position = 0;     // bytes the play cursor has passed since Play
    std::uint32_t lastCursor = 0;
    bool finishing = false;   // the end has been reported; stop once the cursor is past it
    bool endReached = false;  // the range has been read; chunks are filled with silence
    bool fillFailed = false;  // the last fill of the whole ring could not read the store
    bool bufferOpen = false;
    bool playing = false;

    std::unique_ptr<TDirectSound> device;
    std::unique_ptr<TDirectSoundBuffer> ring;
};

}  // namespace kestrune
