// The document's undo history: two stacks of working files.

#include <exception>

#include "document/Twavefile.h"

namespace kestrune {

void Twavefile::TakeSnapshot() {
    undoStack.Push(workFile);
    redoStack.Clear();
    modified = true;
    RaiseOnAction(true, !redoStack.IsEmpty());
}

void Twavefile::Undo() {
    if (busy || undoStack.IsEmpty()) return;
    SwapWorkFile(redoStack, undoStack);
}

void Twavefile::Redo() {
    if (busy || redoStack.IsEmpty()) return;
    SwapWorkFile(undoStack, redoStack);
}

void Twavefile::SwapWorkFile(TStack& pushOnto, TStack& popFrom) {
    pushOnto.Push(workFile);
    workFile = popFrom.Pop();
    if (onReleasing && current) onReleasing(*this);
    SetCurrent(nullptr);
    bool reopened = false;
    try {
        SetCurrent(std::make_unique<TLargeFile>(workFile, false));
        std::uint8_t h[TLargeFile::HeaderSize];
        current->readheader(h);
        ApplyHeader(h);
        reopened = true;
    } catch (const std::exception& e) {
        // The file of a failed edit may be missing or incomplete: never keep a released store.
        SetCurrent(nullptr);
        ready = false;
        window.CancelCapture();
        window.ShowError(e.what());
    }
    if (reopened) {
        operation = TOperation::RebuildIndex;
        RunOperation();
    }
    if (OnAction) OnAction(*this, !undoStack.IsEmpty(), !redoStack.IsEmpty());
}

}  // namespace kestrune
