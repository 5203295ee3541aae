#include "png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kfp::preview {
namespace {

void putBigEndian(uint8_t* out, uint32_t value) {
  out[0] = uint8_t(value >> 24);
  out[1] = uint8_t(value >> 16);
  out[2] = uint8_t(value >> 8);
  out[3] = uint8_t(value);
}

// Length, type, data, and the CRC of type and data.
bool writeChunk(std::FILE* file, const char type[4], const uint8_t* data, size_t size) {
  uint8_t head[8];
  putBigEndian(head, uint32_t(size));
  std::memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (size) crc = crc32(crc, data, uInt(size));
  uint8_t tail[4];
  putBigEndian(tail, uint32_t(crc));
  return std::fwrite(head, 1, 8, file) == 8 &&
         (!size || std::fwrite(data, 1, size, file) == size) && std::fwrite(tail, 1, 4, file) == 4;
}

// A deflate stream that owns its state for the duration of one image.
class Deflater {
 public:
  Deflater() { ok_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK; }
  ~Deflater() {
    if (ok_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool ok() const { return ok_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace

bool writeGrayPng(std::FILE* file, uint32_t width, uint32_t height, const PngRowSource& rows) {
  if (width == 0 || height == 0 || width > kPngMaxSide || height > kPngMaxSide) {
    errno = EINVAL;
    return false;
  }
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (std::fwrite(kSignature, 1, sizeof kSignature, file) != sizeof kSignature) return false;
  uint8_t header[13] = {};
  putBigEndian(header, width);
  putBigEndian(header + 4, height);
  header[8] = 8;  // bits per sample; colour type 0 (grey), deflate, adaptive filters, no interlace
  if (!writeChunk(file, "IHDR", header, sizeof header)) return false;

  Deflater deflater;
  if (!deflater.ok()) {
    errno = ENOMEM;
    return false;
  }
  z_stream& z = deflater.stream();
  // Each row is led by its filter byte: 0, none.
  const size_t rowBytes = size_t(width) + 1;
  std::vector<uint8_t> pixels(size_t(width) * kPngRowsPerBlock);
  std::vector<uint8_t> filtered(rowBytes * kPngRowsPerBlock);
  std::vector<uint8_t> compressed(kPngChunkBytes);
  z.next_out = compressed.data();
  z.avail_out = uInt(compressed.size());

  // Deflates what is in next_in; every full output buffer becomes one IDAT chunk, and so does the
  // rest at the end of the stream.
  auto pump = [&](int flush) {
    for (;;) {
      const int status = deflate(&z, flush);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return false;
      const bool done =
          flush == Z_FINISH ? status == Z_STREAM_END : z.avail_in == 0 && z.avail_out > 0;
      if (z.avail_out == 0 || (done && flush == Z_FINISH && z.avail_out < compressed.size())) {
        if (!writeChunk(file, "IDAT", compressed.data(), compressed.size() - z.avail_out)) {
          return false;
        }
        z.next_out = compressed.data();
        z.avail_out = uInt(compressed.size());
      }
      if (done) return true;
    }
  };

  for (uint32_t first = 0; first < height; first += kPngRowsPerBlock) {
    const uint32_t count = std::min(kPngRowsPerBlock, height - first);
    rows(first, count, pixels.data());
    for (uint32_t r = 0; r < count; ++r) {
      uint8_t* row = filtered.data() + r * rowBytes;
      row[0] = 0;
      std::memcpy(row + 1, pixels.data() + size_t(r) * width, width);
    }
    z.next_in = filtered.data();
    z.avail_in = uInt(rowBytes * count);
    if (!pump(Z_NO_FLUSH)) return false;
  }
  if (!pump(Z_FINISH)) return false;
  return writeChunk(file, "IEND", nullptr, 0);
}

}  // namespace kfp::preview
