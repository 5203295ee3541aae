#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/linux/backend_parts.h"

namespace kfp::linux_backend {
namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kAllocated = 64 * kMiB;
// Allowance for whatever else the process does between readings.
constexpr uint64_t kSlack = 16 * kMiB;

TEST(ProcessMemoryTest, FollowsTouchedAllocations) {
  const struct {
    const char* name;
    size_t blockSize;  // small blocks come from the heap, where only a trim gives them back
  } kCases[] = {{"one mapping", kAllocated}, {"heap blocks", 64 * 1024}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint64_t before = readPrivateBytes();
    ASSERT_GT(before, 0u);

    std::vector<std::unique_ptr<char[]>> blocks;
    for (size_t total = 0; total < kAllocated; total += c.blockSize) {
      blocks.emplace_back(new char[c.blockSize]);
      std::memset(blocks.back().get(), 1, c.blockSize);  // untouched pages are not resident
    }
    const uint64_t grown = readPrivateBytes();
    EXPECT_GE(grown, before + kAllocated - kSlack);

    blocks.clear();
    blocks.shrink_to_fit();
    releaseFreeHeap();
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#endif
    const uint64_t released = readPrivateBytes();
    EXPECT_LE(released + kAllocated - kSlack, grown);
  }
}

}  // namespace
}  // namespace kfp::linux_backend
