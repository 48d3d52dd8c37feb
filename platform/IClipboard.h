#pragma once

// The system clipboard as the document sees it: one WAV image in the standard wave format.
// Every method runs on the UI thread; the document's worker reaches it through UiQueue::invoke.

#include <cstdint>
#include <vector>

namespace kestrune {

class IClipboard {
  public:
    virtual ~IClipboard() = default;

    // Opens the clipboard for one exchange; false when it cannot be opened now.
    virtual bool Open() = 0;
    virtual void Close() = 0;

    // While open: whether the clipboard holds wave data.
    virtual bool HasWaveData() = 0;
    // While open: the wave data block (empty when there is none).
    virtual std::vector<std::uint8_t> ReadWave() = 0;
    // While open: empties the clipboard and puts `block` on it as wave data. False when the
    // system refuses it (the clipboard is then left empty).
    virtual bool WriteWave(std::vector<std::uint8_t> block) = 0;
};

}  // namespace kestrune
