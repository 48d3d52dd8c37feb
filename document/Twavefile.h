#pragma once

// The open audio document: a 16-bit PCM working WAV file in the temporary folder, read through a
// read-only sample store, with its header, format, peak index, tags, undo history and flags.
//
// Threads. Requests, Close, Undo, Redo and every callback run on the UI thread (the thread that
// owns the UiQueue). Operations (load, edits, effects, copy, rebuild, export) run one at a time
// on a worker thread (CThread) started per operation; the worker waits for PlaybackIdle first.
// Busy is UI-thread only; Ready and Progress are atomics the worker writes and the UI reads.
// Readers on the UI thread (view, player) touch Current and Index only while Ready is true and
// hold StoreLock() around each read pass; the worker holds it while an operation runs, so a UI
// reader takes it with try_lock and skips its pass when the worker has it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "document/CThread.h"
#include "document/IDocumentUI.h"
#include "document/TFilter.h"
#include "document/TLargeFile.h"
#include "document/TStack.h"
#include "platform/IClipboard.h"
#include "platform/UiQueue.h"

namespace kestrune {

enum class TOperation : int {
    None = 0,
    RebuildIndex = 1,
    Load = 2,
    Cut = 5,
    Copy = 6,
    Paste = 7,
    Delete = 8,
    InsertSilence = 9,
    Normalize = 10,
    FadeIn = 11,
    FadeOut = 12,
    Reverse = 13,
    Invert = 14,
    Amplify = 15,
    Export = 16,
};

class Twavefile;
class TIndexBuilder;
// onLoaded and onReady: (document, true).
using TDocumentEvent = std::function<void(Twavefile&, bool)>;
// OnAction: (document, can undo, can redo).
using TActionEvent = std::function<void(Twavefile&, bool, bool)>;

class Twavefile {
  public:
    // `ui` delivers calls to the UI thread; `window` shows the document's messages; `clipboard`
    // (optional) is the system clipboard for Copy, Cut and Paste — without one they find it
    // unavailable.
    Twavefile(UiQueue& ui, IDocumentUI& window, IClipboard* clipboard = nullptr);
    // Waits (pumping the UI queue) for a running operation to end. Neither closes Current nor
    // deletes files: Close does that.
    ~Twavefile();
    Twavefile(const Twavefile&) = delete;
    Twavefile& operator=(const Twavefile&) = delete;

    // --- Requests (UI thread). A request while Busy changes nothing. ---

    // Loads `fileName` (a full path) into a new working file: closes what the document holds,
    // sets SourceName, gives the owner write permission on the file (ignoring a failure) and
    // starts the Load. A file that cannot be decoded shows "Could not import audio file. Format
    // not supported or file broken" and leaves the document not ready.
    void Open(const std::string& fileName);

    // Exports frames [start, end) of the audio to `fileName`, in the format its extension names
    // (".m4r" ringtone, ".wav" working format, ".mp3"; case does not matter). Returns whether the
    // Export started: not while busy or not ready, not for another extension, and not for a
    // range outside 0 ≤ start ≤ end ≤ Frames. A successful Export clears Modified.
    bool SaveRange(const std::string& fileName, std::uint32_t start, std::uint32_t end);
    // Exports the whole document over SourceName when its extension is one SaveRange writes.
    bool Save();

    // --- Undo history. Undo and Redo swap the working file at once and rebuild the index on the
    // worker; the document stays ready. Nothing happens while busy or with an empty stack.
    // A file that cannot be reopened leaves the document not ready, with the error shown.
    void Undo();
    void Redo();

    // --- Edits and effects. Frame ranges are half-open, [start, end), with
    // 0 ≤ start ≤ end ≤ Frames; positions lie in 0 … Frames. A request on a document that is
    // not ready, or with arguments outside these bounds, starts nothing. Each edit writes a new
    // working file and leaves the old one on the undo stack.
    void Delete(std::uint32_t start, std::uint32_t end);
    // Copies [start, end) to the clipboard, then deletes it.
    void Cut(std::uint32_t start, std::uint32_t end);
    // Puts [start, end) on the clipboard as a WAV image; changes nothing in the document.
    void Copy(std::uint32_t start, std::uint32_t end);
    // Inserts the clipboard's wave data before frame `position` (nothing when it holds none, or
    // data that is not 16-bit PCM; a different channel count is converted).
    void Paste(std::uint32_t position);
    // Inserts `length` frames of silence before frame `position`.
    void InsertSilence(std::uint32_t position, std::uint32_t length);
    // Quarter-sine fades over [start, end).
    void FadeIn(std::uint32_t start, std::uint32_t end);
    void FadeOut(std::uint32_t start, std::uint32_t end);
    // Scales the whole document so that Peak becomes `percent` % of 32768 (saturating at the
    // 16-bit limits; nothing changes when Peak is 0).
    void Normalize(std::int32_t percent);
    // Multiplies every sample by percent / 100 (single precision), truncating, clipped to
    // −32767 … 32767.
    void Amplify(std::uint32_t percent);
    void Reverse();
    // Negates every sample in 16-bit arithmetic (−32768 stays −32768).
    void Invert();

    // Not ready; releases Current; clears SourceName, Modified, both undo stacks (deleting
    // their files), Title and Artist; deletes WorkFile. Does nothing while Busy.
    void Close();

    // --- Callbacks (run on the UI thread; an empty slot is skipped). ---
    TDocumentEvent onLoaded;
    TDocumentEvent onReady;
    TActionEvent OnAction;
    // Called on the UI thread right before Undo, Redo or Close release Current, so that a player
    // streaming from it can stop first.
    std::function<void(Twavefile&)> onReleasing;

