// Arbitrary bytes on the renderer's input, through the frame reader, the memory guard, JSON
// parsing and dispatch, on the scripted fake backend. Every reply must be a well-formed frame.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/message_loop.h"
#include "protocol/frame.h"
#include "support/fake_backend.h"
#include "support/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kfp;
  testing::FakeBackend backend;
  // Read in small pieces to exercise reassembly of frames across reads.
  testing::MemoryReader in(std::string(reinterpret_cast<const char*>(data), size),
                           size == 0 ? 1 : (data[0] % 16) + 1);
  testing::MemoryWriter out;
  const int code = runMessageLoop(backend, in, out);
  if (code != kExitOk) std::abort();

  testing::MemoryReader replies(out.data);
  Frame frame;
  size_t consumed = 0;
  while (readFrame(replies, frame)) consumed = replies.position();
  if (consumed != out.data.size()) std::abort();
  return 0;
}
