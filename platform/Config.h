#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// The program-wide settings record. The engine reads only `tempfolder`; the window loads and saves
// the whole record.
struct TConfig {
    std::string tempfolder;  // folder of every working file, with a trailing separator
    std::uint32_t selectiontype = 0;
    std::uint32_t backcolor = 0;
    std::uint32_t scalecolor = 0;
    std::uint32_t wavecolor = 0;
    std::int32_t posx = -1;
    std::int32_t posy = -1;
    std::int32_t width = -1;
    std::int32_t height = -1;
    std::int32_t lang = -1;
    std::int32_t volume = -8000;
    std::string outfolder;
    bool itunesexport = false;
};

// Starts with `tempfolder` set to the system temporary folder.
extern TConfig config;

}  // namespace kestrune
