#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "document/TimeText.h"
#include "playback/DirectSoundTypes.h"
#include "playback/EDirectXError.h"
#include "playback/TPlayer.h"

namespace kestrune::cli {

namespace {

constexpr const char* kSynopsis =
    "play FILE [--start TIME] [--end TIME]\n"
    "  TIME is minutes:seconds.milliseconds (0:30.000)";

// The layer's messages put "\r" between the call and its description.
void PrintSoundError(const std::exception& e) {
    std::string text = e.what();
    std::replace(text.begin(), text.end(), '\r', '\n');
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

int RunPlay(const std::vector<std::string>& args) {
    std::string file;
    std::optional<std::string> startText, endText;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--start" || args[i] == "--end") && i + 1 < args.size())
            (args[i] == "--start" ? startText : endText) = args[i + 1], ++i;
        else if (args[i].rfind("--", 0) == 0 || !file.empty())
            return UsageError(kSynopsis);
        else
            file = args[i];
    }
    if (file.empty()) return UsageError(kSynopsis);

    CliSession session;
    TPlayer player(session.ui);
    bool stopped = false;
    player.OnPlayStatus = [&](bool playing) { stopped = !playing; };
    try {
        player.Initialize();
    } catch (const EDirectXError& e) {
        PrintSoundError(e);
        return 1;
    }
    if (!session.Load(file)) return CliSession::Interrupted() ? 130 : 1;
    Twavefile& doc = session.doc;
    doc.onReleasing = [&player](Twavefile&) { player.Close(); };

    std::uint32_t start = 0, end = doc.Frames();
    if (startText) {
        const auto f = ParseTimeOption("--start", *startText, doc.SampleRate());
        if (!f) return 2;
        start = *f;
    }
    if (endText) {
        const auto f = ParseTimeOption("--end", *endText, doc.SampleRate());
        if (!f) return 2;
        end = *f;
    }
    if (end < start || end > doc.Frames()) {
        std::fprintf(stderr, "The range %s to %s is not inside the audio (00:00.000 to %s).\n",
                     MsToTimeText(FramesToMs(start, doc.SampleRate())).c_str(),
                     MsToTimeText(FramesToMs(end, doc.SampleRate())).c_str(),
                     MsToTimeText(FramesToMs(doc.Frames(), doc.SampleRate())).c_str());
        return 2;
    }

    const std::uint16_t c = doc.Channels();
    const bool show = ::isatty(STDERR_FILENO) == 1;
    player.OnPlayProcess = [&](std::int32_t index) {
        if (!show) return;
        const auto frame = static_cast<std::uint32_t>(index) / (c * 2u) + start;
        std::fprintf(stderr, "\rPlaying %s / %s",
                     MsToTimeText(FramesToMs(frame, doc.SampleRate())).c_str(),
                     MsToTimeText(FramesToMs(end, doc.SampleRate())).c_str());
        std::fflush(stderr);
    };
    const TWaveFormatEx format = Pcm16Format(c, doc.SampleRate());
    try {
        player.Open(doc, start * c, format, static_cast<std::int32_t>((end - start) * c * 2u));
        stopped = false;
        player.Play();
        while (!stopped && !CliSession::Interrupted())
            session.ui.waitAndProcess(std::chrono::milliseconds(50));
        player.Shutdown();
    } catch (const EDirectXError& e) {
        PrintSoundError(e);
        player.Shutdown();
        return 1;
    }
    if (show) std::fputc('\n', stderr);
    return CliSession::Interrupted() ? 130 : 0;
}

}  // namespace kestrune::cli
