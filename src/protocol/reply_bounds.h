#pragma once
// Upper bounds of a MeasureResult's size, for hosts that cut a request into batches: the renderer
// sends no MeasureResult at all whose JSON would exceed kMaxJsonLength.

#include <cstddef>

#include "protocol/frame.h"

namespace kfp {

// One item, {"fontId":"…","resolved":false,"error":"FONT_COLLECTION_CREATE_FAILED"} and its comma,
// with every byte (or UTF-16 unit) of the id escaped as \u00XX; a resolved item is shorter.
constexpr size_t measureItemBound(size_t fontIdLength) {
  return 96 + 6 * fontIdLength;
}

// The reply's echo of the request ({"requestId":…,"generation":…,"layoutKey":"…","items":[ and
// "]}"), with every unit of the layout key escaped.
constexpr size_t measureReplyHeadBound(size_t layoutKeyLength) {
  return 200 + 6 * layoutKeyLength;
}

// What the items of one MeasureResult may add up to after its head.
constexpr size_t measureItemsBudget(size_t layoutKeyLength) {
  const size_t head = measureReplyHeadBound(layoutKeyLength);
  return head < kMaxJsonLength ? kMaxJsonLength - head : 0;
}

}  // namespace kfp
