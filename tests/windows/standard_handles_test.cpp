// The renderer .exe with each kind of standard handle a Windows host may hand over: handles it
// cannot use end it with 2 before anything is written; files, devices and pipes of every mode carry
// whole frames, and only a closed pipe or a file's end ends the input.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/memory_stream.h"
#include "windows/renderer_child.h"

namespace kfp {
namespace {

using windows_test::closeHandle;
using windows_test::NamedPipe;
using windows_test::Pipe;
using windows_test::writeAllTo;

const std::string kPing = testing::frameBytes(10, "{}");
const std::string kPong = testing::frameBytes(11, "{}");
// Larger than a pipe's buffer and than any single read the renderer makes.
const std::string kLongPing =
    testing::frameBytes(10, "{\"pad\":\"" + std::string(100000, 'x') + "\"}");

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// A temporary file, deleted with the test's last handle to it.
class TempFile {
 public:
  TempFile() {
    wchar_t directory[MAX_PATH];
    wchar_t name[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"kfp", 0, name);
    path_ = name;
  }
  ~TempFile() { DeleteFileW(path_.c_str()); }
  // An inheritable handle with `access`; `flags` adds FILE_FLAG_OVERLAPPED and the like.
  HANDLE open(DWORD access, DWORD flags = 0) const {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  }
  void write(const std::string& bytes) const {
    HANDLE handle = open(GENERIC_WRITE);
    writeAllTo(handle, bytes);
    closeHandle(handle);
  }
  std::string read() const {
    HANDLE handle = open(GENERIC_READ);
    std::string text;
    char buffer[4096];
    DWORD done = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &done, nullptr) && done > 0) {
      text.append(buffer, done);
    }
    closeHandle(handle);
    return text;
  }

 private:
  std::wstring path_;
};

HANDLE inheritableEvent() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateEventW(&inherit, TRUE, FALSE, nullptr);
}

// A handle value that names nothing in the child. Not a closed handle's value: the next handle the
// test makes (the child's standard error pipe) would take it over.
HANDLE madeUpHandleValue() {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x3fff0004));
}

enum class Slot { kInput, kOutput };

// What the unusable handles are made from; both ends of `pipe` are inheritable.
struct Spares {
  Pipe pipe;
  NamedPipe named;
  TempFile file;
};

struct UnusableCase {
  const char* name;
  Slot slot;
  // The handle given in `slot`; the other one is a working pipe. `owned` handles are closed after.
  HANDLE (*make)(Spares& spares);
  bool owned;
};

TEST(StandardHandles, UnusableOnesEndWithTwoAndNothingWritten) {
  const UnusableCase cases[] = {
      {"input: a pipe's write end", Slot::kInput, [](Spares& s) { return s.pipe.write; }, false},
      {"output: a pipe's read end", Slot::kOutput, [](Spares& s) { return s.pipe.read; }, false},
      {"input: a file opened for writing only", Slot::kInput,
       [](Spares& s) { return s.file.open(GENERIC_WRITE); }, true},
      {"output: a file opened for reading only", Slot::kOutput,
       [](Spares& s) { return s.file.open(GENERIC_READ); }, true},
      {"input: an event", Slot::kInput, [](Spares&) { return inheritableEvent(); }, true},
      {"output: an event", Slot::kOutput, [](Spares&) { return inheritableEvent(); }, true},
      {"input: a made-up handle value", Slot::kInput, [](Spares&) { return madeUpHandleValue(); },
       false},
      {"output: a made-up handle value", Slot::kOutput, [](Spares&) { return madeUpHandleValue(); },
       false},
      // A server's inbound end lacks the right to change its wait mode, and the renderer does not
      // poll.
      {"input: a server's inbound end that does not wait", Slot::kInput,
       [](Spares& s) {
         return s.named.open(PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT) ? s.named.server
                                                                                : nullptr;
       },
       false},
  };
  for (const UnusableCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pipe in, out;
    Spares spares;
    ASSERT_TRUE(in.open(true) && out.open(false) && spares.pipe.open(true));
    SetHandleInformation(spares.pipe.write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE odd = c.make(spares);
    ASSERT_NE(odd, INVALID_HANDLE_VALUE);
    ASSERT_NE(odd, nullptr) << GetLastError();
    const windows_test::ChildRun run = windows_test::runRenderer(
        L"renderer", c.slot == Slot::kInput ? odd : in.read,
        c.slot == Slot::kOutput ? odd : out.write,
        [&](HANDLE) {
          closeHandle(in.read);
          closeHandle(out.write);
          writeAllTo(in.write, kPing);
          closeHandle(in.write);
        },
        out.read);
    if (c.owned) closeHandle(odd);
    ASSERT_TRUE(run.started) << GetLastError();
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, "");
  }
}

