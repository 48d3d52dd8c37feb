#pragma once

#include <string>

namespace kestrune {

// What the document needs of the window. The document calls every method on the UI thread.
class IDocumentUI {
  public:
    virtual ~IDocumentUI() = default;
    // The standard error message box (caption "Error", error icon, OK).
    virtual void ShowError(const std::string& message) = 0;
    // A message box with no owner window, the warning icon and an OK button.
    virtual void ShowWarning(const std::string& text, const std::string& caption) = 0;
    // Ends a pointer drag in progress, if any window holds the capture.
    virtual void CancelCapture() = 0;
};

}  // namespace kestrune
