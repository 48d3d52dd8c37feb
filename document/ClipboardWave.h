#pragma once

// The wave block exchanged with the clipboard: an in-memory RIFF "WAVE" file image of signed
// 16-bit little-endian PCM samples. Pure functions without document state; any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrune {

// Bytes before the samples in a block made by BuildClipboardWave.
inline constexpr std::size_t ClipboardWaveHeaderSize = 44;

// A block of 44 + frames × channels × 2 bytes for `frames` frames of `channels` channels. Its
// header is the 44-byte `documentHeader` with two fields replaced: the RIFF chunk size (offset
// 4) := data bytes + 36 and the data size (offset 40) := data bytes; every other field is copied
// as it is. The samples (bytes 44 … end) are zero for the caller to fill, e.g. through
// ClipboardWaveSamples.
// Raises std::runtime_error("Could not allocate memory for clipboard.") when the block cannot be
// allocated or its size does not fit in 32 bits.
std::vector<std::uint8_t> BuildClipboardWave(const std::uint8_t* documentHeader,
                                             std::uint16_t channels, std::uint32_t frames);

// The sample area of a block made by BuildClipboardWave: (block.size() − 44) ÷ 2 interleaved
// samples, suitably aligned for std::int16_t. Valid until the block is resized or destroyed.
std::int16_t* ClipboardWaveSamples(std::vector<std::uint8_t>& block);

// Clipboard audio in the layout of the document it is pasted into.
struct TPasteAudio {
    std::vector<std::int16_t> samples;  // frames × document channels, interleaved, left first
    std::uint32_t frames = 0;
};

// Reads a clipboard wave block for a document of `documentChannels` channels (1 or 2; any other
// value raises std::invalid_argument). Nothing (std::nullopt) when the block is not usable wave
// data. Never reads outside `block`.
//
// The block is a RIFF file: "RIFF", a size, "WAVE", then chunks of an 8-byte header (identifier,
// 32-bit body size) and a body padded to an even length. The first "fmt " and the first "data"
// chunk are used wherever they stand; every other chunk is skipped. The RIFF size is not trusted:
// chunks are read up to the end of the block, and a chunk whose body runs past the end makes the
// block unusable (so a data size larger than the block holds is refused).
//
// Accepted format: tag 1 (PCM), or tag 0xFFFE (extensible) with the PCM sub-format, 16 bits per
// sample, at least one channel and a block align of channels × 2. The sample rate is not looked
// at: the samples play at the document's rate. A data size that is not a whole number of frames
// gives its whole frames.
//
// Channel layouts are converted frame by frame: the channels are copied when the counts match;
// a mono block goes to both channels of a stereo document; a stereo document takes the first two
// channels of a block with more; a mono document takes the mean of the first two channels,
// rounded half to even (unbiased, and symmetric about zero).
//
// May raise std::bad_alloc when the converted samples do not fit in memory.
std::optional<TPasteAudio> ParseClipboardWave(std::span<const std::uint8_t> block,
                                              std::uint16_t documentChannels);

}  // namespace kestrune
