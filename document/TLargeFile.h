#pragma once

// The sample store: a working WAV file (a 44-byte header followed by signed 16-bit little-endian
// samples) reached through one memory-mapped window of at most 32 MiB that slides over the file.
//
// Sample index i lives at byte 44 + 2 × i. Valid indices are 0 … (file size − 44) ÷ 2 − 1; an
// index outside them raises std::out_of_range and leaves the window as it was.
//
// Window rules: an access inside the window uses it; any other access maps a new window starting
// at the granule (64 KiB) that holds the sample and reaching min(file size − start, 32 MiB) bytes.
// Block copies move the window exactly where the same single-sample accesses would, but copy each
// in-window run at once.
//
// Not thread-safe: one thread at a time (the document keeps readers and operations apart).

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/FileMapping.h"

namespace kestrune {

static_assert(std::endian::native == std::endian::little, "the working format is little-endian");

class TLargeFile {
  public:
    static constexpr std::uint32_t HeaderSize = 44;
    static constexpr std::uint32_t MaxWindow = 32u * 1024 * 1024;

    // Writable: checks the free space of the temporary folder's volume (raising EOutOfDiskSpace
    // before touching any file when it is below `size`), creates or truncates `name`, sets its
    // length to `size` bytes (2^31 or more fail with EFBIG) and reserves its blocks.
    // Read-only: opens `name` (a missing file is created empty, and mapping it then fails).
    // Either way the first window is mapped on return. Failing system calls raise EOSError.
    TLargeFile(const std::string& name, bool writable, std::uint32_t size = 0);
    ~TLargeFile();
    TLargeFile(const TLargeFile&) = delete;
    TLargeFile& operator=(const TLargeFile&) = delete;

    std::int16_t getwave(std::uint32_t index) {
        const std::uint64_t o = HeaderSize + 2ull * index;
        if (o < windowStart || o + 1 > windowEnd) moveWindow(o);
        std::int16_t v;
        std::memcpy(&v, windowBase + (o - windowStart), 2);
        return v;
    }

    void setwave(std::uint32_t index, std::int16_t value) {
        const std::uint64_t o = HeaderSize + 2ull * index;
        if (o < windowStart || o + 1 > windowEnd) moveWindow(o);
        std::memcpy(windowBase + (o - windowStart), &value, 2);
    }

    // Copies the 44 header bytes out of / into the file. A file shorter than 44 bytes reads its
    // missing bytes as zero.
    void readheader(void* buffer);
    void writeheader(const void* buffer);

    // Writes source samples srcStart … srcStart + count − 1 to this store's targetStart … in
    // increasing order. count ≤ 0 copies nothing.
    void copyfrom(TLargeFile& source, std::uint32_t srcStart, std::int32_t count,
                  std::uint32_t targetStart);
    // Writes last − first + 1 samples from `buffer` to indices first … last; nothing when
    // last < first.
    void putblock(const std::int16_t* buffer, std::uint32_t first, std::uint32_t last);
    // Reads indices first … last (inclusive) into `buffer`; nothing when last < first.
    void getblock(std::int16_t* buffer, std::uint32_t first, std::uint32_t last);

    // Calls `visit(const std::int16_t* samples, std::uint32_t count)` for the samples first … last
    // (inclusive) in order, one in-window run at a time, moving the window as getwave would.
    // The pointer is valid only during the call. Nothing when last < first.
    template <typename Visit>
    void scan(std::uint32_t first, std::uint32_t last, Visit visit) {
        forEachRun(first, last, [&](std::uint32_t index, std::uint32_t n) {
            visit(reinterpret_cast<const std::int16_t*>(at(index)), n);
        });
    }

    std::uint32_t fileSize() const noexcept { return fileSize_; }
    // Number of samples the file holds.
    std::uint32_t sampleCount() const noexcept {
        return fileSize_ < HeaderSize ? 0 : (fileSize_ - HeaderSize) / 2;
    }
    std::uint32_t windowStartOffset() const noexcept { return windowStart; }
    std::uint32_t windowEndOffset() const noexcept { return windowEnd; }

    // A new, unique, empty "~XXXX.tmp" file in config.tempfolder. When no name can be made, the
    // system temporary folder is returned, and opening it as a store then fails.
    static std::string NewTempFileName();

  private:
    void moveWindow(std::uint64_t offset);
    void mapAt(std::uint32_t start);
    // Moves the window over first … last (inclusive) as single-sample access would and calls
    // `run(index, n)` for each in-window run of n samples from `index`.
    template <typename Run>
    void forEachRun(std::uint32_t first, std::uint32_t last, Run run) {
        if (last < first) return;
        std::uint64_t left = std::uint64_t{last} - first + 1;
        std::uint32_t index = first;
        while (left > 0) {
            if (samplesInWindow(index) == 0) moveWindow(HeaderSize + 2ull * index);
            const auto n =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(left, samplesInWindow(index)));
            run(index, n);
            index += n;
            left -= n;
        }
    }
    // Address of sample `index`, which lies in the window.
    std::uint8_t* at(std::uint32_t index) const noexcept {
        return windowBase + (HeaderSize + 2ull * index - windowStart);
    }
    // Number of whole samples from `index` to the end of the current window (0 if outside).
    std::uint32_t samplesInWindow(std::uint32_t index) const noexcept {
        const std::uint64_t o = HeaderSize + 2ull * index;
        if (windowBase == nullptr || o < windowStart || o + 1 > windowEnd) return 0;
        return static_cast<std::uint32_t>((windowEnd + 1 - o) / 2);
    }

    std::uint32_t granularity = kAllocationGranularity;
    std::uint8_t* windowBase = nullptr;
    std::uint32_t fileSize_ = 0;
    std::uint32_t windowStart = 0;
    std::uint32_t windowEnd = 0;
    std::uint32_t windowSize = 0;
    FileHandle file;
    MappedView view;  // the window; the POSIX mapping needs no separate mapping object
    bool writable_;
};

// The disk-space failure of a writable store.
class EOutOfDiskSpace : public std::runtime_error {
  public:
    EOutOfDiskSpace();
};

}  // namespace kestrune
