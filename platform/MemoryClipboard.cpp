#include "platform/MemoryClipboard.h"

#include <utility>

namespace kestrune {

bool TMemoryClipboard::Open() {
    std::lock_guard lock(mutex_);
    if (open_ || unavailable_) return false;
    open_ = true;
    return true;
}

void TMemoryClipboard::Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool TMemoryClipboard::HasWaveData() {
    std::lock_guard lock(mutex_);
    return open_ && wave_.has_value();
}

std::vector<std::uint8_t> TMemoryClipboard::ReadWave() {
    std::lock_guard lock(mutex_);
    if (!open_ || !wave_) return {};
    return *wave_;
}

bool TMemoryClipboard::WriteWave(std::vector<std::uint8_t> block) {
    std::lock_guard lock(mutex_);
    if (!open_) return false;
    wave_.reset();
    if (refuseWrites_) return false;
    wave_ = std::move(block);
    return true;
}

bool TMemoryClipboard::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void TMemoryClipboard::SetUnavailable(bool unavailable) {
    std::lock_guard lock(mutex_);
    unavailable_ = unavailable;
}

void TMemoryClipboard::RefuseWrites(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseWrites_ = refuse;
}

}  // namespace kestrune
