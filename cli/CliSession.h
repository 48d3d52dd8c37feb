#pragma once

// One run of the command-line front end: the pumped UI-thread queue, a console standing in for the
// window's message boxes, and the document. The document's working files are deleted when the
// session ends, also after a failure or an interrupt (Ctrl+C, SIGTERM).

#include <cstdint>
#include <optional>
#include <string>

#include "document/IDocumentUI.h"
#include "document/Twavefile.h"
#include "platform/UiQueue.h"

namespace kestrune::cli {

// Message boxes become lines on stderr.
class ConsoleWindow : public IDocumentUI {
  public:
    void ShowError(const std::string& message) override;
    void ShowWarning(const std::string& text, const std::string& caption) override;
    void CancelCapture() override {}
    int errors = 0;
};

class CliSession {
  public:
    CliSession();
    // Closes the document (deleting its working files) once no operation runs.
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Pumps the UI queue until the running operation has ended, drawing `label`'s progress bar
    // on stderr when it is a terminal. Returns false when the user interrupted.
    bool WaitForOperation(const char* label);
    // Opens `path` and waits for the Load; true when the document is ready.
    bool Load(const std::string& path);

    // Set by SIGINT/SIGTERM.
    static bool Interrupted();

    UiQueue ui;
    ConsoleWindow window;
    Twavefile doc{ui, window};
};

// Parses a --start/--end value "m:ss.zzz" into frames at `rate` as the window's fields do.
// Prints a message and returns nothing for a malformed value.
std::optional<std::uint32_t> ParseTimeOption(const std::string& option, const std::string& value,
                                             std::uint32_t rate);

}  // namespace kestrune::cli
