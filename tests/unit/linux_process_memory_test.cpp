#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/linux/process_memory.h"

namespace kfp::linux_backend {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define KFP_FREED_MEMORY_KEPT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KFP_FREED_MEMORY_KEPT 1
#endif
#endif
#ifndef KFP_FREED_MEMORY_KEPT
#define KFP_FREED_MEMORY_KEPT 0
#endif
// The address sanitizer holds freed memory in quarantine: nothing can fall then.
constexpr bool kFreedMemoryKept = KFP_FREED_MEMORY_KEPT;

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kAllocated = 64 * kMiB;
// Allowance for whatever else the process does between readings.
constexpr uint64_t kSlack = 16 * kMiB;

TEST(ProcessMemoryTest, FollowsTouchedAllocations) {
  const struct {
    const char* name;
    size_t blockSize;
    // A live block above small ones keeps the heap from shrinking by itself: then only the
    // trim gives their pages back.
    bool pinned;
  } kCases[] = {{"one mapping", kAllocated, false},
                {"heap blocks", 64 * 1024, false},
                {"heap blocks below a live block", 64 * 1024, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint64_t before = readPrivateBytes();
    ASSERT_GT(before, 0u);

    std::vector<std::unique_ptr<char[]>> blocks;
    for (size_t total = 0; total < kAllocated; total += c.blockSize) {
      blocks.emplace_back(new char[c.blockSize]);
      std::memset(blocks.back().get(), 1, c.blockSize);  // untouched pages are not resident
    }
    // Larger than any free chunk, so it comes from the top of the heap.
    std::unique_ptr<char[]> pin(c.pinned ? new char[100 * 1024] : nullptr);
    const uint64_t grown = readPrivateBytes();
    EXPECT_GE(grown, before + kAllocated - kSlack);

    blocks.clear();
    blocks.shrink_to_fit();
    releaseFreeHeap();
    // Nothing falls there, and the sanitizer's allocator hands the freed blocks to the next row.
    if (kFreedMemoryKept) break;
    const uint64_t released = readPrivateBytes();
    EXPECT_LE(released + kAllocated - kSlack, grown);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
