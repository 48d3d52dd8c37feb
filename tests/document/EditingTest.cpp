// Edits, effects and the undo history, on small documents with exact sample values.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "document/Twavefile.h"
#include "platform/Config.h"
#include "platform/MemoryClipboard.h"
#include "tests/support/DocumentAccess.h"
#include "tests/support/TestDir.h"
#include "tests/support/WavFixture.h"

namespace kestrune {
namespace {

using test::TestDir;
using Samples = std::vector<std::int16_t>;

Samples Ramp(std::size_t n, int scale = 7) {
    Samples s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::int16_t>((i * scale) % 20011 - 10000);
    return s;
}

class Editing : public ::testing::Test {
  protected:
    Editing() {
        doc.OnAction = [this](Twavefile&, bool u, bool r) { actions.emplace_back(u, r); };
        doc.onReady = [this](Twavefile&, bool) { ++readyCalls; };
    }
    // A ready document of `samples` with its index and Peak rebuilt, like a fresh load.
    void Start(std::uint16_t channels, const Samples& samples) {
        const std::string f0 = dir.file("~F0.tmp");
        test::WriteWav(f0, channels, samples);
        TwavefileTestAccess::Adopt(doc, f0);
        TwavefileTestAccess::Run(doc, TOperation::RebuildIndex);
        ASSERT_TRUE(WaitIdle(ui, doc));
        actions.clear();
        readyCalls = 0;
    }
    // Runs `request` and waits for its operation to end.
    void Do(const std::function<void()>& request) {
        request();
        ASSERT_TRUE(WaitIdle(ui, doc));
    }
    Samples Audio() { return test::ReadWavSamples(doc.WorkFile()); }