// Files and devices: the input ends at the file's end, the output lands where the host left it.
TEST(StandardHandles, FilesAndDevicesCarryFrames) {
  struct FileCase {
    const char* name;
    Slot slot;  // which standard handle is the file; the other is a pipe
    DWORD access;
    DWORD flags;
    bool nulDevice;
    std::string expected;  // the output, read from the pipe or the file
  };
  const FileCase cases[] = {
      {"input: a file", Slot::kInput, GENERIC_READ, 0, false, kPong + kPong},
      {"input: a file opened for overlapped reads", Slot::kInput, GENERIC_READ,
       FILE_FLAG_OVERLAPPED, false, kPong + kPong},
      {"input: the NUL device", Slot::kInput, GENERIC_READ, 0, true, ""},
      {"output: a file", Slot::kOutput, GENERIC_WRITE, 0, false, kPong + kPong},
      {"output: a file opened for appending only", Slot::kOutput, FILE_APPEND_DATA | SYNCHRONIZE, 0,
       false, kPong + kPong},
      {"output: a file opened for overlapped writes", Slot::kOutput, GENERIC_WRITE,
       FILE_FLAG_OVERLAPPED, false, kPong + kPong},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pipe in, out;
    ASSERT_TRUE(in.open(true) && out.open(false));
    const TempFile file;
    if (c.slot == Slot::kInput) file.write(kPing + kPing);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE handle = c.nulDevice ? CreateFileW(L"NUL", c.access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              &inherit, OPEN_EXISTING, 0, nullptr)
                                : file.open(c.access, c.flags);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const windows_test::ChildRun run = windows_test::runRenderer(
        L"renderer", c.slot == Slot::kInput ? handle : in.read,
        c.slot == Slot::kOutput ? handle : out.write,
        [&](HANDLE) {
          closeHandle(in.read);
          closeHandle(out.write);
          writeAllTo(in.write, kPing + kPing);
          closeHandle(in.write);
        },
        out.read);
    closeHandle(handle);
    ASSERT_TRUE(run.started) << GetLastError();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(c.slot == Slot::kOutput ? file.read() : run.output, c.expected);
    EXPECT_EQ(run.errors, "");
  }
}

enum class Input { kAnonymousPipe, kAnonymousPipeNoWait, kNamedPipe };
enum class Output { kAnonymousPipe, kNamedPipe };

struct PipeCase {
  const char* name;
  Input input;
  DWORD inputOpenFlags;  // FILE_FLAG_OVERLAPPED or 0, for a named pipe
  DWORD inputPipeMode;   // for a named pipe
  Output output;
  DWORD outputOpenFlags;
  DWORD outputPipeMode;
  // Written one by one: one WriteFile each, so one message each on a message pipe. An empty
  // string is a zero-byte write, which the reader sees as a zero-byte read on an open pipe.
  std::vector<std::string> writes;
  int pongs;
};

const DWORD kBytePipe = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
const DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

// Two frames cut across three writes, an empty write, a frame longer than any read, then three
// frames in one write.
const std::vector<std::string> kCutFrames = {
    kPing.substr(0, 3),   kPing.substr(3) + kPing.substr(0, 6), kPing.substr(6), "", kLongPing,
    kPing + kPing + kPing};
constexpr int kCutFramePongs = 6;
// Whole frames with an empty message between them; each message part as long as the read it
// meets, so that the empty message reaches the reader as a zero-byte read and nothing else does.
const std::vector<std::string> kEmptyMessageBetweenFrames = {
    kPing.substr(0, 4), kPing.substr(4, 5), kPing.substr(9), "",
    kPing.substr(0, 4), kPing.substr(4, 5), kPing.substr(9)};

