// A host that starts process_child.exe (beside it) through the host library, writes the child's
// process id to its stdout and waits to be terminated: the test then checks the child did not
// outlive it.

#include <windows.h>

#include <string>

#include "renderer_process.h"

int main() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring directory(self, length);
  directory.resize(directory.find_last_of(L"\\/") + 1);
  const std::wstring wide = directory + L"process_child.exe";
  std::string path(wide.size() * 3, '\0');
  path.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), path.data(),
                                         int(path.size()), nullptr, nullptr)));
  auto started = kfp::client::RendererProcess::spawn(path, {"sleep"});
  if (!started) return 3;
  const std::string line = std::to_string(started.value()->pid()) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), DWORD(line.size()), &written, nullptr);
  Sleep(60000);
  return 0;
}
