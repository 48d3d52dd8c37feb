#pragma once

// Tools for the writer tests: a music-like signal, the command-line decoders and prober, a
// correlation that aligns for encoder delay, and a reader for the MPEG-4 boxes that matter.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "codec/TSampleWriter.h"

namespace kestrune::test {

// `frames` sample frames of interleaved 16-bit audio at 44100 Hz: notes of a few harmonics, each
// with a short attack and an exponential decay, different in each channel.
std::vector<std::int16_t> MusicLike(std::uint32_t frames, int channels);

// Feeds `samples` to `writer` in blocks of `blockBytes` bytes (the last one shorter), then a
// block of length 0, as the export does.
void Feed(TSampleWriter& writer, const std::vector<std::int16_t>& samples,
          std::uint32_t blockBytes = 8192);

// Runs a shell command; its standard output, and its exit status in `status`.
std::string Run(const std::string& command, int* status = nullptr);

// Decodes `path` with the ffmpeg command into interleaved 16-bit samples of `channels`
// channels, or nothing when ffmpeg fails.
std::optional<std::vector<std::int16_t>> DecodeWithFfmpeg(const std::string& path, int channels);
// Decodes `path` with faad (a WAV file written to `scratch`), or nothing when faad fails.
// faad gives mono AAC back as two equal channels (it allows for parametric stereo); these are
// folded back into one when `channels` is 1 and they are equal.
std::optional<std::vector<std::int16_t>> DecodeWithFaad(const std::string& path,
                                                        const std::string& scratch, int channels);

// ffprobe's view of `path`'s first audio stream and its format, as flat keys: "codec_name",
// "profile", "sample_rate", "channels", "bit_rate", "duration_ts", "time_base", …, and
// "format.format_name", "format.duration", "format.nb_streams", "format.major_brand".
// Empty when ffprobe fails.
std::map<std::string, std::string> Probe(const std::string& path);

// The best normalised correlation between `decoded` and `source` (both interleaved,
// `channels` channels) over the lags `decoded` may be late or early by, up to `maxLag` sample
// frames either way; the lag found is stored in `lag` (positive: decoded is late).
double AlignedCorrelation(const std::vector<std::int16_t>& source,
                          const std::vector<std::int16_t>& decoded, int channels, int maxLag,
                          int* lag = nullptr);

// What an MPEG-4 file says about itself, read from its boxes.
struct Mp4Facts {
    std::string majorBrand;            // ftyp
    std::uint32_t movieTimeScale = 0;  // moov/mvhd
    int tracks = 0;                    // moov/trak boxes
    // Of the first track:
    std::uint32_t trackTimeScale = 0;  // mdia/mdhd
    std::uint64_t mediaDuration = 0;   // mdia/mdhd, in the track time scale
    std::string handler;               // mdia/hdlr ("soun")
    // edts/elst entries: segment duration (movie time scale) and media time (track time scale).
    std::vector<std::pair<std::uint64_t, std::int64_t>> edits;
    int objectType = 0;  // esds DecoderConfigDescriptor (0x40: MPEG-4 audio)
    std::vector<std::uint8_t> audioSpecificConfig;  // esds DecoderSpecificInfo
};
// Parses `path`; throws std::runtime_error when a box the facts come from is malformed.
Mp4Facts ReadMp4(const std::string& path);

}  // namespace kestrune::test
