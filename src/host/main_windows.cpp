// kest-font-preview-renderer on Windows: the process entry and the standard handles.

#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "host/command_line.h"
#include "host/message_loop.h"
#include "platform/windows/windows_backend.h"
#include "protocol/byte_stream.h"

namespace kfp {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

DWORD clampToDword(size_t count) {
  return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
}

// Synchronous reads on the standard input handle; the host closing its end is the end of input.
class HandleReader : public ByteReader {
 public:
  explicit HandleReader(HANDLE handle) : handle_(handle) {}
  ptrdiff_t read(void* buffer, size_t count) override {
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, clampToDword(count), &done, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<ptrdiff_t>(done);
  }

 private:
  HANDLE handle_;
};

// Synchronous writes; bytes go out as they are (handles know no text mode).
class HandleWriter : public ByteWriter {
 public:
  explicit HandleWriter(HANDLE handle) : handle_(handle) {}
  ptrdiff_t write(const void* buffer, size_t count) override {
    DWORD done = 0;
    if (!WriteFile(handle_, buffer, clampToDword(count), &done, nullptr)) return -1;
    return static_cast<ptrdiff_t>(done);
  }
  // Pipes cannot gather. Leading parts that fit are copied into one buffer, so that a reply leaves
  // in one write and a bitmap frame in two (header and JSON, then the payload).
  ptrdiff_t writeGather(const ByteSpan* parts, int count) override {
    size_t used = 0;
    for (int i = 0; i < count && parts[i].size <= sizeof gathered_ - used; ++i) {
      if (parts[i].size != 0) std::memcpy(gathered_ + used, parts[i].data, parts[i].size);
      used += parts[i].size;
    }
    if (used == 0) return ByteWriter::writeGather(parts, count);
    return write(gathered_, used);
  }

 private:
  HANDLE handle_;
  unsigned char gathered_[16384];
};

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
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != INVALID_HANDLE_VALUE) {
      HandleWriter out(output);
      writeVersionLine(out);
    }
    return kExitOk;
  }

  // Nothing has been written yet; the renderer cannot run without its platform components.
  const ComApartment apartment;
  if (!apartment.entered()) return kExitInitializeFailed;
  if (isListFontsRequest(arguments)) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == INVALID_HANDLE_VALUE || output == nullptr) return kExitBadHandles;
    HandleWriter out(output);
    return writeInstalledFontList(*createWindowsBackend(), out);
  }

  // A null handle is let through: its first read fails and the session ends normally.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE) return kExitBadHandles;
  HandleReader in(input);
  HandleWriter out(output);
  const auto backend = createWindowsBackend();
  return runMessageLoop(*backend, in, out);
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