    TestDir dir;
    UiQueue ui;
    test::RecordingWindow window;
    TMemoryClipboard clipboard;
    Twavefile doc{ui, window, &clipboard};
    std::vector<std::pair<bool, bool>> actions;
    int readyCalls = 0;
};

TEST_F(Editing, EditsChangeTheLengthAsTheyShould) {
    const Samples s0 = Ramp(2 * 1000);
    auto frames = [&](std::size_t a, std::size_t b) {  // stereo frames [a, b) of s0
        return Samples(s0.begin() + 2 * a, s0.begin() + 2 * b);
    };
    auto cat = [](std::initializer_list<Samples> parts) {
        Samples all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    struct Case {
        const char* name;
        std::function<void(Twavefile&)> edit;
        Samples expected;
    };
    const Case cases[] = {
        {"delete nothing", [](Twavefile& d) { d.Delete(300, 300); }, s0},
        {"delete a middle", [](Twavefile& d) { d.Delete(100, 250); },
         cat({frames(0, 100), frames(250, 1000)})},
        {"delete to the end", [](Twavefile& d) { d.Delete(600, 1000); }, frames(0, 600)},
        {"delete everything", [](Twavefile& d) { d.Delete(0, 1000); }, {}},
        {"silence at the end", [](Twavefile& d) { d.InsertSilence(1000, 3); },
         cat({s0, Samples(6, 0)})},
        {"silence inside", [](Twavefile& d) { d.InsertSilence(1, 2); },
         cat({frames(0, 1), Samples(4, 0), frames(1, 1000)})},
        {"no silence", [](Twavefile& d) { d.InsertSilence(5, 0); }, s0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(2, s0);
        const auto peak = doc.Peak();
        Do([&] { c.edit(doc); });
        EXPECT_TRUE(window.errors.empty());
        EXPECT_TRUE(doc.Ready());
        EXPECT_TRUE(doc.Modified());
        EXPECT_EQ(Audio(), c.expected);
        EXPECT_EQ(doc.Frames(), c.expected.size() / 2);
        EXPECT_EQ(doc.UndoStack().Count(), 1u);
        EXPECT_EQ(actions, (std::vector<std::pair<bool, bool>>{{true, false}, {true, false}}));
        if (doc.Frames() <= 512) {
            EXPECT_EQ(doc.Peak(), peak);  // too short to rebuild
        }
        EXPECT_EQ(doc.Progress(), 0);
        doc.Close();
    }
}

// Rounds `x` to nearest, ties to even, as the effects do.
std::int16_t R(double x) {
    return static_cast<std::int16_t>(std::nearbyint(x));
}

TEST_F(Editing, EffectsComputeExactSampleValues) {
    struct Case {
        const char* name;
        Samples before;
        std::function<void(Twavefile&)> effect;
        Samples after;
    };
    Samples big(1000, 0);  // > 512 frames, so Peak is rebuilt from the audio
    auto with = [&big](std::initializer_list<std::int16_t> head) {
        Samples s = big;
        std::copy(head.begin(), head.end(), s.begin());
        return s;
    };
    const Case cases[] = {
        {"fade in one frame", with({500, 9}), [](Twavefile& d) { d.FadeIn(0, 1); }, with({0, 9})},
        {"fade out one frame", with({500, 9}), [](Twavefile& d) { d.FadeOut(0, 1); },
         with({500, 9})},
        {"fade in two frames", with({10000, 10000, 10000}), [](Twavefile& d) { d.FadeIn(0, 2); },
         with({0, 7071, 10000})},
        {"fade out three frames", with({9000, 9000, 9000, 9000}),
         [](Twavefile& d) { d.FadeOut(0, 3); },
         with({9000, R(9000 * std::cos(M_PI / 6)), R(9000 * std::cos(M_PI / 3)), 9000})},
        {"empty fade", with({1, 2}), [](Twavefile& d) { d.FadeIn(1, 1); }, with({1, 2})},
        {"normalize 95 of 16384", with({16384, -100, 1}), [](Twavefile& d) { d.Normalize(95); },
         with({31130, -190, 2})},
        {"normalize saturates", with({16384, -20000}), [](Twavefile& d) { d.Normalize(100); },
         with({32767, -32768})},
        {"normalize without a positive sample", Samples(1000, -5),
         [](Twavefile& d) { d.Normalize(95); }, Samples(1000, -5)},
        {"amplify 101", with({100, -100, 32767}), [](Twavefile& d) { d.Amplify(101); },
         with({100, -100, 32767})},
        {"amplify 200 clips", with({20000, -20000}), [](Twavefile& d) { d.Amplify(200); },
         with({32767, -32767})},
        {"amplify 100 lifts -32768", with({-32768}), [](Twavefile& d) { d.Amplify(100); },
         with({-32767})},
        {"amplify 0 silences", with({123, -4567}), [](Twavefile& d) { d.Amplify(0); }, big},
        {"invert", with({32767, -32768, 0, 5}), [](Twavefile& d) { d.Invert(); },
         with({-32767, -32768, 0, -5})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(1, c.before);
        Do([&] { c.effect(doc); });
        EXPECT_TRUE(window.errors.empty());
        EXPECT_TRUE(doc.Ready());
        EXPECT_EQ(Audio(), c.after);
        EXPECT_EQ(doc.Frames(), c.before.size());
        EXPECT_EQ(doc.UndoStack().Count(), 1u);
        doc.Close();
    }
}

// The index a rebuild computes from `samples`: Max from 0, Min from 32767, B + 1 groups.
Tindexdata ReferenceIndex(const Samples& samples, std::uint32_t channels, std::int16_t* peak) {
    const std::uint32_t F = static_cast<std::uint32_t>(samples.size() / channels);
    const std::uint32_t B = F / 512;
    Tindexdata index((B + 1) * channels);
    *peak = 0;
    for (std::uint32_t b = 0; b <= B; ++b) {
        const std::uint32_t n = b == B ? F % 512 : 512;
        for (std::uint32_t c = 0; c < channels; ++c) {
            std::int16_t max = 0, min = 32767;
            for (std::uint32_t f = 512 * b; f < 512 * b + n; ++f) {
                max = std::max(max, samples[f * channels + c]);
                min = std::min(min, samples[f * channels + c]);
            }
            index[b * channels + c] = n == 0 ? Tindextype{0, 0} : Tindextype{max, min};
            *peak = std::max(*peak, index[b * channels + c].Max);
        }
    }
    return index;
}

// However an edit arrives at its index (rebuilt from the new file, partly taken over from the
// old index, or built while writing), it is the index a full rebuild gives.
TEST_F(Editing, TheIndexAfterEveryEditIsTheFullRebuild) {
    // Loaded through the decoder, so the first index comes from the load's builder; the
    // all-negative stretch makes the two builders differ there.
    Samples s0 = Ramp(2 * 5000, 31);
    for (std::size_t i = 0; i < 2 * 1200; ++i) s0[i] = static_cast<std::int16_t>(-1 - i % 500);
    const std::string source = dir.file("source.wav");
    test::WriteWav(source, 2, s0);
    doc.Open(source);
    ASSERT_TRUE(WaitIdle(ui, doc));
    ASSERT_TRUE(doc.Ready());
    ASSERT_TRUE(clipboard.Open());
    auto block = test::WavHeader(2, 4 * 700);
    block.resize(44 + 4 * 700, 0x40);
    clipboard.WriteWave(block);
    clipboard.Close();

    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"delete", [&] { doc.Delete(1500, 2100); }},
        {"silence", [&] { doc.InsertSilence(1030, 77); }},
        {"paste", [&] { doc.Paste(2048); }},
        {"fade", [&] { doc.FadeOut(700, 2900); }},
        {"normalize", [&] { doc.Normalize(80); }},
        {"amplify", [&] { doc.Amplify(150); }},
        {"reverse", [&] { doc.Reverse(); }},
        {"invert", [&] { doc.Invert(); }},
        {"undo", [&] { doc.Undo(); }},
        {"down to one block", [&] { doc.Delete(512, doc.Frames()); }},
        {"scale the one block", [&] { doc.Amplify(10); }},  // too short to rebuild
        {"grow again", [&] { doc.InsertSilence(512, 1000); }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        Do(step);
        ASSERT_TRUE(doc.Ready());
        if (doc.Frames() <= 512) continue;  // the index is left alone
        std::int16_t peak = 0;
        EXPECT_EQ(doc.Index(), ReferenceIndex(Audio(), 2, &peak));
        EXPECT_EQ(doc.Peak(), peak);
    }
}

TEST_F(Editing, ReverseKeepsChannelsAndTwiceRestores) {
    const Samples s0 = Ramp(2 * 40000, 13);  // several chunks
    Start(2, s0);
    Do([&] { doc.Reverse(); });
    const Samples once = Audio();
    ASSERT_EQ(once.size(), s0.size());
    for (std::size_t f = 0; f < 40000; f += 997) {
        EXPECT_EQ(once[2 * f], s0[2 * (39999 - f)]);
        EXPECT_EQ(once[2 * f + 1], s0[2 * (39999 - f) + 1]);
    }
    Do([&] { doc.Reverse(); });
    EXPECT_EQ(Audio(), s0);
    Do([&] { doc.Invert(); });
    Do([&] { doc.Invert(); });
    EXPECT_EQ(Audio(), s0);
    doc.Close();

    const Samples mono = Ramp(1001, 17);  // not a whole number of 16-byte pieces
    Start(1, mono);
    Do([&] { doc.Reverse(); });
    EXPECT_EQ(Audio(), Samples(mono.rbegin(), mono.rend()));
}

TEST_F(Editing, TheWorkedUndoSequence) {
    const Samples s0 = Ramp(2 * 2000);
    Start(2, s0);
    const std::string f0 = doc.WorkFile();
    Do([&] { doc.Delete(0, 1000); });  // edit A: also changes the length
    const std::string f1 = doc.WorkFile();
    const Tindexdata indexA = doc.Index();
    Do([&] { doc.Amplify(50); });  // edit B
    const std::string f2 = doc.WorkFile();
    using Names = std::vector<std::string>;
    EXPECT_EQ(doc.UndoStack().Names(), (Names{f1, f0}));
    actions.clear();

    Do([&] { doc.Undo(); });
    EXPECT_EQ(doc.WorkFile(), f1);
    EXPECT_EQ(doc.RedoStack().Names(), (Names{f2}));
    Do([&] { doc.Undo(); });
    EXPECT_EQ(doc.WorkFile(), f0);
    EXPECT_EQ(doc.Frames(), 2000u);
    EXPECT_EQ(Audio(), s0);  // bit for bit
    EXPECT_TRUE(doc.Modified());
    EXPECT_TRUE(doc.UndoStack().IsEmpty());
    EXPECT_EQ(doc.RedoStack().Names(), (Names{f1, f2}));
    Do([&] { doc.Redo(); });
    EXPECT_EQ(doc.WorkFile(), f1);
    EXPECT_EQ(doc.Frames(), 1000u);
    EXPECT_EQ(doc.Index(), indexA);
    EXPECT_EQ(actions,
              (std::vector<std::pair<bool, bool>>{{true, true}, {false, true}, {true, true}}));

    actions.clear();
    Do([&] { doc.InsertSilence(0, 10); });  // edit C drops the redo history
    EXPECT_FALSE(test::FileExists(f2));
    EXPECT_EQ(doc.UndoStack().Names(), (Names{f1, f0}));
    EXPECT_TRUE(doc.RedoStack().IsEmpty());
    EXPECT_EQ(actions, (std::vector<std::pair<bool, bool>>{{true, false}, {true, false}}));

    const std::string f3 = doc.WorkFile();
    doc.Close();
    for (const auto& f : {f0, f1, f2, f3}) EXPECT_FALSE(test::FileExists(f));
    EXPECT_TRUE(dir.list().empty());
}

TEST_F(Editing, UndoAndRedoWithoutHistoryOrWhileBusyDoNothing) {
    Start(1, Ramp(1000));
    doc.Undo();
    doc.Redo();
    EXPECT_TRUE(actions.empty());
    EXPECT_FALSE(doc.Busy());
    Do([&] { doc.Invert(); });
    actions.clear();
    doc.Reverse();  // runs
    doc.Undo();     // ignored: busy
    ASSERT_TRUE(WaitIdle(ui, doc));
    EXPECT_EQ(doc.UndoStack().Count(), 2u);
    EXPECT_EQ(actions.size(), 2u);  // the Reverse's own two
}

TEST_F(Editing, AFailedEditCanBeUndoneAndItsFileNeverBecomesTheStore) {
    test::SmallVolume volume(64 * 1024);
    if (!volume.mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const Samples s0 = Ramp(2 * 30000);  // 120 kB: a copy does not fit the volume
    Start(2, s0);
    config.tempfolder = volume.path();
    Do([&] { doc.Reverse(); });
    EXPECT_EQ(window.errors,
              (std::vector<std::string>{
                  "There is not enough memory or disk space to complete the operation."}));
    EXPECT_FALSE(doc.Ready());
    EXPECT_EQ(readyCalls, 1);

    Do([&] { doc.Undo(); });
    EXPECT_TRUE(doc.Ready());
    EXPECT_EQ(Audio(), s0);
    // Redo onto the empty file of the failed edit: not ready, and no store is kept.
    window.errors.clear();
    doc.Redo();
    EXPECT_EQ(window.errors.size(), 1u);
    EXPECT_FALSE(doc.Ready());
    EXPECT_EQ(doc.Current(), nullptr);
    Do([&] { doc.Undo(); });
    EXPECT_TRUE(doc.Ready());
    EXPECT_EQ(Audio(), s0);
    doc.Close();
    EXPECT_TRUE(volume.mounted());
}

TEST_F(Editing, CopyPutsAWavImageOnTheClipboardAndPasteInsertsIt) {
    const Samples s0 = Ramp(2 * 44100 + 2 * 10);
    Start(2, s0);
    Do([&] { doc.Copy(10, 10 + 44100); });
    EXPECT_FALSE(doc.Modified());
    EXPECT_TRUE(actions.empty());
    ASSERT_TRUE(clipboard.Open());
    const auto block = clipboard.ReadWave();
    clipboard.Close();
    ASSERT_EQ(block.size(), 176444u);
    EXPECT_EQ(block[4] | block[5] << 8 | block[6] << 16, 176436);
    EXPECT_EQ(block[40] | block[41] << 8 | block[42] << 16, 176400);

    Do([&] { doc.Paste(10); });  // doubles the copied range
    Samples doubled(s0.begin(), s0.begin() + 20);
    doubled.insert(doubled.end(), s0.begin() + 20, s0.begin() + 20 + 88200);
    doubled.insert(doubled.end(), s0.begin() + 20, s0.end());
    EXPECT_EQ(Audio(), doubled);
    EXPECT_EQ(doc.Frames(), 2u * 44100 + 10);

    Do([&] { doc.Cut(0, 10); });
    EXPECT_EQ(Audio(), Samples(doubled.begin() + 20, doubled.end()));
    Do([&] { doc.Paste(doc.Frames()); });
    const Samples after = Audio();
    EXPECT_EQ(Samples(after.end() - 20, after.end()), Samples(s0.begin(), s0.begin() + 20));
}

TEST_F(Editing, PasteConvertsChannelsAndRefusesWhatItCannotRead) {
    Start(2, Ramp(2 * 600));
    // An empty clipboard: nothing happens, not even a message, but the operation still ends.
    Do([&] { doc.Paste(0); });
    EXPECT_TRUE(doc.UndoStack().IsEmpty());
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(readyCalls, 1);
    EXPECT_TRUE(window.warnings.empty());

    // Mono wave data into the stereo document: each sample fills both channels.
    const Samples mono{100, -200, 300};
    std::vector<std::uint8_t> block = test::WavHeader(1, 6);
    block.insert(block.end(), reinterpret_cast<const std::uint8_t*>(mono.data()),
                 reinterpret_cast<const std::uint8_t*>(mono.data()) + 6);
    ASSERT_TRUE(clipboard.Open());
    clipboard.WriteWave(block);
    clipboard.Close();
    Do([&] { doc.Paste(0); });
    const Samples pasted = Audio();
    EXPECT_EQ(Samples(pasted.begin(), pasted.begin() + 6),
              (Samples{100, 100, -200, -200, 300, 300}));
    EXPECT_EQ(doc.Frames(), 603u);

    // 8-bit data, and a header that claims more than the block holds: nothing changes.
    for (auto bad : {test::WavHeader(1, 0), test::WavHeader(2, 1000)}) {
        if (bad[40] == 0) bad[34] = 8;  // bits per sample
        ASSERT_TRUE(clipboard.Open());
        clipboard.WriteWave(bad);
        clipboard.Close();
        actions.clear();
        const auto undo = doc.UndoStack().Count();
        Do([&] { doc.Paste(1); });
        EXPECT_EQ(doc.UndoStack().Count(), undo);
        EXPECT_TRUE(actions.empty());
        EXPECT_EQ(doc.Frames(), 603u);
        EXPECT_TRUE(doc.Ready());
    }
    EXPECT_EQ(window.warnings.size(), 2u);
}

}  // namespace
}  // namespace kestrune
