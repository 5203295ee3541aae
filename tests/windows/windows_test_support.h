#pragma once
// Shared by the Windows backend's contract tests.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace kfp::windows_test {

// Wine's ntdll exports its version; Windows' does not.
inline bool runningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Sets an environment variable for the test's lifetime; the backend reads its switches on use.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    SetEnvironmentVariableA(name, value);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
};

}  // namespace kfp::windows_test

// For behaviour Wine 8 does not implement: the test runs on Windows and is skipped under Wine.
#define KFP_SKIP_UNDER_WINE(what)                                                 \
  do {                                                                            \
    if (::kfp::windows_test::runningUnderWine()) GTEST_SKIP() << "Wine 8: " what; \
  } while (0)
