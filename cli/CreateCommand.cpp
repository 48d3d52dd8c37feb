#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "codec/SampleWriterFactory.h"
#include "document/TimeText.h"

namespace kestrune::cli {

namespace {

constexpr const char* kSynopsis =
    "create INPUT OUTPUT [--start TIME] [--end TIME] [--force] [EFFECT…]\n"
    "  TIME is minutes:seconds.milliseconds (0:30.000); OUTPUT ends in .m4r, .wav or .mp3\n"
    "  EFFECT, applied in the order given: --fade-in MS, --fade-out MS, --normalize PERCENT\n"
    "  (0-100), --amplify PERCENT (0-200), --reverse, --invert";

struct Effect {
    std::string name;     // the option, e.g. "--fade-in"
    std::uint32_t value;  // milliseconds or percent; unused by --reverse and --invert
};

struct CreateOptions {
    std::string input;
    std::string output;
    std::optional<std::string> start;
    std::optional<std::string> end;
    bool force = false;
    std::vector<Effect> effects;
};

// The highest value each effect option takes (the bounds of the window's effect dialog).
std::optional<std::uint32_t> EffectLimit(const std::string& name) {
    if (name == "--fade-in" || name == "--fade-out") return UINT32_MAX;
    if (name == "--normalize") return 100;
    if (name == "--amplify") return 200;
    return std::nullopt;
}

// A whole decimal number from 0 to `limit`.
std::optional<std::uint32_t> Number(const std::string& text, std::uint32_t limit) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > limit) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::optional<CreateOptions> Parse(const std::vector<std::string>& args) {
    CreateOptions o;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--force") {
            o.force = true;
        } else if ((a == "--start" || a == "--end") && i + 1 < args.size()) {
            (a == "--start" ? o.start : o.end) = args[++i];
        } else if (a == "--reverse" || a == "--invert") {
            o.effects.push_back({a, 0});
        } else if (const auto limit = EffectLimit(a); limit && i + 1 < args.size()) {
            const auto value = Number(args[++i], *limit);
            if (!value) {
                if (a == "--fade-in" || a == "--fade-out")
                    std::fprintf(stderr, "%s: \"%s\" is not a number of milliseconds\n", a.c_str(),
                                 args[i].c_str());
                else
                    std::fprintf(stderr, "%s: \"%s\" is not a percentage from 0 to %u\n", a.c_str(),
                                 args[i].c_str(), *limit);
                return std::nullopt;
            }
            o.effects.push_back({a, *value});
        } else if (a.rfind("--", 0) == 0) {
            return std::nullopt;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return std::nullopt;
    o.input = positional[0];
    o.output = positional[1];
    return o;
}

// Runs one document operation to its end; false when it failed or the user interrupted.
template <typename Request>
bool Apply(CliSession& session, const char* label, Request request) {
    request();
    return session.WaitForOperation(label) && session.window.errors == 0 && session.doc.Ready();
}

int Failed(const CliSession&) {
    return CliSession::Interrupted() ? 130 : 1;
}

}  // namespace

int RunCreate(const std::vector<std::string>& args) {
    const auto options = Parse(args);
    if (!options) return UsageError(kSynopsis);
    if (!IsExportExtension(options->output)) {
        std::fprintf(stderr, "%s: the output must end in .m4r, .wav or .mp3\n",
                     options->output.c_str());
        return 2;
    }
    struct stat st {};
    if (!options->force && ::stat(options->output.c_str(), &st) == 0) {
        std::fprintf(stderr, "This file already exists. Overwrite?\n");
        std::fprintf(stderr, "%s (give --force to overwrite it)\n", options->output.c_str());
        return 1;
    }

    CliSession session;
    if (!session.Load(options->input)) return CliSession::Interrupted() ? 130 : 1;
    Twavefile& doc = session.doc;

    std::uint32_t start = 0;
    std::uint32_t end = doc.Frames();
    if (options->start) {
        const auto f = ParseTimeOption("--start", *options->start, doc.SampleRate());
        if (!f) return 2;
        start = *f;
    }
    if (options->end) {
        const auto f = ParseTimeOption("--end", *options->end, doc.SampleRate());
        if (!f) return 2;
        end = *f;
    }
    const auto length = MsToTimeText(FramesToMs(doc.Frames(), doc.SampleRate()));
    if (end < start) {
        std::fprintf(stderr, "The range ends (%s) before it starts (%s).\n",
                     MsToTimeText(FramesToMs(end, doc.SampleRate())).c_str(),
                     MsToTimeText(FramesToMs(start, doc.SampleRate())).c_str());
        return 2;
    }
    if (end == start) {
        std::fprintf(stderr, "The range is empty (%s to %s): there is nothing to create.\n",
                     MsToTimeText(FramesToMs(start, doc.SampleRate())).c_str(),
                     MsToTimeText(FramesToMs(end, doc.SampleRate())).c_str());
        return 2;
    }
    if (end > doc.Frames()) {
        std::fprintf(stderr, "The range (to %s) reaches past the end of the audio (%s).\n",
                     MsToTimeText(FramesToMs(end, doc.SampleRate())).c_str(), length.c_str());
        return 2;
    }

    if (!options->effects.empty()) {
        // Effects work on the whole document, so the document is first cut down to the range:
        // they then change exactly the audio that becomes the ringtone.
        if (!Apply(session, "Trimming", [&] { doc.Delete(end, doc.Frames()); }) ||
            !Apply(session, "Trimming", [&] { doc.Delete(0, start); }))
            return Failed(session);
        start = 0;
        end = doc.Frames();
        for (const Effect& e : options->effects) {
            const std::uint32_t n = std::min(MsToFrames(e.value, doc.SampleRate()), end);
            bool ok = true;
            if (e.name == "--fade-in")
                ok = Apply(session, "Fade in", [&] { doc.FadeIn(0, n); });
            else if (e.name == "--fade-out")
                ok = Apply(session, "Fade out", [&] { doc.FadeOut(end - n, end); });
            else if (e.name == "--normalize")
                ok = Apply(session, "Normalize",
                           [&] { doc.Normalize(static_cast<std::int32_t>(e.value)); });
            else if (e.name == "--amplify")
                ok = Apply(session, "Amplify", [&] { doc.Amplify(e.value); });
            else if (e.name == "--reverse")
                ok = Apply(session, "Reverse", [&] { doc.Reverse(); });
            else if (e.name == "--invert")
                ok = Apply(session, "Invert", [&] { doc.Invert(); });
            if (!ok) return Failed(session);
        }
    }

    std::error_code ec;
    const std::string output = std::filesystem::absolute(options->output, ec).string();
    if (!doc.SaveRange(ec ? options->output : output, start, end)) {
        std::fprintf(stderr, "Could not start the export to %s.\n", options->output.c_str());
        return 1;
    }
    if (!session.WaitForOperation("Creating")) return 130;
    if (session.window.errors > 0) return 1;
    std::printf("%s\n", (ec ? options->output : output).c_str());
    return 0;
}

}  // namespace kestrune::cli
