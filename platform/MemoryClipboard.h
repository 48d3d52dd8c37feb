#pragma once

// An in-process clipboard holding at most one wave block, for the engine's tests and the
// command-line front end. It behaves like the system clipboard the window uses: one opener at a
// time, writes replace what was there, and reads hand out copies.
//
// Any thread may call any method (a mutex guards the state); the document itself calls it only
// on the UI thread, as it does every IClipboard.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/IClipboard.h"

namespace kestrune {

class TMemoryClipboard final : public IClipboard {
  public:
    TMemoryClipboard() = default;
    TMemoryClipboard(const TMemoryClipboard&) = delete;
    TMemoryClipboard& operator=(const TMemoryClipboard&) = delete;

    // False while the clipboard is already open (a second Open before Close fails, whoever calls
    // it) and while it is made unavailable.
    bool Open() override;
    // Releases the clipboard; harmless when it is not open.
    void Close() override;

    // Like the system's calls, these fail when the clipboard is not open: HasWaveData is false,
    // ReadWave is empty, and WriteWave returns false without touching the contents.
    bool HasWaveData() override;
    std::vector<std::uint8_t> ReadWave() override;
    // Empties the clipboard, then keeps `block` — unless writes are refused, in which case the
    // block is dropped, the clipboard stays empty and the result is false.
    bool WriteWave(std::vector<std::uint8_t> block) override;

    // For tests: whether someone holds the clipboard open right now.
    bool IsOpen() const;
    // For tests: while set, Open fails (another program holds the clipboard).
    void SetUnavailable(bool unavailable);
    // For tests: while set, WriteWave refuses every block (the system does not accept it).
    void RefuseWrites(bool refuse);

  private:
    mutable std::mutex mutex_;
    bool open_ = false;
    bool unavailable_ = false;
    bool refuseWrites_ = false;
    std::optional<std::vector<std::uint8_t>> wave_;  // empty optional: no wave data
};

}  // namespace kestrune
