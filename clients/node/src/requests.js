// Request JSON built from plain objects, and the estimate that keeps a MeasureResult under the
// renderer's 8 MiB JSON limit (it drops a larger reply without notice).

import { kMaxJsonLength } from './messages.js';

export function layoutJson(request, generation) {
  return JSON.stringify({
    requestId: request.requestId ?? 0,
    generation,
    layoutKey: request.layoutKey ?? '',
    text: request.text ?? '',
    fontSize: request.fontSize ?? 28,
    width: request.width ?? 300,
    dpiScale: request.dpiScale ?? 1,
    fontIds: request.fontIds,
  });
}

// Upper bound of one MeasureResult item in the reply: every UTF-16 unit of the id escaped as
// \uXXXX, the longest error code, and numbers written in full.
// The same bounds as the C++ host library's (src/protocol/reply_bounds.h).
const kItemOverhead = 96;
export const measureItemBound = (fontId) => fontId.length * 6 + kItemOverhead;
export const measureReplyBound = (layoutKey) => (layoutKey ?? '').length * 6 + 200;
export const kMeasureReplyBudget = kMaxJsonLength;

// Splits ids into consecutive groups whose MeasureResult stays within the reply limit and whose
// size is at most maxCount.
export function splitFontIds(fontIds, layoutKey, maxCount = Infinity) {
  const groups = [];
  let group = [];
  let bytes = measureReplyBound(layoutKey);
  for (const id of fontIds) {
    const item = measureItemBound(id);
    if (group.length && (group.length >= maxCount || bytes + item > kMeasureReplyBudget)) {
      groups.push(group);
      group = [];
      bytes = measureReplyBound(layoutKey);
    }
    group.push(id);
    bytes += item;
  }
  if (group.length) groups.push(group);
  return groups;
}
