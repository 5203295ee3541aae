#pragma once
// Reading the headers of an sfnt (TrueType, OpenType) or of a collection of them: big-endian
// numbers and the tags a face's header starts with.

#include <hb.h>

#include <cstdint>

namespace kfp::linux_backend {

constexpr uint32_t kCollectionTag = HB_TAG('t', 't', 'c', 'f');

inline uint32_t be32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint16_t be16(const unsigned char* p) {
  return uint16_t(p[0] << 8 | p[1]);
}

// The version tags an sfnt face's header starts with.
inline bool isSfntVersion(uint32_t tag) {
  return tag == 0x00010000 || tag == HB_TAG('O', 'T', 'T', 'O') ||
         tag == HB_TAG('t', 'r', 'u', 'e') || tag == HB_TAG('t', 'y', 'p', '1');
}

}  // namespace kfp::linux_backend
