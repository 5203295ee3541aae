// A child whose behaviour the process tests know exactly, in place of the shell the POSIX tests
// use. The first argument picks what it does:
//   args             writes its arguments after the mode as the C runtime split them, UTF-8, one
//                    a line
//   echo             copies stdin to stdout until stdin ends
//   bytes HEX [stay] writes the bytes to stdout; with `stay`, then waits 30 s instead of exiting
//   stderr N         writes N bytes 'e' to stderr, then exits 0
//   handle VALUE     writes "open" when VALUE is a handle it holds, else "closed"
//   grandchild       starts itself with `sleep`, writes the new process id in a frame, then
//                    waits 30 s
//   commit MIB       commits MIB mebibytes at once; exits 0 when it got them, 4 when refused
//   sleep            waits 30 s

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void writeAll(HANDLE out, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(out, bytes.data() + done, DWORD(bytes.size() - done), &n, nullptr)) return;
    done += n;
  }
}

std::string utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"args") {
    std::string text;
    for (int i = 2; i < argc; ++i) text += utf8(argv[i]) + "\n";
    writeAll(out, text);
  } else if (mode == L"echo") {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
      writeAll(out, std::string(buffer, n));
    }
  } else if (mode == L"bytes" && argc > 2) {
    std::string bytes;
    for (const wchar_t* p = argv[2]; p[0] && p[1]; p += 2) {
      const wchar_t pair[3] = {p[0], p[1], 0};
      bytes += char(std::wcstoul(pair, nullptr, 16));
    }
    writeAll(out, bytes);
    if (argc > 3) Sleep(30000);
  } else if (mode == L"stderr" && argc > 2) {
    writeAll(GetStdHandle(STD_ERROR_HANDLE), std::string(size_t(_wtoi(argv[2])), 'e'));
  } else if (mode == L"handle" && argc > 2) {
    const HANDLE handle = reinterpret_cast<HANDLE>(std::wcstoull(argv[2], nullptr, 10));
    DWORD flags = 0;
    writeAll(out, GetHandleInformation(handle, &flags) ? "open" : "closed");
  } else if (mode == L"grandchild") {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" sleep";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
      return 3;
    }
    // As a frame of type 10 whose JSON text is the id, so that the host reads it as a frame.
    const std::string id = std::to_string(info.dwProcessId);
    std::string frame(9, '\0');
    const uint32_t length = uint32_t(5 + id.size()), jsonLength = uint32_t(id.size());
    for (int i = 0; i < 4; ++i) frame[i] = char(length >> (8 * i));
    frame[4] = 10;
    for (int i = 0; i < 4; ++i) frame[5 + i] = char(jsonLength >> (8 * i));
    writeAll(out, frame + id);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    Sleep(30000);
  } else if (mode == L"commit" && argc > 2) {
    const SIZE_T bytes = SIZE_T(_wtoi(argv[2])) << 20;
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) ? 0 : 4;
  } else if (mode == L"sleep") {
    Sleep(30000);
  } else {
    return 2;
  }
  return 0;
}
