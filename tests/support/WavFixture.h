#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::test {

// The 44-byte working-file header for `dataBytes` bytes of 16-bit samples.
std::vector<std::uint8_t> WavHeader(std::uint16_t channels, std::uint32_t dataBytes,
                                    std::uint32_t rate = 44100);
// Writes a working WAV file: header + samples.
void WriteWav(const std::string& path, std::uint16_t channels,
              const std::vector<std::int16_t>& samples, std::uint32_t rate = 44100);
// Reads the samples after the 44-byte header.
std::vector<std::int16_t> ReadWavSamples(const std::string& path);
std::vector<std::uint8_t> ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace kestrune::test