    // --- State ---
    bool Ready() const noexcept { return ready.load(); }
    bool Busy() const noexcept { return busy; }
    bool Modified() const noexcept { return modified; }
    std::int32_t Progress() const noexcept { return progress.load(); }
    std::uint32_t Frames() const noexcept { return frames; }
    std::uint16_t Channels() const noexcept { return channels; }
    std::uint32_t SampleRate() const noexcept { return sampleRate; }
    double Duration() const noexcept { return duration; }
    const std::string& Title() const noexcept { return title; }
    const std::string& Artist() const noexcept { return artist; }
    const std::string& SourceName() const noexcept { return sourceName; }
    const std::string& WorkFile() const noexcept { return workFile; }
    const Tindexdata& Index() const noexcept { return index; }
    std::int16_t Peak() const noexcept { return peak; }
    // The read-only store on WorkFile; null before the first load and after Close.
    TLargeFile* Current() noexcept { return current.get(); }
    // Changes whenever Current is replaced or released, so a reader that kept the store can tell
    // it is still the same one (a new store may reuse the old one's address).
    std::uint64_t StoreGeneration() const noexcept { return storeGeneration.load(); }
    const TStack& UndoStack() const noexcept { return undoStack; }
    const TStack& RedoStack() const noexcept { return redoStack; }
    TOperation Operation() const noexcept { return operation; }

    // Held by the worker while an operation runs, and by each UI-thread read pass of Current.
    std::mutex& StoreLock() noexcept { return storeLock; }

  private:
    friend class CThread;
    friend struct TwavefileTestAccess;

    using Procedure = void (*)(Twavefile&);
    static Procedure ProcedureOf(TOperation op);

    void RunOperation();
    void RunProcedure(Procedure procedure);
    void OperationDone();
    void ShowError(const std::string& message);
    void ApplyHeader(const std::uint8_t* header);
    // Replaces (or, with nullptr, releases) Current.
    void SetCurrent(std::unique_ptr<TLargeFile> store);
    // Hands a callback raised on the worker to the UI thread and waits for it.
    void RaiseOnAction(bool canUndo, bool canRedo);

    // Operation procedures (worker thread).
    // Recomputes Index and Peak from Current. Groups before block `keep` are taken over from the
    // present index when it describes Current's audio up to there.
    void RebuildIndex(std::uint32_t keep = 0);
    void TakeIndex(TIndexBuilder& builder);
    void Load();
    void Export();
    bool StartExport();
    void CopyOperation();
    void CutOperation();
    void PasteOperation();
    void DeleteOperation();
    void InsertSilenceOperation();
    void FadeOperation(bool in);
    void NormalizeOperation();
    void AmplifyOperation();
    void ReverseOperation();
    void InvertOperation();

    // Undo history (UndoHistory.cpp).
    void TakeSnapshot();
    // UI thread: pushes WorkFile onto `pushOnto`, takes the working file from the top of
    // `popFrom` and reopens Current on it.
    void SwapWorkFile(TStack& pushOnto, TStack& popFrom);

    // The edit transaction (EditOperations.cpp). Begin: not ready, snapshot. CreateTarget: a new
    // working file of `newFrames` frames behind the adjusted header, open as Target. Commit: the
    // new length, Target becomes Current, the index rebuilt, ready again, OnAction.
    void BeginTransaction();
    void CreateTarget(std::uint32_t newFrames);
    // `built` holds the new index when the operation built it while writing; otherwise the index
    // is rebuilt from the new file, taking over the groups before block `keep`.
    void CommitTransaction(std::uint32_t newFrames, bool reportsProgress,
                           TIndexBuilder* built = nullptr, std::uint32_t keep = 0);
    // Copies frames [0, s) of Current to Target, and frames [u, F) of Current to Target from v.
    void CopyHead(std::uint32_t s);
    void CopyTail(std::uint32_t u, std::uint32_t v);
    // Starts `op` when the document may be edited and nothing runs.
    bool StartEdit(TOperation op);
    // Starts `op` on [start, end) when the range lies in the document.
    bool StartRangeEdit(TOperation op, std::uint32_t start, std::uint32_t end);
    // The Copy procedure, shared by Copy and Cut.
    void CopyToClipboard(std::uint32_t start, std::uint32_t end);

    UiQueue& ui;
    IDocumentUI& window;
    IClipboard* clipboard;

    TStack undoStack;
    TStack redoStack;
    TOperation operation = TOperation::None;
    std::uint8_t header[TLargeFile::HeaderSize] = {};
    std::string workFile;
    std::uint32_t amplifyPercent = 0;
    std::uint32_t rangeStart = 0;
    std::uint32_t rangeEnd = 0;
    std::uint32_t silenceLength = 0;
    std::string exportName;
    std::int32_t normalizePercent = 0;
    std::unique_ptr<CThread> worker;
    bool busy = false;
    std::string artist;
    std::string title;
    std::unique_ptr<TLargeFile> current;
    std::unique_ptr<TLargeFile> target;
    std::string sourceName;
    bool modified = false;
    std::int16_t peak = 0;
    std::atomic<bool> ready{false};
    Tindexdata index;
    bool indexCurrent = false;  // Index describes Current's audio (worker and UI, never both)
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t frames = 0;
    double duration = 0;
    std::atomic<std::int32_t> progress{0};
    std::atomic<std::uint64_t> storeGeneration{0};

    std::mutex storeLock;
};

}  // namespace kestrune
