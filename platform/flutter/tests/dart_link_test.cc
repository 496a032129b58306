// Framing of the socket relay to an out-of-process Dart side.
#include <gtest/gtest.h>

#include "../src/dart_link.h"

namespace {

using fl_standin::EncodeFrame;
using fl_standin::Frame;
using fl_standin::FrameKind;
using fl_standin::TakeFrames;

struct Collected {
  std::vector<Frame> frames;
  std::vector<std::string> malformed;
  bool Take(std::vector<uint8_t>* buffer) {
    return TakeFrames(
        buffer, [&](Frame f) { frames.push_back(std::move(f)); },
        [&](const std::string& why) { malformed.push_back(why); });
  }
};

TEST(DartLinkTest, FramesSurviveArbitrarySplits) {
  std::vector<uint8_t> stream;
  EncodeFrame({FrameKind::kCall, 7, "chan/a", {1, 2, 3}}, &stream);
  EncodeFrame({FrameKind::kReply, 9, "", {}}, &stream);
  EXPECT_EQ(
      std::vector<uint8_t>(stream.begin(), stream.begin() + 13),
      (std::vector<uint8_t>{13 + 3, 0, 0, 0, 1, 7, 0, 0, 0, 6, 0, 'c', 'h'}));
  for (size_t cut = 0; cut <= stream.size(); cut++) {
    SCOPED_TRACE(cut);
    Collected c;
    std::vector<uint8_t> buffer(stream.begin(), stream.begin() + cut);
    ASSERT_TRUE(c.Take(&buffer));
    buffer.insert(buffer.end(), stream.begin() + cut, stream.end());
    ASSERT_TRUE(c.Take(&buffer));
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(c.frames[0].name, "chan/a");
    EXPECT_EQ(c.frames[0].id, 7u);
    EXPECT_EQ(c.frames[0].payload, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(c.frames[1].kind, FrameKind::kReply);
    EXPECT_TRUE(c.malformed.empty());
  }
}

TEST(DartLinkTest, MalformedFramesAreSkippedAndReadingGoesOn) {
  std::vector<uint8_t> buffer = {
      3, 0, 0, 0, 1,  0, 0,                   // shorter than a header
      7, 0, 0, 0, 99, 0, 0, 0, 0, 0, 0,       // unknown kind
      8, 0, 0, 0, 1,  0, 0, 0, 0, 9, 0, 'x',  // name runs past the frame
  };
  EncodeFrame({FrameKind::kCall, 1, "ok", {}}, &buffer);
  Collected c;
  EXPECT_TRUE(c.Take(&buffer));
  EXPECT_EQ(c.malformed.size(), 3u);
  ASSERT_EQ(c.frames.size(), 1u);
  EXPECT_EQ(c.frames[0].name, "ok");
}

TEST(DartLinkTest, AnOversizedLengthEndsTheStream) {
  std::vector<uint8_t> buffer = {0xff, 0xff, 0xff, 0xff, 1, 2, 3};
  Collected c;
  EXPECT_FALSE(c.Take(&buffer));
  EXPECT_EQ(c.malformed.size(), 1u);
}

}  // namespace
