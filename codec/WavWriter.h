#pragma once

#include <cstdint>
#include <string>

#include "codec/TSampleWriter.h"

namespace kestrune {

// Writes the working format: the 44-byte WAV header ("RIFF", size − 8, "WAVE", "fmt ", 16, PCM,
// channels, 44100 Hz, byte rate, block align, 16 bits, "data", size − 44) followed by exactly
// the bytes given to WriteSamples. The header's sizes are filled in by Finish.
//
// Errors: "Unable to create WAV file" on construction (no file is left); a failing write or
// close reads "Could not write the WAV file: " + the system's text. See TSampleWriter.
//
// Not thread-safe: used by one thread.
class WavWriter final : public TSampleWriter {
  public:
    static constexpr std::uint32_t SampleRate = 44100;
    static constexpr std::uint32_t HeaderSize = 44;

    // Creates `path` as given (replacing an existing file); `channels` is 1 or 2.
    WavWriter(const std::string& path, int channels);
    ~WavWriter() override;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    void WriteSamples(const std::int16_t* samples, std::uint32_t bytes) override;
    void Finish() override;
    const std::string& OutputPath() const override { return path_; }

  private:
    enum class State { Active, Finished, Failed };

    void Put(const void* data, std::uint32_t bytes, std::uint64_t offset);
    [[noreturn]] void Fail(int error);

    std::string path_;
    std::uint16_t channels_;
    int fd_ = -1;
    std::uint64_t dataBytes_ = 0;
    State state_ = State::Failed;
    std::string failure_;
};

}  // namespace kestrune
