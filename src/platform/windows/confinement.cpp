#include "platform/windows/confinement.h"

#include <windows.h>

namespace kfp::windows_backend {
namespace {

using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

template <typename Policy>
void apply(SetPolicy set, PROCESS_MITIGATION_POLICY kind, Policy policy) {
  // Fails on Windows versions older than the policy; nothing to do about it there.
  set(kind, &policy, sizeof policy);
}

}  // namespace

void confineProcess() {
  // Looked up rather than imported: Windows 7 has no mitigation policies, and an import would keep
  // the renderer from starting at all there.
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set = kernel == nullptr ? nullptr
                                     : reinterpret_cast<SetPolicy>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "SetProcessMitigationPolicy")));
  if (set == nullptr) return;

  PROCESS_MITIGATION_CHILD_PROCESS_POLICY child{};
  child.NoChildProcessCreation = 1;
  apply(set, ProcessChildProcessPolicy, child);

  PROCESS_MITIGATION_EXTENSION_POINT_DISABLE_POLICY extensions{};
  extensions.DisableExtensionPoints = 1;
  apply(set, ProcessExtensionPointDisablePolicy, extensions);

  PROCESS_MITIGATION_IMAGE_LOAD_POLICY images{};
  images.NoRemoteImages = 1;
  images.NoLowMandatoryLabelImages = 1;
  apply(set, ProcessImageLoadPolicy, images);

  PROCESS_MITIGATION_STRICT_HANDLE_CHECK_POLICY handles{};
  handles.RaiseExceptionOnInvalidHandleReference = 1;
  handles.HandleExceptionsPermanentlyEnabled = 1;
  apply(set, ProcessStrictHandleCheckPolicy, handles);

  // Never ProcessFontDisablePolicy: it would refuse every font outside the system's font folder.
}

}  // namespace kfp::windows_backend
