// The preview service on Windows against the renderer .exe built beside this program: renderers
// replaced when they are terminated or stop answering, with every font answered once; the latest
// request wins; and nothing, neither a process nor a handle, left after a shutdown.

#include "preview_service.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/client_testing.h"
#include "windows/renderer_child.h"
#include "windows/windows_test_support.h"

namespace kfp::client {
namespace {

std::vector<int> pidsOf(const PreviewService& service) {
  return testing::TestAccess::rendererPids(service);
}

std::string rendererUtf8() {
  const std::wstring& path = windows_test::rendererPath();
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path.data(), int(path.size()), out.data(), n, nullptr, nullptr);
  return out;
}

const char* const kFamilies[] = {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"};

std::vector<FontDescriptor> fontsNamed(size_t count, const std::string& prefix = "f") {
  std::vector<FontDescriptor> fonts;
  for (size_t i = 0; i < count; ++i) {
    fonts.push_back({.fontId = prefix + std::to_string(i), .familyName = kFamilies[i % 3]});
  }
  return fonts;
}

PreviewRequest requestFor(const std::vector<FontDescriptor>& fonts, std::string key = "k") {
  PreviewRequest request;
  request.layoutKey = std::move(key);
  request.text = "Hamburgefonstiv 0123";
  request.fontSize = 20;
  request.width = 200;
  for (const auto& font : fonts) request.fontIds.push_back(font.fontId);
  return request;
}

PreviewServiceOptions optionsWith(size_t workers) {
  PreviewServiceOptions options;
  options.rendererPath = rendererUtf8();
  options.workers = workers;
  options.replyTimeout = Milliseconds(10000);
  return options;
}

struct Tally {
  std::mutex mutex;
  std::vector<int> counts;
  std::vector<std::string> errors;
  size_t total = 0;

  explicit Tally(size_t n) : counts(n), errors(n) {}
  void add(size_t index, bool resolved, const std::string& error) {
    std::lock_guard lock(mutex);
    ++counts[index];
    if (!resolved) errors[index] = error;
    ++total;
  }
  ::testing::AssertionResult eachOnceAndResolved() {
    std::lock_guard lock(mutex);
    for (size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] != 1) {
        return ::testing::AssertionFailure()
               << "font " << i << " arrived " << counts[i] << " times";
      }
      if (!errors[i].empty()) {
        return ::testing::AssertionFailure() << "font " << i << " failed: " << errors[i];
      }
    }
    return ::testing::AssertionSuccess();
  }
};

DWORD openHandles() {
  DWORD n = 0;
  GetProcessHandleCount(GetCurrentProcess(), &n);
  return n;
}

bool gone(int pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

void terminate(int pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid));
  ASSERT_NE(process, nullptr);
  TerminateProcess(process, 1);
  CloseHandle(process);
}

// Stops every thread of the process, as SIGSTOP does: it neither answers nor exits.
bool suspend(int pid) {
  using Suspend = LONG(NTAPI*)(HANDLE);
  auto suspendProcess = reinterpret_cast<Suspend>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSuspendProcess")));
  HANDLE process = OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, DWORD(pid));
  if (process == nullptr || suspendProcess == nullptr) return false;
  const bool ok = suspendProcess(process) >= 0;
  CloseHandle(process);
  return ok;
}

TEST(WindowsPreviewServiceTest, ATerminatedRendererIsReplacedAndNothingLost) {
  const auto fonts = fontsNamed(600);
  auto options = optionsWith(2);
  options.renderBatch = 4;
  PreviewService service(options);
  service.setFonts(fonts);
  const PreviewRequest request = requestFor(fonts);
  Tally tally(fonts.size());
  int killed = 0;
  auto rendered = service.render(request, [&](size_t index, RenderResult&& result) {
    EXPECT_EQ(result.fontId, request.fontIds[index]);
    tally.add(index, result.resolved, result.error);
    const int pid = pidsOf(service)[0];
    // From the 20th result on, while much work is left, once.
    if (killed == 0 && tally.total >= 20 && pid > 0) {
      killed = pid;
      terminate(pid);
    }
  });
  ASSERT_TRUE(rendered) << rendered.error();
  ASSERT_GT(killed, 0);
  EXPECT_LE(service.stats().rendererRestarts, 1u);
  EXPECT_TRUE(tally.eachOnceAndResolved());
  EXPECT_TRUE(gone(killed));
  const std::vector<int> now = pidsOf(service);
  EXPECT_EQ(std::count(now.begin(), now.end(), killed), 0);
}

