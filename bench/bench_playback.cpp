// Playback through SDL's dummy driver (unless SDL_AUDIODRIVER names another).
//
//   bench_playback latency RUNS   prints the median time in seconds from TPlayer::Play to the
//                                 first audio callback that delivers the range's first sample
//                                 (seen as the ring's play cursor leaving offset 0)
//   bench_playback cpu SECONDS    plays a stereo range of SECONDS and prints the process's CPU
//                                 time (user + system) over the wall time, in percent of one core

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "document/Twavefile.h"
#include "platform/UiQueue.h"
#include "playback/TDirectSoundBuffer.h"
#include "playback/TPlayer.h"
#include "tests/support/DocumentAccess.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;

struct QuietWindow : IDocumentUI {
    void ShowError(const std::string& m) override {
        std::fprintf(stderr, "error: %s\n", m.c_str());
    }
    void ShowWarning(const std::string&, const std::string&) override {}
    void CancelCapture() override {}
};

void Put(std::vector<char>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// A stereo 44100 Hz working file of `frames` frames of a quiet saw wave.
void WriteWorkingFile(const std::string& path, std::uint32_t frames) {
    const std::uint32_t data = frames * 4;
    std::vector<char> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    Put(h, data + 36, 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put(h, 16, 4);
    Put(h, 1, 2);
    Put(h, 2, 2);
    Put(h, 44100, 4);
    Put(h, 176400, 4);
    Put(h, 4, 2);
    Put(h, 16, 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    Put(h, data, 4);
    std::vector<std::int16_t> s(std::size_t{frames} * 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>((i * 37) % 2000);
    std::ofstream out(path, std::ios::binary);
    out.write(h.data(), static_cast<std::streamsize>(h.size()));
    out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
}

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_playback latency RUNS | cpu SECONDS\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int amount = std::max(1, std::atoi(argv[2]));
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);

    const char* work = std::getenv("WORK");
    std::string folder = std::string(work ? work : "/tmp") + "/bench-playback-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return 1;
    const std::string path = folder + "/work.wav";
    const std::uint32_t frames = 44100 * (mode == "cpu" ? static_cast<std::uint32_t>(amount) : 2);
    WriteWorkingFile(path, frames);

    int status = 0;
    {
        UiQueue ui;
        QuietWindow window;
        Twavefile doc(ui, window);
        TwavefileTestAccess::Adopt(doc, path);
        TPlayer player(ui);
        bool stopped = false;
        player.OnPlayStatus = [&](bool action) { stopped = !action; };
        player.Initialize();
        const TWaveFormatEx format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        player.Open(doc, 0, format, static_cast<std::int32_t>(frames * 4));

        if (mode == "latency") {
            std::vector<double> runs;
            for (int i = 0; i < amount; ++i) {
                // Start at a different point of the device's period each time.
                std::this_thread::sleep_for(std::chrono::microseconds(i * 3700 % 12000));
                const auto t0 = Clock::now();
                player.Play();
                while (player.Buffer()->GetPlayCursor() == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                runs.push_back(Seconds(Clock::now() - t0));
                ui.waitAndProcess(std::chrono::milliseconds(20));
                player.Stop();
                ui.processPending();
            }
            std::sort(runs.begin(), runs.end());
            std::printf("%.4f\n", runs[runs.size() / 2]);
        } else if (mode == "cpu") {
            const double c0 = CpuSeconds();
            const auto t0 = Clock::now();
            player.Play();
            while (!stopped) ui.waitAndProcess(std::chrono::milliseconds(100));
            const double wall = Seconds(Clock::now() - t0);
            std::printf("%.2f\n", 100.0 * (CpuSeconds() - c0) / wall);
        } else {
            status = 2;
        }
        player.Shutdown();
    }
    std::filesystem::remove_all(folder);
    return status;
}
