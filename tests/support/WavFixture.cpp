#include "tests/support/WavFixture.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestrune::test {

namespace {
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
}  // namespace

std::vector<std::uint8_t> WavHeader(std::uint16_t channels, std::uint32_t dataBytes,
                                    std::uint32_t rate) {
    std::vector<std::uint8_t> h(44);
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], dataBytes + 36);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Put32(&h[16], 16);
    Put16(&h[20], 1);
    Put16(&h[22], channels);
    Put32(&h[24], rate);
    Put32(&h[28], rate * channels * 2);
    Put16(&h[32], static_cast<std::uint16_t>(channels * 2));
    Put16(&h[34], 16);
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], dataBytes);
    return h;
}

void WriteWav(const std::string& path, std::uint16_t channels,
              const std::vector<std::int16_t>& samples, std::uint32_t rate) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto h = WavHeader(channels, static_cast<std::uint32_t>(samples.size() * 2), rate);
    out.write(reinterpret_cast<const char*>(h.data()), 44);
    out.write(reinterpret_cast<const char*>(samples.data()),
              static_cast<std::streamsize>(samples.size() * 2));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::int16_t> ReadWavSamples(const std::string& path) {
    const auto bytes = ReadFile(path);
    if (bytes.size() < 44) throw std::runtime_error(path + " is shorter than a header");
    std::vector<std::int16_t> s((bytes.size() - 44) / 2);
    if (!s.empty()) std::memcpy(s.data(), bytes.data() + 44, s.size() * 2);
    return s;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace kestrune::test
