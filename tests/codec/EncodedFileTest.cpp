#include "codec/EncodedFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/TestDir.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace kestrune {
namespace {

// The writers only meet set-up failures before the file exists. A muxer that refuses the header
// does so after the file was created: Open must raise the create message and remove the file.
TEST(EncodedFile, ARefusedHeaderRaisesTheCreateMessageAndLeavesNoFile) {
    test::TestDir dir;
    EncodedFile file(
        avcodec_find_encoder_by_name("libmp3lame"),
        {.open = "open", .create = "create", .write = "write: ", .encode = "encode: "});
    AVCodecContext* c = file.Encoder();
    c->sample_fmt = AV_SAMPLE_FMT_S16P;
    c->sample_rate = 44100;
    c->time_base = AVRational{1, 44100};
    av_channel_layout_default(&c->ch_layout, 1);
    ASSERT_EQ(avcodec_open2(c, c->codec, nullptr), 0);
    try {
        // An option the mp3 muxer does not know is left over from the header.
        file.Open("mp3", dir.file("out.mp3"), {{"no_such_option", 1}});
        ADD_FAILURE() << "the header was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "create");
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_NO_THROW(file.RaiseIfFailed());
    EXPECT_TRUE(dir.list().empty());
}

}  // namespace
}  // namespace kestrune
