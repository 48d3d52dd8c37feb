#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// Something that turns a stream of 16-bit PCM at 44100 Hz (one or two channels, interleaved,
// little-endian) into a file: the ringtone (AACwriter), a WAV file (WavWriter) or an MP3 file
// (Mp3Writer). The file is created by the writer's constructor.
//
// Life: construct → any number of WriteSamples → Finish → destroy. The file is complete only
// when Finish has returned. Any failure (on construction, in WriteSamples or in Finish) raises
// std::runtime_error with a message for the user, and a file that was begun is removed; the
// writer is then dead: WriteSamples and Finish raise the same message again. Destroying a writer
// whose Finish has not run runs it and swallows its error (a broken file is still removed).
//
// Not thread-safe: one thread uses a writer (the document's worker thread during an export).
class TSampleWriter {
  public:
    virtual ~TSampleWriter() = default;

    // Appends `bytes` bytes of interleaved 16-bit samples (normally a whole number of samples;
    // 0 is allowed and does nothing). Calls after a successful Finish are ignored.
    virtual void WriteSamples(const std::int16_t* samples, std::uint32_t bytes) = 0;

    // Writes what is still buffered, completes the file and closes it. A second call does
    // nothing.
    virtual void Finish() = 0;

    // The file being written.
    virtual const std::string& OutputPath() const = 0;
};

}  // namespace kestrune
