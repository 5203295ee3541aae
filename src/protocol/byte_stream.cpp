#include "protocol/byte_stream.h"

namespace kfp {

ptrdiff_t ByteWriter::writeGather(const ByteSpan* parts, int count) {
  for (int i = 0; i < count; ++i) {
    if (parts[i].size != 0) return write(parts[i].data, parts[i].size);
  }
  return 0;
}

}  // namespace kfp
