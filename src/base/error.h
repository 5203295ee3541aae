#pragma once
// Error model: platform result codes and the platform-error exception family.
// JSON access raises these; everything else reports failure by return value.

#include <cstdint>
#include <stdexcept>

namespace kfp {

using HResult = int32_t;

constexpr HResult kOk = 0;
constexpr HResult kFail = static_cast<HResult>(0x80004005u);
constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057u);

inline bool failed(HResult hr) {
  return hr < 0;
}

// Carries a failing platform result code. The message loop answers it with "INVALID_JSON".
class hresult_error : public std::exception {
 public:
  explicit hresult_error(HResult code) : code_(code) {}
  HResult code() const noexcept { return code_; }
  const char* what() const noexcept override { return "platform error"; }

 private:
  HResult code_;
};

#define KFP_HRESULT_SUBTYPE(name, value)                   \
  class name : public hresult_error {                      \
   public:                                                 \
    name() : hresult_error(static_cast<HResult>(value)) {} \
  };
KFP_HRESULT_SUBTYPE(hresult_out_of_bounds, 0x8000000Bu)
KFP_HRESULT_SUBTYPE(hresult_changed_state, 0x8000000Cu)
KFP_HRESULT_SUBTYPE(hresult_illegal_state_change, 0x8000000Du)
KFP_HRESULT_SUBTYPE(hresult_illegal_method_call, 0x8000000Eu)
KFP_HRESULT_SUBTYPE(hresult_illegal_delegate_assignment, 0x80000018u)
KFP_HRESULT_SUBTYPE(hresult_not_implemented, 0x80004001u)
KFP_HRESULT_SUBTYPE(hresult_no_interface, 0x80004002u)
KFP_HRESULT_SUBTYPE(hresult_wrong_thread, 0x8001010Eu)
KFP_HRESULT_SUBTYPE(hresult_class_not_available, 0x80040111u)
KFP_HRESULT_SUBTYPE(hresult_class_not_registered, 0x80040154u)
KFP_HRESULT_SUBTYPE(hresult_access_denied, 0x80070005u)
KFP_HRESULT_SUBTYPE(hresult_invalid_argument, 0x80070057u)
KFP_HRESULT_SUBTYPE(hresult_canceled, 0x800704C7u)
#undef KFP_HRESULT_SUBTYPE

// Raises the exception that belongs to a failing result code; out of memory becomes std::bad_alloc.
[[noreturn]] void throwResult(HResult code);

}  // namespace kfp
