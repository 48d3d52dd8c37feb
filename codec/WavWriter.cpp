#include "codec/WavWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace kestrune {

namespace {

constexpr const char* WriteError = "Could not write the WAV file: ";

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void MakeHeader(std::uint8_t* h, std::uint16_t channels, std::uint32_t dataBytes) {
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * 2);
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, dataBytes + WavWriter::HeaderSize - 8);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, channels);
    Put32(h + 24, WavWriter::SampleRate);
    Put32(h + 28, WavWriter::SampleRate * blockAlign);
    Put16(h + 32, blockAlign);
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

}  // namespace

WavWriter::WavWriter(const std::string& path, int channels)
    : path_(path), channels_(static_cast<std::uint16_t>(channels)) {
    if (channels != 1 && channels != 2) throw std::runtime_error("Unable to create WAV file");
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw std::runtime_error("Unable to create WAV file");
    state_ = State::Active;
    std::uint8_t header[HeaderSize];
    MakeHeader(header, channels_, 0);
    try {
        Put(header, HeaderSize, 0);
    } catch (const std::exception&) {
        throw std::runtime_error("Unable to create WAV file");
    }
}

WavWriter::~WavWriter() {
    if (state_ != State::Active) return;
    try {
        Finish();
    } catch (...) {
        // Finish has removed the broken file; a destructor has no one to tell.
    }
}

void WavWriter::WriteSamples(const std::int16_t* samples, std::uint32_t bytes) {
    if (state_ == State::Failed) throw std::runtime_error(failure_);
    if (state_ != State::Active || bytes == 0) return;
    // The RIFF sizes are 32-bit.
    if (dataBytes_ + bytes > std::numeric_limits<std::uint32_t>::max() - (HeaderSize - 8))
        Fail(EFBIG);
    Put(samples, bytes, HeaderSize + dataBytes_);
    dataBytes_ += bytes;
}

void WavWriter::Finish() {
    if (state_ == State::Failed) throw std::runtime_error(failure_);
    if (state_ != State::Active) return;
    std::uint8_t header[HeaderSize];
    MakeHeader(header, channels_, static_cast<std::uint32_t>(dataBytes_));
    Put(header, HeaderSize, 0);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail(errno);
    state_ = State::Finished;
}

void WavWriter::Put(const void* data, std::uint32_t bytes, std::uint64_t offset) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
        p += n;
        bytes -= static_cast<std::uint32_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void WavWriter::Fail(int error) {
    state_ = State::Failed;
    failure_ = WriteError + std::string(std::strerror(error));
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
    throw std::runtime_error(failure_);
}

}  // namespace kestrune
