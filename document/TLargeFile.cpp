#include "document/TLargeFile.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <stdexcept>

#include "platform/Config.h"
#include "platform/OsError.h"
#include "platform/TempFile.h"

namespace kestrune {

namespace {
// Runs of at least this many samples are copied or written by the kernel.
constexpr std::uint32_t kKernelCopyMin = 16 * 1024;
}  // namespace

EOutOfDiskSpace::EOutOfDiskSpace()
    : std::runtime_error("There is not enough memory or disk space to complete the operation.") {}

TLargeFile::TLargeFile(const std::string& name, bool writable, std::uint32_t size)
    : writable_(writable) {
    if (writable) {
        const auto free = FreeDiskSpace(config.tempfolder);
        if (free && *free < size) throw EOutOfDiskSpace();
        file = FileHandle(name, FileHandle::Mode::CreateReadWrite);
        // The file position limit of a writable store is a signed 32-bit value.
        if (size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
            RaiseOSError(EFBIG, name);
        try {
            file.setLengthReserved(size);
        } catch (const EOSError& e) {
            if (e.code() == ENOSPC) throw EOutOfDiskSpace();
            throw;
        }
        fileSize_ = size;
    } else {
        file = FileHandle(name, FileHandle::Mode::OpenOrCreateRead);
        const std::uint64_t reported = file.size();
        if (reported > std::numeric_limits<std::uint32_t>::max()) RaiseOSError(EFBIG, name);
        fileSize_ = static_cast<std::uint32_t>(reported);
    }
    file.adviseSequential();
    mapAt(0);
}

TLargeFile::~TLargeFile() = default;  // the window is unmapped before the file is closed

void TLargeFile::mapAt(std::uint32_t start) {
    view.reset();
    windowBase = nullptr;
    windowStart = 0;
    windowEnd = 0;
    windowSize = 0;
    const std::uint32_t size = std::min(fileSize_ - std::min(start, fileSize_), MaxWindow);
    // A writable store maps every window for writing, so reads and writes may mix.
    // A zero-length mapping fails like the system's own mapping of an empty file.
    view = MappedView(file, start, size, writable_);
    windowBase = view.data();
    windowStart = start;
    windowSize = size;
    windowEnd = start + size - 1;
}

void TLargeFile::moveWindow(std::uint64_t offset) {
    if (offset + 2 > fileSize_)
        throw std::out_of_range("sample index " + std::to_string((offset - HeaderSize) / 2) +
                                " is outside the store");
    const auto o = static_cast<std::uint32_t>(offset);
    mapAt(o - o % granularity);
}

void TLargeFile::readheader(void* buffer) {
    if (windowBase == nullptr || windowStart != 0) mapAt(0);
    const std::uint32_t n = std::min(HeaderSize, windowSize);
    std::memcpy(buffer, windowBase, n);
    std::memset(static_cast<std::uint8_t*>(buffer) + n, 0, HeaderSize - n);
}

void TLargeFile::writeheader(const void* buffer) {
    if (windowBase == nullptr || windowStart != 0) mapAt(0);
    if (windowSize < HeaderSize) throw std::out_of_range("the store is too small for a header");
    std::memcpy(windowBase, buffer, HeaderSize);
}

void TLargeFile::copyfrom(TLargeFile& source, std::uint32_t srcStart, std::int32_t count,
                          std::uint32_t targetStart) {
    auto left = static_cast<std::uint32_t>(std::max<std::int32_t>(count, 0));
    std::uint32_t from = srcStart;
    std::uint32_t to = targetStart;
    while (left > 0) {
        // Move the windows where a single-sample copy would move them, then copy as much as both
        // windows hold.
        if (source.samplesInWindow(from) == 0) source.moveWindow(HeaderSize + 2ull * from);
        if (samplesInWindow(to) == 0) moveWindow(HeaderSize + 2ull * to);
        const std::uint32_t n = std::min({left, source.samplesInWindow(from), samplesInWindow(to)});
        // Large runs are copied by the kernel from page cache to page cache, which spares a trip
        // through both mappings; the mapped windows see the same bytes.
        const bool copied =
            n >= kKernelCopyMin && CopyFileBytes(source.file, HeaderSize + 2ull * from, file,
                                                 HeaderSize + 2ull * to, 2ull * n);
        if (!copied) std::memcpy(at(to), source.at(from), 2ull * n);
        from += n;
        to += n;
        left -= n;
    }
}

void TLargeFile::putblock(const std::int16_t* buffer, std::uint32_t first, std::uint32_t last) {
    forEachRun(first, last, [&](std::uint32_t index, std::uint32_t n) {
        // A large run goes to the page cache directly: written through the mapping, every new
        // page would first be faulted in and zeroed, only to be overwritten.
        if (n >= kKernelCopyMin)
            file.writeAt(HeaderSize + 2ull * index, buffer, 2ull * n);
        else
            std::memcpy(at(index), buffer, 2ull * n);
        buffer += n;
    });
}

void TLargeFile::getblock(std::int16_t* buffer, std::uint32_t first, std::uint32_t last) {
    scan(first, last, [&buffer](const std::int16_t* samples, std::uint32_t n) {
        std::memcpy(buffer, samples, 2ull * n);
        buffer += n;
    });
}

std::string TLargeFile::NewTempFileName() {
    if (auto name = CreateUniqueTempFile(config.tempfolder)) return *name;
    return SystemTempFolder();
}

}  // namespace kestrune
