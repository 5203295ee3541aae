#include "platform/windows/test_hooks.h"

#ifdef KFP_TEST_HOOKS
#include <windows.h>

#include <charconv>
#include <string>
#endif

namespace kfp::windows_backend {

#ifdef KFP_TEST_HOOKS
namespace {

// The variable's value, empty when it is unset or longer than any value these switches take.
std::string environmentValue(const char* name) {
  char value[32];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return {};
  return std::string(value, length);
}

bool switchOn(const char* name) {
  return environmentValue(name) == "1";
}

}  // namespace

bool testFailInitialize() {
  return switchOn("KFP_TEST_FAIL_INITIALIZE");
}

std::optional<uint64_t> testPrivateBytes() {
  const std::string text = environmentValue("KFP_TEST_PRIVATE_BYTES");
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool testHideFontSet1() {
  return switchOn("KFP_TEST_HIDE_FONTSET1");
}

#else

bool testFailInitialize() {
  return false;
}
std::optional<uint64_t> testPrivateBytes() {
  return std::nullopt;
}
bool testHideFontSet1() {
  return false;
}

#endif

}  // namespace kfp::windows_backend
