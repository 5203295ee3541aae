#pragma once
// Owning handles for the HarfBuzz and ICU objects of the layout and drawing code.

#include <hb.h>
#include <unicode/ubidi.h>
#include <unicode/ubrk.h>

#include <memory>

namespace kfp::linux_backend {

template <class T, void (*kDestroy)(T*)>
struct HandleDeleter {
  void operator()(T* handle) const {
    if (handle) kDestroy(handle);
  }
};

using HbBufferHandle = std::unique_ptr<hb_buffer_t, HandleDeleter<hb_buffer_t, hb_buffer_destroy>>;
using HbFontHandle = std::unique_ptr<hb_font_t, HandleDeleter<hb_font_t, hb_font_destroy>>;
using BreakIteratorHandle =
    std::unique_ptr<UBreakIterator, HandleDeleter<UBreakIterator, ubrk_close>>;
using BidiHandle = std::unique_ptr<UBiDi, HandleDeleter<UBiDi, ubidi_close>>;

}  // namespace kfp::linux_backend