TEST(WindowsPreviewServiceTest, ARendererThatStopsAnsweringIsKilledAfterTheTimeoutAndReplaced) {
  const auto fonts = fontsNamed(30);
  auto options = optionsWith(1);
  options.renderBatch = 5;
  options.replyTimeout = Milliseconds(2000);
  PreviewService service(options);
  service.setFonts(fonts);
  Tally tally(fonts.size());
  int stopped = 0;
  bool suspended = false;
  auto rendered = service.render(requestFor(fonts), [&](size_t index, RenderResult&& result) {
    tally.add(index, result.resolved, result.error);
    if (tally.total == 2 && stopped == 0) {
      stopped = pidsOf(service)[0];
      suspended = stopped > 0 && suspend(stopped);
    }
  });
  ASSERT_TRUE(suspended) << "could not suspend the renderer";
  ASSERT_TRUE(rendered) << rendered.error();
  EXPECT_TRUE(gone(stopped)) << "the renderer that stopped answering was not killed";
  EXPECT_GE(service.stats().rendererRestarts, 1u);
  EXPECT_TRUE(tally.eachOnceAndResolved());
}

TEST(WindowsPreviewServiceTest, TheLatestRequestWinsAndNothingStaleArrives) {
  const auto fonts = fontsNamed(400);
  auto options = optionsWith(2);
  options.renderBatch = 2;
  PreviewService service(options);
  service.setFonts(fonts);
  std::atomic<size_t> delivered{0};
  std::atomic<bool> newerStarted{false};
  std::atomic<int> stale{0};
  std::optional<Outcome<std::vector<RenderResult>>> older;
  std::thread running([&] {
    older = service.render(requestFor(fonts, "old"), [&](size_t, RenderResult&&) {
      if (newerStarted) ++stale;
      // Held back after the tenth, so that the newer request comes while this one still runs.
      if (++delivered >= 10) std::this_thread::sleep_for(Milliseconds(20));
    });
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (delivered < 10 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(Milliseconds(1));
  }
  EXPECT_GE(delivered, 10u);  // no ASSERT: the running thread must be joined
  const auto newerFonts = fontsNamed(12);
  std::vector<std::string> keys;
  auto newer = service.render(requestFor(newerFonts, "new"), [&](size_t, RenderResult&& result) {
    newerStarted = true;
    keys.push_back(result.layoutKey);
  });
  running.join();
  ASSERT_TRUE(older && !*older);
  EXPECT_EQ(older->error().kind(), ErrorKind::kCancelled);
  EXPECT_LT(delivered, fonts.size()) << "superseded too late to prove anything";
  EXPECT_EQ(stale, 0);
  ASSERT_TRUE(newer) << newer.error();
  EXPECT_EQ(keys, std::vector<std::string>(newerFonts.size(), "new"));
  EXPECT_EQ(service.stats().rendererRestarts, 0u);
}

TEST(WindowsPreviewServiceTest, ShutdownLeavesNoProcessAndNoHandle) {
  const DWORD handlesBefore = openHandles();
  std::vector<int> pids;
  {
    auto options = optionsWith(2);
    options.measureBatch = options.renderBatch = 4;
    PreviewService service(options);
    const auto fonts = fontsNamed(30);
    service.setFonts(fonts);
    ASSERT_TRUE(service.measure(requestFor(fonts)));
    for (int pid : pidsOf(service)) {
      if (pid > 0) pids.push_back(pid);
    }
    ASSERT_FALSE(pids.empty());
    terminate(pids[0]);  // one dies unseen; its replacement must be ended too
    ASSERT_TRUE(service.render(requestFor(fonts)));
    for (int pid : pidsOf(service)) {
      if (pid > 0) pids.push_back(pid);
    }
    EXPECT_TRUE(service.shutdown());
    EXPECT_EQ(pidsOf(service), std::vector<int>(2, 0));
    EXPECT_EQ(openHandles(), handlesBefore);
    // Usable again after a shutdown; the destructor ends these renderers.
    ASSERT_TRUE(service.measure(requestFor(fonts)));
    for (int pid : pidsOf(service)) {
      if (pid > 0) pids.push_back(pid);
    }
  }
  for (int pid : pids) EXPECT_TRUE(gone(pid)) << pid;
  EXPECT_EQ(openHandles(), handlesBefore);

  PreviewServiceOptions missing = optionsWith(1);
  missing.rendererPath = "C:\\no such dir\\renderer.exe";
  PreviewService broken(missing);
  auto none = broken.measure(requestFor(fontsNamed(3)));
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().kind(), ErrorKind::kStartFailed);
  EXPECT_EQ(broken.stats().rendererStarts, 0u);
}

}  // namespace
}  // namespace kfp::client
