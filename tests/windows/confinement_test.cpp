// The product renderer once it has read its first frame, seen from its host: the process
// mitigation policies in force, read with GetProcessMitigationPolicy on the child's handle, and a
// font still drawn under them. Wine accepts the policies without applying or reporting them, so
// these cases run on Windows only.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "support/memory_stream.h"
#include "windows/renderer_child.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

using windows_test::closeHandle;
using windows_test::Pipe;

// Reads whole frames from `handle` until `count` have come or `child` has ended.
std::vector<std::string> readFrames(HANDLE handle, HANDLE child, size_t count) {
  std::vector<std::string> frames;
  std::string pending;
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (frames.size() < count && GetTickCount64() < deadline) {
    windows_test::drainAvailable(handle, pending);
    const ptrdiff_t size =
        bufferedFrameSize(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
    if (size < 0) break;
    if (size > 0) {
      frames.push_back(pending.substr(0, size_t(size)));
      pending.erase(0, size_t(size));
    } else if (WaitForSingleObject(child, 10) == WAIT_OBJECT_0) {
      break;
    }
  }
  return frames;
}

struct PolicyCase {
  const char* name;
  PROCESS_MITIGATION_POLICY policy;
  DWORD flags;  // the policy's flag word as the renderer must have set it
};

// The flag bits in the order the headers declare them, bit 0 first.
const PolicyCase kPolicies[] = {
    {"no child processes", ProcessChildProcessPolicy, 0x1},
    {"extension points disabled", ProcessExtensionPointDisablePolicy, 0x1},
    {"no remote or low-integrity images", ProcessImageLoadPolicy, 0x3},
    {"strict handle checks, permanently", ProcessStrictHandleCheckPolicy, 0x3},
    // Users' own fonts must still resolve: this one stays off.
    {"non-system fonts allowed", ProcessFontDisablePolicy, 0x0},
};

TEST(Confinement, PoliciesHoldAfterTheFirstFrameAndFontsStillDraw) {
  KFP_SKIP_UNDER_WINE("process mitigation policies are accepted but neither applied nor reported");
  Pipe in, out;
  ASSERT_TRUE(in.open(true) && out.open(false));
  DWORD flags[std::size(kPolicies)] = {};
  BOOL queried[std::size(kPolicies)] = {};
  std::vector<std::string> before, after;
  const windows_test::ChildRun run = windows_test::runRenderer(
      L"renderer", in.read, out.write,
      [&](HANDLE child) {
        closeHandle(in.read);
        closeHandle(out.write);
        windows_test::writeAllTo(in.write, testing::frameBytes(10, "{}"));
        before = readFrames(out.read, child, 1);
        for (size_t i = 0; i < std::size(kPolicies); ++i) {
          // Each of these policy structures is its flag word alone.
          queried[i] =
              GetProcessMitigationPolicy(child, kPolicies[i].policy, &flags[i], sizeof flags[i]);
        }
        windows_test::writeAllTo(
            in.write, testing::frameBytes(3, R"({"fonts":[{"fontId":"a","familyName":"Arial"}]})") +
                          testing::frameBytes(
                              7, R"({"requestId":1,"generation":1,"text":"Hi","fontIds":["a"]})"));
        after = readFrames(out.read, child, 2);
        closeHandle(in.write);
      },
      out.read);
  ASSERT_TRUE(run.started) << GetLastError();
  ASSERT_EQ(before.size(), 1u);
  for (size_t i = 0; i < std::size(kPolicies); ++i) {
    SCOPED_TRACE(kPolicies[i].name);
    EXPECT_TRUE(queried[i]) << GetLastError();
    EXPECT_EQ(flags[i], kPolicies[i].flags);
  }
  ASSERT_EQ(after.size(), 2u);
  const std::string& render = after[1];
  EXPECT_EQ(render[4], 8) << "a RenderResult";
  EXPECT_NE(render.find(R"("resolved":true)"), std::string::npos) << render.substr(9, 200);
  const uint32_t jsonLength = loadLe32(reinterpret_cast<const uint8_t*>(render.data()) + 5);
  EXPECT_NE(render.find_first_not_of('\0', kFrameHeaderSize + jsonLength), std::string::npos)
      << "ink in the bitmap";
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.errors, "");
}

}  // namespace
}  // namespace kfp
