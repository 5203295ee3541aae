#include "protocol/frame_batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/memory_stream.h"

namespace kfp {
namespace {

using std::chrono::microseconds;
using testing::CappedGatherWriter;
using testing::frameBytes;
using testing::MemoryWriter;

void fill(FrameBatch& batch, uint8_t type, std::string json, std::string payload) {
  Frame& frame = batch.next();
  frame.type = type;
  frame.json = std::move(json);
  frame.payload.assign(payload.begin(), payload.end());
}

// Frames of varying sizes, the payload of each a different length so that reused buffers that kept
// a longer earlier payload would show.
std::string pushFrames(FrameBatch& batch, int count) {
  std::string expected;
  for (int i = 0; i < count; ++i) {
    const std::string json = "{\"n\":" + std::to_string(i) + "}";
    const std::string payload(size_t((i * 7) % 23), char('a' + i % 26));
    fill(batch, 8, json, payload);
    EXPECT_TRUE(batch.push());
    expected += frameBytes(8, json, payload);
  }
  return expected;
}

struct FlushCase {
  const char* name;
  size_t flushBytes;
  size_t flushFrames;
  int frames;
  int gathersBeforeFinalFlush;  // with an uncapped writer
};

TEST(FrameBatch, LeavesAtTheByteOrFrameThresholdAndKeepsOrder) {
  const FlushCase cases[] = {
      {"one frame at a time", 0, 16, 5, 5},
      {"frame threshold", SIZE_MAX, 4, 10, 2},
      {"byte threshold", 60, 100, 6, 2},
      {"nothing reached", SIZE_MAX, 100, 3, 0},
  };
  for (const FlushCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t cap : {size_t(1), size_t(10), SIZE_MAX}) {
      SCOPED_TRACE(cap);
      CappedGatherWriter out(cap);
      FrameBatch batch(out, c.flushBytes, c.flushFrames, microseconds(60000000));
      const std::string expected = pushFrames(batch, c.frames);
      if (cap == SIZE_MAX) {
        EXPECT_EQ(out.gathers, c.gathersBeforeFinalFlush);
      }
      ASSERT_TRUE(batch.flush());
      EXPECT_EQ(batch.pendingFrames(), 0u);
      EXPECT_EQ(out.data, expected);
      // The storage of the flushed frames is reused for the next ones.
      const std::string more = pushFrames(batch, c.frames);
      ASSERT_TRUE(batch.flush());
      EXPECT_EQ(out.data, expected + more);
    }
  }
}

TEST(FrameBatch, AFrameThatWaitedTooLongLeavesWithTheNext) {
  MemoryWriter out;
  FrameBatch batch(out, SIZE_MAX, 100, microseconds(1000));
  fill(batch, 8, "{}", "a");
  ASSERT_TRUE(batch.push());
  EXPECT_TRUE(out.data.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  fill(batch, 8, "{}", "b");
  ASSERT_TRUE(batch.push());
  EXPECT_EQ(out.data, frameBytes(8, "{}", "a") + frameBytes(8, "{}", "b"));
}

TEST(FrameBatch, RefusesAFrameAboveTheLimitsAndKeepsTheOthers) {
  MemoryWriter out;
  FrameBatch batch(out, SIZE_MAX, 100, microseconds(60000000));
  fill(batch, 8, "{}", "a");
  ASSERT_TRUE(batch.push());
  fill(batch, 8, std::string(kMaxJsonLength + 1, 'x'), "");
  EXPECT_FALSE(batch.push());
  fill(batch, 8, "{}", "c");
  ASSERT_TRUE(batch.push());
  ASSERT_TRUE(batch.flush());
  EXPECT_EQ(out.data, frameBytes(8, "{}", "a") + frameBytes(8, "{}", "c"));
}

TEST(FrameBatch, ReportsAFailedWrite) {
  for (size_t failAfter : {size_t(0), size_t(9), size_t(20)}) {
    SCOPED_TRACE(failAfter);
    MemoryWriter out(failAfter);
    FrameBatch batch(out, SIZE_MAX, 3, microseconds(60000000));
    fill(batch, 8, "{}", "abc");
    EXPECT_TRUE(batch.push());
    fill(batch, 8, "{}", "abc");
    EXPECT_TRUE(batch.push());
    fill(batch, 8, "{}", "abc");
    EXPECT_FALSE(batch.push());  // the third frame makes the batch leave, and the write fails
  }
}

}  // namespace
}  // namespace kfp
