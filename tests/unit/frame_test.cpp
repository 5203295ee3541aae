#include "protocol/frame.h"

#include <gtest/gtest.h>

#include "support/memory_stream.h"

namespace kfp {
namespace {

using testing::frameBytes;
using testing::MemoryReader;
using testing::MemoryWriter;

TEST(ReadFrame, SplitsJsonAndPayload) {
  for (size_t chunk : {size_t(1), size_t(2), size_t(7), SIZE_MAX}) {
    SCOPED_TRACE(chunk);
    MemoryReader in(frameBytes(7, "{\"a\":1}", "PIX") + frameBytes(10, ""), chunk);
    Frame frame;
    ASSERT_TRUE(readFrame(in, frame));
    EXPECT_EQ(frame.type, 7);
    EXPECT_EQ(frame.json, "{\"a\":1}");
    EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), "PIX");
    ASSERT_TRUE(readFrame(in, frame));
    EXPECT_EQ(frame.type, 10);
    EXPECT_TRUE(frame.json.empty());
    EXPECT_TRUE(frame.payload.empty());
    EXPECT_FALSE(readFrame(in, frame));
  }
}

struct LimitCase {
  const char* name;
  int64_t length;
  int64_t jsonLength;
  bool accepted;
};

TEST(ReadFrame, AppliesTheLengthLimits) {
  const LimitCase cases[] = {
      {"smallest frame", 5, 0, true},
      {"length 4", 4, 0, false},
      {"length 0", 0, 0, false},
      {"length 64 MiB + 1", 0x4000001, 0, false},
      {"length 0xFFFFFFFF", 0xFFFFFFFF, 0, false},
      {"json longer than the frame", 5, 1, false},
      {"json 8 MiB + 1", 0x800000 + 6, 0x800001, false},
      {"json 8 MiB", 0x800000 + 5, 0x800000, true},
      {"length 64 MiB", 0x4000000, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = frameBytes(1, "", "", c.length, c.jsonLength);
    const size_t body = c.length >= 5 && c.length <= 0x4000000 ? size_t(c.length) - 5 : 0;
    bytes.append(body, '{');
    // A buffering reader sees the same verdict from the header alone.
    const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(bufferedFrameSize(raw, bytes.size()), c.accepted ? ptrdiff_t(bytes.size()) : -1);
    MemoryReader in(bytes);
    Frame frame;
    EXPECT_EQ(readFrame(in, frame), c.accepted);
    if (c.length < 5 || c.length > 0x4000000)
      EXPECT_EQ(in.position(), 4u);  // body left unread
    else
      EXPECT_EQ(in.position(), bytes.size());  // the whole frame is consumed
  }
}

TEST(ReadFrame, FailsAtEndOfInputInsideAFrame) {
  const std::string full = frameBytes(10, "{}", "xyz");
  for (size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    MemoryReader in(full.substr(0, cut));
    Frame frame;
    EXPECT_FALSE(readFrame(in, frame));
  }
}

TEST(WriteFrame, WritesHeaderJsonAndPayload) {
  MemoryWriter out;
  const uint8_t payload[] = {1, 2, 3};
  ASSERT_TRUE(writeFrame(out, 8, "{}", payload, sizeof payload));
  EXPECT_EQ(out.data, frameBytes(8, "{}", std::string_view("\x01\x02\x03", 3)));

  MemoryWriter empty;
  ASSERT_TRUE(writeFrame(empty, 11, ""));
  EXPECT_EQ(empty.data.size(), kFrameHeaderSize);
}

// Gathers across buffers but takes at most `cap` bytes per call, like a nearly full pipe.
class CappedGatherWriter : public MemoryWriter {
 public:
  explicit CappedGatherWriter(size_t cap) : cap_(cap) {}
  ptrdiff_t writeGather(const ByteSpan* parts, int count) override {
    size_t taken = 0;
    for (int i = 0; i < count && taken < cap_; ++i) {
      const size_t n = std::min(parts[i].size, cap_ - taken);
      data.append(static_cast<const char*>(parts[i].data), n);
      taken += n;
    }
    return static_cast<ptrdiff_t>(taken);
  }

 private:
  size_t cap_;
};

TEST(WriteFrame, ResumesPartialGatheredWritesAcrossParts) {
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  const std::string expected =
      frameBytes(8, "{\"a\":1}", std::string_view("\x01\x02\x03\x04\x05", 5));
  for (size_t cap :
       {size_t(1), size_t(2), size_t(8), size_t(9), size_t(10), size_t(16), size_t(100)}) {
    SCOPED_TRACE(cap);
    CappedGatherWriter out(cap);
    ASSERT_TRUE(writeFrame(out, 8, "{\"a\":1}", payload, sizeof payload));
    EXPECT_EQ(out.data, expected);
    CappedGatherWriter empty(cap);
    ASSERT_TRUE(writeFrame(empty, 11, ""));
    EXPECT_EQ(empty.data, frameBytes(11, ""));
  }
}

TEST(BufferedFrameSize, WaitsForTheWholeFrameAndNoMore) {
  const std::string two = frameBytes(10, "{}", "xyz") + frameBytes(11, "{}");
  const size_t first = two.size() - frameBytes(11, "{}").size();
  const auto* raw = reinterpret_cast<const uint8_t*>(two.data());
  for (size_t cut = 0; cut <= two.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(bufferedFrameSize(raw, cut), cut < first ? 0 : ptrdiff_t(first));
  }
}

TEST(WriteFrame, WritesNothingAboveTheLimits) {
  MemoryWriter out;
  EXPECT_FALSE(writeFrame(out, 6, std::string(kMaxJsonLength + 1, 'x')));
  std::vector<uint8_t> payload(kMaxFrameLength - 5 - 1, 0);
  EXPECT_FALSE(writeFrame(out, 8, "{}", payload.data(), payload.size()));
  EXPECT_TRUE(out.data.empty());
  EXPECT_TRUE(writeFrame(out, 6, std::string(kMaxJsonLength, 'x')));
}

TEST(WriteFrame, ReportsAFailedWrite) {
  for (size_t failAfter : {size_t(0), size_t(4), size_t(9), size_t(10)}) {
    SCOPED_TRACE(failAfter);
    MemoryWriter out(failAfter);
    const uint8_t payload[] = {9};
    EXPECT_FALSE(writeFrame(out, 8, "{}", payload, 1));
  }
}

}  // namespace
}  // namespace kfp
