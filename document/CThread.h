#pragma once

// The worker of one document operation. Created per operation by the document on the UI thread;
// its body (worker thread) waits for PlaybackIdle, runs the procedure with the store lock held,
// and hands an error to the UI thread (HandleException). When the body has ended it posts the
// document's OperationDone to the UI thread, which joins and destroys it.

#include <atomic>
#include <exception>
#include <thread>

namespace kestrune {

class Twavefile;

class CThread {
  public:
    using Procedure = void (*)(Twavefile&);

    // Return values: 1 the operation succeeded (the initial value), 0 a Load found the file
    // unusable, −1 the operation raised an error.
    static constexpr int Succeeded = 1;
    static constexpr int Unusable = 0;
    static constexpr int Failed = -1;

    // Created suspended: nothing runs until Start.
    CThread(Procedure procedure, Twavefile& document);
    // Joins the thread if it still runs (the document only destroys an ended worker).
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    void Start();
    void Join();

    int ReturnValue() const noexcept { return returnValue.load(); }
    void SetReturnValue(int value) noexcept { returnValue.store(value); }

  protected:
    // Worker thread: shows the current error on the UI thread and waits for it.
    virtual void HandleException();

  private:
    void Execute();

    Procedure procedure;
    Twavefile& document;
    std::exception_ptr exception;
    std::atomic<int> returnValue{Succeeded};
    std::thread thread;
};

}  // namespace kestrune
