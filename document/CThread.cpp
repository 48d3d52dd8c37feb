#include "document/CThread.h"

#include <mutex>
#include <stdexcept>

#include "document/Twavefile.h"
#include "platform/PlaybackIdle.h"

namespace kestrune {

CThread::CThread(Procedure procedure, Twavefile& document)
    : procedure(procedure), document(document) {}

CThread::~CThread() {
    Join();
}

void CThread::Start() {
    thread = std::thread([this] { Execute(); });
}

void CThread::Join() {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
}

void CThread::Execute() {
    exception = nullptr;
    PlaybackIdle.wait();
    try {
        std::lock_guard lock(document.StoreLock());
        procedure(document);
    } catch (...) {
        exception = std::current_exception();
        HandleException();
    }
    document.ui.post([doc = &document] { doc->OperationDone(); });
}

void CThread::HandleException() {
    std::string message = "Unknown error";
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    document.ui.invoke([&] { document.ShowError(message); });
    exception = nullptr;
}

}  // namespace kestrune
