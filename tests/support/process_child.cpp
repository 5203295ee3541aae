// A child whose behaviour the process tests know exactly, built for both operating systems. The
// first argument picks what it does:
//   args ...          writes its arguments after the mode as it received them (UTF-8), one a line
//   echo              copies stdin to stdout until stdin ends
//   bytes HEX [stay]  writes the bytes to stdout; with `stay`, then waits 30 s instead of exiting
//   flood N BYTES     writes N frames of type 10 whose JSON text is their index and whose payload
//                     is BYTES bytes of that index, as fast as the pipe takes them
//   stderr N          writes N bytes 'e' to stderr, then exits 0
//   exit CODE         exits with CODE at once
//   handle VALUE      writes "open" when VALUE is a handle (a descriptor on POSIX) it holds, else
//                     "closed"
//   sleep             waits 30 s
// Windows only:
//   grandchild        starts itself with `sleep`, writes the new process id in a frame, then
//                     waits 30 s
//   commit MIB        commits MIB mebibytes at once; exits 0 when it got them, 4 when refused
// POSIX only:
//   signals           writes "blocked N" (the number of blocked signals) and "sigpipe default" or
//                     "sigpipe ignored", one a line
// Anything else exits 2.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Unbuffered, untranslated writes to stdout (1) or stderr (2); false once the reader is gone.
bool writeAll(int stream, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
#ifdef _WIN32
    DWORD n = 0;
    const HANDLE out = GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (!WriteFile(out, bytes.data() + done, DWORD(bytes.size() - done), &n, nullptr)) return false;
#else
    const ssize_t n = ::write(stream, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
#endif
    done += size_t(n);
  }
  return true;
}

// Bytes from stdin; 0 at its end.
size_t readSome(char* buffer, size_t size) {
#ifdef _WIN32
  DWORD n = 0;
  return ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, DWORD(size), &n, nullptr) ? n : 0;
#else
  const ssize_t n = ::read(0, buffer, size);
  return n > 0 ? size_t(n) : 0;
#endif
}

void sleepSeconds(int seconds) {
#ifdef _WIN32
  Sleep(DWORD(seconds) * 1000);
#else
  ::sleep(unsigned(seconds));
#endif
}

std::string frame(uint8_t type, const std::string& json, const std::string& payload) {
  std::string out(9, '\0');
  const uint32_t length = uint32_t(5 + json.size() + payload.size());
  const uint32_t jsonLength = uint32_t(json.size());
  for (int i = 0; i < 4; ++i) out[i] = char(length >> (8 * i));
  out[4] = char(type);
  for (int i = 0; i < 4; ++i) out[5 + i] = char(jsonLength >> (8 * i));
  return out + json + payload;
}

int run(const std::vector<std::string>& args) {
  const std::string mode = args.size() > 1 ? args[1] : "";
  const auto number = [&](size_t i) { return std::strtoull(args[i].c_str(), nullptr, 10); };
  if (mode == "args") {
    std::string text;
    for (size_t i = 2; i < args.size(); ++i) text += args[i] + "\n";
    writeAll(1, text);
  } else if (mode == "echo") {
    char buffer[65536];
    while (const size_t n = readSome(buffer, sizeof buffer)) {
      if (!writeAll(1, std::string(buffer, n))) return 1;
    }
  } else if (mode == "bytes" && args.size() > 2) {
    std::string bytes;
    const std::string& hex = args[2];
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      bytes += char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    writeAll(1, bytes);
    if (args.size() > 3) sleepSeconds(30);
  } else if (mode == "flood" && args.size() > 3) {
    const uint64_t count = number(2), size = number(3);
    for (uint64_t i = 0; i < count; ++i) {
      if (!writeAll(1, frame(10, std::to_string(i), std::string(size, char(i))))) return 1;
    }
  } else if (mode == "stderr" && args.size() > 2) {
    writeAll(2, std::string(number(2), 'e'));
  } else if (mode == "exit" && args.size() > 2) {
    return int(number(2));
  } else if (mode == "handle" && args.size() > 2) {
#ifdef _WIN32
    DWORD flags = 0;
    const bool open = GetHandleInformation(reinterpret_cast<HANDLE>(number(2)), &flags);
#else
    const bool open = ::fcntl(int(number(2)), F_GETFD) != -1;
#endif
    writeAll(1, open ? "open" : "closed");
  } else if (mode == "sleep") {
    sleepSeconds(30);
#ifdef _WIN32
  } else if (mode == "grandchild") {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" sleep";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
      return 3;
    }
    // As a frame whose JSON text is the id, so that the host reads it as a frame.
    writeAll(1, frame(10, std::to_string(info.dwProcessId), ""));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    sleepSeconds(30);
  } else if (mode == "commit" && args.size() > 2) {
    const SIZE_T bytes = SIZE_T(number(2)) << 20;
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) ? 0 : 4;
#else
  } else if (mode == "signals") {
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, nullptr, &blocked);
    int n = 0;
    for (int signal = 1; signal < NSIG; ++signal) n += sigismember(&blocked, signal) == 1;
    struct sigaction pipe = {};
    sigaction(SIGPIPE, nullptr, &pipe);
    writeAll(1, "blocked " + std::to_string(n) + "\nsigpipe " +
                    (pipe.sa_handler == SIG_IGN ? "ignored" : "default") + "\n");
#endif
  } else {
    return 2;
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size_t(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
    args.push_back(arg);
  }
  return run(args);
}
#else
int main(int argc, char** argv) {
  return run(std::vector<std::string>(argv, argv + argc));
}
#endif
