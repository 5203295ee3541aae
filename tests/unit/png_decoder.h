#pragma once
// A strict reader of the 8-bit greyscale PNG files the preview tool writes, for its tests: every
// chunk's CRC checked, the header's fields, the image data inflated and its filter bytes checked.

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kfp::preview::testing {

struct DecodedPng {
  uint32_t width = 0;
  uint32_t height = 0;
  size_t idatChunks = 0;
  std::vector<uint8_t> pixels;  // width * height, row by row
};

inline uint32_t bigEndian(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// False with `why` set at the first thing that is not as written.
inline bool decodeGrayPng(const std::vector<uint8_t>& file, DecodedPng& png, std::string& why) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
    why = "no PNG signature";
    return false;
  }
  std::vector<uint8_t> deflated;
  std::vector<std::string> order;
  size_t at = 8;
  while (at < file.size()) {
    if (file.size() - at < 12) {
      why = "a chunk runs past the end";
      return false;
    }
    const uint32_t length = bigEndian(&file[at]);
    if (file.size() - at - 12 < length) {
      why = "a chunk's data runs past the end";
      return false;
    }
    const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
    const uint8_t* data = &file[at + 8];
    const uLong crc = crc32(crc32(0, &file[at + 4], 4), data, uInt(length));
    if (crc != bigEndian(data + length)) {
      why = "bad CRC on " + type;
      return false;
    }
    order.push_back(type);
    if (type == "IHDR") {
      static const uint8_t kRest[5] = {8, 0, 0, 0, 0};
      if (length != 13 || std::memcmp(data + 8, kRest, 5) != 0) {
        why = "IHDR is not 8-bit grey, deflate, no interlace";
        return false;
      }
      png.width = bigEndian(data);
      png.height = bigEndian(data + 4);
    } else if (type == "IDAT") {
      deflated.insert(deflated.end(), data, data + length);
      ++png.idatChunks;
    } else if (type == "IEND" && length != 0) {
      why = "IEND carries data";
      return false;
    }
    at += 12 + length;
  }
  if (order.size() < 3 || order.front() != "IHDR" || order.back() != "IEND") {
    why = "chunks not IHDR, IDAT..., IEND";
    return false;
  }
  for (size_t i = 1; i + 1 < order.size(); ++i) {
    if (order[i] != "IDAT") {
      why = "unexpected chunk " + order[i];
      return false;
    }
  }

  const size_t rowBytes = size_t(png.width) + 1;
  std::vector<uint8_t> raw(rowBytes * png.height + 1);  // one spare byte shows excess data
  uLongf rawSize = uLongf(raw.size());
  if (uncompress(raw.data(), &rawSize, deflated.data(), uLong(deflated.size())) != Z_OK) {
    why = "the image data does not inflate";
    return false;
  }
  if (rawSize != rowBytes * png.height) {
    why = "inflated to " + std::to_string(rawSize) + " bytes";
    return false;
  }
  png.pixels.clear();
  for (uint32_t y = 0; y < png.height; ++y) {
    const uint8_t* row = raw.data() + y * rowBytes;
    if (row[0] != 0) {
      why = "row " + std::to_string(y) + " has filter " + std::to_string(row[0]);
      return false;
    }
    png.pixels.insert(png.pixels.end(), row + 1, row + rowBytes);
  }
  return true;
}

inline std::vector<uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kfp::preview::testing
