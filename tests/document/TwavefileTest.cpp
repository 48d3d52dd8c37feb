#include "document/Twavefile.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/PlaybackIdle.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using test::TestDir;

// A window that also notes whether each call arrived on the UI thread.
struct ThreadCheckingWindow : test::RecordingWindow {
    explicit ThreadCheckingWindow(UiQueue& ui) : ui(ui) {}
    void ShowError(const std::string& m) override {
        onUiThread = onUiThread && ui.isUiThread();
        RecordingWindow::ShowError(m);
    }
    UiQueue& ui;
    bool onUiThread = true;
};

class Document : public ::testing::Test {
  protected:
    Document() {
        doc.onReady = [this](Twavefile&, bool) { log.push_back("ready"); };
        doc.onLoaded = [this](Twavefile&, bool) { log.push_back("loaded"); };
    }
    // A working file in the temporary folder, adopted as the document's audio.
    std::string AdoptStereo(std::uint32_t frames) {
        const std::string path = dir.file("~1.tmp");
        test::WriteWav(path, 2, std::vector<std::int16_t>(2 * frames, 3));
        TwavefileTestAccess::Adopt(doc, path);
        return path;
    }

    TestDir dir;
    UiQueue ui;
    ThreadCheckingWindow window{ui};
    Twavefile doc{ui, window};
    std::vector<std::string> log;
};

Event& Gate() {
    static Event gate(Event::Reset::Manual);
    return gate;
}

TEST_F(Document, RequestsWhileBusyAreIgnoredAndCloseDoesNothing) {
    const std::string work = AdoptStereo(100);
    Gate().reset();
    TwavefileTestAccess::Run(doc, TOperation::Copy, [](Twavefile&) { Gate().wait(); });
    ASSERT_TRUE(doc.Busy());
    TwavefileTestAccess::Run(doc, TOperation::Reverse, [](Twavefile&) { FAIL(); });
    doc.Close();
    EXPECT_EQ(doc.Operation(), TOperation::Copy);
    EXPECT_NE(doc.Current(), nullptr);
    EXPECT_TRUE(test::FileExists(work));
    Gate().set();
    ASSERT_TRUE(WaitIdle(ui, doc));
    EXPECT_EQ(log, (std::vector<std::string>{"ready"}));
    EXPECT_TRUE(doc.Ready());
}

TEST_F(Document, AnErrorReachesShowErrorOnTheUiThreadAndLeavesTheDocumentNotReady) {
    AdoptStereo(100);
    TwavefileTestAccess::Run(doc, TOperation::Cut, [](Twavefile& d) {
        // The worker holds the store lock while it runs, so a UI reader's try_lock fails.
        EXPECT_FALSE(d.StoreLock().try_lock());
        throw std::runtime_error("Disk on fire");
    });
    ASSERT_TRUE(WaitIdle(ui, doc));
    EXPECT_EQ(window.errors, (std::vector<std::string>{"Disk on fire"}));
    EXPECT_TRUE(window.onUiThread);
    EXPECT_EQ(window.captureCancels, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"ready"}));
    EXPECT_EQ(doc.Progress(), 0);
}

TEST_F(Document, SuccessfulLoadCallsOnLoadedBeforeOnReadyAndUnusableFileDoesNot) {
    TwavefileTestAccess::Run(doc, TOperation::Load, [](Twavefile&) {});
    ASSERT_TRUE(WaitIdle(ui, doc));
    EXPECT_EQ(log, (std::vector<std::string>{"loaded", "ready"}));
    EXPECT_TRUE(doc.Ready());

    doc.Close();
    log.clear();
    TwavefileTestAccess::Run(doc, TOperation::Load, [](Twavefile& d) {
        TwavefileTestAccess::SetReturnValue(d, CThread::Unusable);
    });
    ASSERT_TRUE(WaitIdle(ui, doc));
    EXPECT_EQ(log, (std::vector<std::string>{"ready"}));
    EXPECT_FALSE(doc.Ready());
}

TEST_F(Document, OperationsWaitForPlaybackToBeIdle) {
    AdoptStereo(10);
    PlaybackIdle.reset();
    std::atomic<bool> ran = false;
    static std::atomic<bool>* flag;
    flag = &ran;
    TwavefileTestAccess::Run(doc, TOperation::Invert, [](Twavefile&) { *flag = true; });
    ui.waitAndProcess(50ms);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(doc.Busy());
    PlaybackIdle.set();
    ASSERT_TRUE(WaitIdle(ui, doc));
    EXPECT_TRUE(ran);
}

TEST_F(Document, CloseDeletesTheWorkingFileAndKeepsTheLength) {
    const std::string work = AdoptStereo(44100);
    EXPECT_EQ(doc.Frames(), 44100u);
    EXPECT_DOUBLE_EQ(doc.Duration(), 1.0);
    doc.Close();
    EXPECT_FALSE(doc.Ready());
    EXPECT_EQ(doc.Current(), nullptr);
    EXPECT_FALSE(test::FileExists(work));
    EXPECT_EQ(doc.Frames(), 44100u);
    EXPECT_TRUE(doc.SourceName().empty());
    EXPECT_TRUE(dir.list().empty());
}

TEST_F(Document, HeaderGivesFramesAndDuration) {
    struct Case {
        std::uint16_t channels;
        std::uint32_t dataBytes;
        std::uint32_t frames;
        double duration;
    };
    for (const Case& c :
         {Case{2, 0, 0, 0.0}, Case{2, 4 * 44100, 44100, 1.0}, Case{1, 3 * 44100 + 1, 66150, 1.5}}) {
        const auto h = test::WavHeader(c.channels, c.dataBytes);
        TwavefileTestAccess::ApplyHeader(doc, h.data());
        EXPECT_EQ(doc.Frames(), c.frames);
        EXPECT_EQ(doc.Channels(), c.channels);
        EXPECT_EQ(doc.SampleRate(), 44100u);
        EXPECT_DOUBLE_EQ(doc.Duration(), c.duration);
    }
}

}  // namespace
}  // namespace kestrune