TEST(StandardHandles, PipesOfEveryModeCarryWholeFrames) {
  const PipeCase cases[] = {
      {"anonymous pipes", Input::kAnonymousPipe, 0, 0, Output::kAnonymousPipe, 0, 0, kCutFrames,
       kCutFramePongs},
      {"input: a message pipe read in message mode", Input::kNamedPipe, 0, kMessagePipe,
       Output::kAnonymousPipe, 0, 0, kCutFrames, kCutFramePongs},
      {"input: an empty message between frames", Input::kNamedPipe, 0, kMessagePipe,
       Output::kAnonymousPipe, 0, 0, kEmptyMessageBetweenFrames, 2},
      {"input: a message pipe read in byte mode", Input::kNamedPipe, 0,
       PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, Output::kAnonymousPipe, 0, 0, kCutFrames,
       kCutFramePongs},
      {"input: an overlapped byte pipe", Input::kNamedPipe, FILE_FLAG_OVERLAPPED, kBytePipe,
       Output::kAnonymousPipe, 0, 0, kCutFrames, kCutFramePongs},
      {"input: an overlapped message pipe", Input::kNamedPipe, FILE_FLAG_OVERLAPPED, kMessagePipe,
       Output::kAnonymousPipe, 0, 0, kCutFrames, kCutFramePongs},
      {"input: a pipe set not to wait", Input::kAnonymousPipeNoWait, 0, 0, Output::kAnonymousPipe,
       0, 0, kCutFrames, kCutFramePongs},
      {"output: an overlapped byte pipe", Input::kAnonymousPipe, 0, 0, Output::kNamedPipe,
       FILE_FLAG_OVERLAPPED, kBytePipe, kCutFrames, kCutFramePongs},
      {"output: a message pipe", Input::kAnonymousPipe, 0, 0, Output::kNamedPipe, 0, kMessagePipe,
       kCutFrames, kCutFramePongs},
      {"output: a pipe that does not wait", Input::kAnonymousPipe, 0, 0, Output::kNamedPipe, 0,
       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_NOWAIT, kCutFrames, kCutFramePongs},
  };
  for (const PipeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Pipe anonymousIn, anonymousOut;
    NamedPipe namedIn, namedOut;
    ASSERT_TRUE(anonymousIn.open(true) && anonymousOut.open(false));
    if (c.input == Input::kAnonymousPipeNoWait) {
      DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
      ASSERT_TRUE(SetNamedPipeHandleState(anonymousIn.read, &mode, nullptr, nullptr));
    }
    if (c.input == Input::kNamedPipe) {
      ASSERT_TRUE(namedIn.open(PIPE_ACCESS_INBOUND | c.inputOpenFlags, c.inputPipeMode))
          << GetLastError();
    }
    if (c.output == Output::kNamedPipe) {
      ASSERT_TRUE(namedOut.open(PIPE_ACCESS_OUTBOUND | c.outputOpenFlags, c.outputPipeMode))
          << GetLastError();
    }
    HANDLE& childIn = c.input == Input::kNamedPipe ? namedIn.server : anonymousIn.read;
    HANDLE& hostIn = c.input == Input::kNamedPipe ? namedIn.client : anonymousIn.write;
    HANDLE& childOut = c.output == Output::kNamedPipe ? namedOut.server : anonymousOut.write;
    HANDLE& hostOut = c.output == Output::kNamedPipe ? namedOut.client : anonymousOut.read;
    const windows_test::ChildRun run = windows_test::runRenderer(
        L"renderer", childIn, childOut,
        [&](HANDLE) {
          closeHandle(childIn);
          closeHandle(childOut);
          for (const std::string& bytes : c.writes) {
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(hostIn, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                  nullptr))
                << GetLastError();
          }
          closeHandle(hostIn);
        },
        hostOut);
    ASSERT_TRUE(run.started) << GetLastError();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, repeated(kPong, c.pongs));
    EXPECT_EQ(run.errors, "");
  }
}

}  // namespace
}  // namespace kfp
