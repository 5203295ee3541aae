// kest-font-preview-renderer on Windows: the process entry and the standard handles.

#include <objbase.h>
#include <windows.h>

#include <string>

#include "host/command_line.h"
#include "host/message_loop.h"
#include "host/windows_confinement.h"
#include "host/windows_stdio.h"
#include "platform/windows/windows_backend.h"
#include "protocol/byte_stream.h"

namespace kfp {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

// Ends the COM apartment on every way out of the entry, an escaping exception included.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool entered() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// Gives the main thread its message queue before anything else runs. The one message posted to
// it is taken back at once; the queue is never looked at again.
void createMessageQueue() {
  MSG message;
  PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_NOREMOVE);
  if (PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0)) {
    GetMessageW(&message, nullptr, WM_APP, WM_APP);
  }
}

// The command line after the program name, as UTF-8.
std::string argumentTextUtf8() {
  const std::u16string_view text =
      argumentText(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int units = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

int run() {
  createMessageQueue();
  const std::string arguments = argumentTextUtf8();
  if (isVersionRequest(arguments)) {
    StandardHandle output(GetStdHandle(STD_OUTPUT_HANDLE), HandleUse::kWrite);
    if (output.usable()) {
      HandleWriter out(output);
      writeVersionLine(out);
    }
    return kExitOk;
  }

  // The font list needs stdout alone.
  if (isListFontsRequest(arguments)) {
    StandardHandle output(GetStdHandle(STD_OUTPUT_HANDLE), HandleUse::kWrite);
    if (!output.usable()) return kExitBadHandles;
    const ComApartment apartment;
    if (!apartment.entered()) return kExitInitializeFailed;
    HandleWriter out(output);
    return writeInstalledFontList(*createWindowsBackend(), out);
  }

  // Missing, closed, made-up, or opened the wrong way: the host gets nothing from this renderer.
  StandardHandle input(GetStdHandle(STD_INPUT_HANDLE), HandleUse::kRead);
  StandardHandle output(GetStdHandle(STD_OUTPUT_HANDLE), HandleUse::kWrite);
  if (!input.usable() || !output.usable()) return kExitBadHandles;

  // Nothing has been written yet; the renderer cannot run without its platform components.
  const ComApartment apartment;
  if (!apartment.entered()) return kExitInitializeFailed;

  HandleReader in(input);
  HandleWriter out(output);
  const auto backend = createWindowsBackend();
  // Confined once COM, the backend and its font sets are set up, before anything the host sent
  // is parsed.
  return runMessageLoop(*backend, in, out, LoopEnd::kReturn, [] { confineProcess(); });
}

}  // namespace
}  // namespace kfp

int main() {
  // A crash must end the process rather than wait on an error dialog that nobody sees: the host
  // learns of it from the exit status and starts a fresh renderer.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  try {
    return kfp::run();
  } catch (...) {
    // Only the start-up can throw (the loop answers its own failures). Letting it escape would
    // print the runtime's abort message on standard error.
    return kfp::kExitInitializeFailed;
  }
}
