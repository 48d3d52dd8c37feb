#include "cli/CliSession.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "document/TimeText.h"

namespace kestrune::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnSignal(int) {
    interrupted = 1;
}

void DrawProgress(const char* label, int percent) {
    constexpr int width = 30;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r%-10s [%.*s%*s] %3d%%", label, filled, "##############################",
                 width - filled, "", percent);
    std::fflush(stderr);
}

}  // namespace

void ConsoleWindow::ShowError(const std::string& message) {
    ++errors;
    std::fprintf(stderr, "%s\n", message.c_str());
}

void ConsoleWindow::ShowWarning(const std::string& text, const std::string&) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

CliSession::CliSession() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

CliSession::~CliSession() {
    // An operation cannot be cancelled: let it end, then delete every working file.
    while (doc.Busy()) ui.waitAndProcess(std::chrono::milliseconds(20));
    doc.Close();
}

bool CliSession::Interrupted() {
    return interrupted != 0;
}

bool CliSession::WaitForOperation(const char* label) {
    const bool bar = ::isatty(STDERR_FILENO) == 1;
    int shown = -1;
    while (doc.Busy()) {
        ui.waitAndProcess(std::chrono::milliseconds(50));
        if (bar && doc.Busy() && doc.Progress() != shown) {
            shown = doc.Progress();
            DrawProgress(label, shown);
        }
    }
    if (bar && shown >= 0) {
        DrawProgress(label, 100);
        std::fputc('\n', stderr);
    }
    return !Interrupted();
}

bool CliSession::Load(const std::string& path) {
    std::error_code ec;
    const std::string full = std::filesystem::absolute(path, ec).string();
    doc.Open(ec ? path : full);
    return WaitForOperation("Loading") && doc.Ready();
}

std::optional<std::uint32_t> ParseTimeOption(const std::string& option, const std::string& value,
                                             std::uint32_t rate) {
    const auto ms = TimeTextToMs(value);
    if (!ms) {
        std::fprintf(stderr,
                     "%s: \"%s\" is not a time; write minutes:seconds.milliseconds, "
                     "e.g. 0:30.000\n",
                     option.c_str(), value.c_str());
        return std::nullopt;
    }
    return MsToFrames(*ms, rate);
}

}  // namespace kestrune::cli
