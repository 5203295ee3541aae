#pragma once
// An 8-bit greyscale PNG written to an open file, its rows asked for a block at a time and deflated
// as they come, so that neither the page nor its compressed form is ever held whole.

#include <cstdint>
#include <cstdio>
#include <functional>

namespace kfp::preview {

// The tallest and widest page written: what common PNG readers accept by default.
constexpr uint32_t kPngMaxSide = 1000000;

// Fills `count` rows of `width` bytes each, starting at row `first`, into `rows`.
using PngRowSource = std::function<void(uint32_t first, uint32_t count, uint8_t* rows)>;

// Rows asked for at once; the IDAT chunks carry at most kPngChunkBytes of compressed data each.
constexpr uint32_t kPngRowsPerBlock = 64;
constexpr size_t kPngChunkBytes = 64 * 1024;

// False when the size is out of range (0 or above kPngMaxSide), compression fails or a write
// fails; errno tells why where the C library set it. The file is not flushed or closed here.
bool writeGrayPng(std::FILE* file, uint32_t width, uint32_t height, const PngRowSource& rows);

}  // namespace kfp::preview
