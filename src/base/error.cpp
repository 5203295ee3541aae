#include "base/error.h"

#include <new>

namespace kfp {

void throwResult(HResult code) {
  switch (static_cast<uint32_t>(code)) {
    case 0x8000000Bu:
      throw hresult_out_of_bounds();
    case 0x8000000Cu:
      throw hresult_changed_state();
    case 0x8000000Du:
      throw hresult_illegal_state_change();
    case 0x8000000Eu:
      throw hresult_illegal_method_call();
    case 0x80000018u:
      throw hresult_illegal_delegate_assignment();
    case 0x80004001u:
      throw hresult_not_implemented();
    case 0x80004002u:
      throw hresult_no_interface();
    case 0x8001010Eu:
      throw hresult_wrong_thread();
    case 0x80040111u:
      throw hresult_class_not_available();
    case 0x80040154u:
      throw hresult_class_not_registered();
    case 0x80070005u:
      throw hresult_access_denied();
    case 0x80070057u:
      throw hresult_invalid_argument();
    case 0x800704C7u:
      throw hresult_canceled();
    case 0x8007000Eu:
      throw std::bad_alloc();
    default:
      throw hresult_error(code);
  }
}

}  // namespace kfp
