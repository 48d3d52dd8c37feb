#pragma once

// Memory-mapped file primitives: an owned file descriptor and an owned mapped view of part of it.
// Every failure raises EOSError with errno and the file name.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {

// Alignment that a mapping offset must have. 64 KiB, a multiple of every page size in use.
constexpr std::uint32_t kAllocationGranularity = 64 * 1024;

class FileHandle {
  public:
    enum class Mode {
        CreateReadWrite,  // create or truncate, read and write
        OpenOrCreateRead  // open for reading; a missing file is created empty
    };

    FileHandle() = default;
    FileHandle(const std::string& path, Mode mode);
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const noexcept { return fd_ >= 0; }
    int fd() const noexcept { return fd_; }
    const std::string& path() const noexcept { return path_; }

    // Current size in bytes.
    std::uint64_t size() const;
    // Sets the length to exactly `bytes` and reserves the blocks, so that writing through a
    // mapping can never run out of space later. ENOSPC surfaces here.
    void setLengthReserved(std::uint64_t bytes);
    // Writes `bytes` bytes at `offset` through the page cache (mapped views see them at once).
    void writeAt(std::uint64_t offset, const void* data, std::size_t bytes);
    // Tells the system the file will be read front to back.
    void adviseSequential() noexcept;
    void close() noexcept;

  private:
    int fd_ = -1;
    std::string path_;
};

// A mapped view of `size` bytes of a file at an offset that is a multiple of the granularity.
class MappedView {
  public:
    MappedView() = default;
    MappedView(const FileHandle& file, std::uint64_t offset, std::size_t size, bool writable);
    ~MappedView();
    MappedView(MappedView&& other) noexcept;
    MappedView& operator=(MappedView&& other) noexcept;
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;

    std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    void reset() noexcept;

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Copies `bytes` bytes between two open files inside the kernel (through the page cache, so
// mapped views of either file see the result). Returns false, having copied nothing that matters,
// where the system cannot do it for these files; the caller then copies by hand.
bool CopyFileBytes(const FileHandle& from, std::uint64_t fromOffset, const FileHandle& to,
                   std::uint64_t toOffset, std::size_t bytes) noexcept;

// Bytes available to an unprivileged caller on the volume holding `folder`; empty when the system
// cannot tell (for example because the folder does not exist).
std::optional<std::uint64_t> FreeDiskSpace(const std::string& folder);

}  // namespace kestrune
