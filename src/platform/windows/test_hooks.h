#pragma once
// Switches that let tests reach the backend's failure and fallback paths. Only a build compiled
// with KFP_TEST_HOOKS reads them (from the environment); the product reads no configuration.

#include <cstdint>
#include <optional>

namespace kfp::windows_backend {

// KFP_TEST_FAIL_INITIALIZE=1: creating the text engine fails.
bool testFailInitialize();
// KFP_TEST_PRIVATE_BYTES=<decimal>: the memory figure to report instead of the process's own.
std::optional<uint64_t> testPrivateBytes();
// KFP_TEST_HIDE_FONTSET1=1: font sets are offered without their version-1 interface.
bool testHideFontSet1();

}  // namespace kfp::windows_backend
