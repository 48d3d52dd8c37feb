#include "platform/FileMapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/OsError.h"

namespace kestrune {

FileHandle::FileHandle(const std::string& path, Mode mode) : path_(path) {
    const int flags =
        mode == Mode::CreateReadWrite ? (O_RDWR | O_CREAT | O_TRUNC) : (O_RDONLY | O_CREAT);
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd_ < 0) RaiseLastOSError(path);
}

FileHandle::~FileHandle() {
    close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

std::uint64_t FileHandle::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) RaiseLastOSError(path_);
    return static_cast<std::uint64_t>(st.st_size);
}

void FileHandle::setLengthReserved(std::uint64_t bytes) {
    if (::ftruncate(fd_, static_cast<off_t>(bytes)) != 0) RaiseLastOSError(path_);
    if (bytes == 0) return;
    const int rc = ::posix_fallocate(fd_, 0, static_cast<off_t>(bytes));
    // Some file systems cannot reserve; the length is still set, so only ENOSPC is fatal there.
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) RaiseOSError(rc, path_);
}

void FileHandle::writeAt(std::uint64_t offset, const void* data, std::size_t bytes) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) RaiseLastOSError(path_);
        p += n;
        offset += static_cast<std::uint64_t>(n);
        bytes -= static_cast<std::size_t>(n);
    }
}

void FileHandle::adviseSequential() noexcept {
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void FileHandle::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

MappedView::MappedView(const FileHandle& file, std::uint64_t offset, std::size_t size,
                       bool writable) {
    const int prot = writable ? (PROT_READ | PROT_WRITE) : PROT_READ;
    void* p = ::mmap(nullptr, size, prot, MAP_SHARED, file.fd(), static_cast<off_t>(offset));
    if (p == MAP_FAILED) RaiseLastOSError(file.path());
    data_ = static_cast<std::uint8_t*>(p);
    size_ = size;
}

MappedView::~MappedView() {
    reset();
}

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
    if (this != &other) {
        reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void MappedView::reset() noexcept {
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

bool CopyFileBytes(const FileHandle& from, std::uint64_t fromOffset, const FileHandle& to,
                   std::uint64_t toOffset, std::size_t bytes) noexcept {
    auto in = static_cast<off_t>(fromOffset);
    auto out = static_cast<off_t>(toOffset);
    while (bytes > 0) {
        const ssize_t n = ::copy_file_range(from.fd(), &in, to.fd(), &out, bytes, 0);
        if (n <= 0) return false;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::uint64_t> FreeDiskSpace(const std::string& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
}

}  // namespace kestrune
