// A8 coverage to RGBA pixels for canvas users: `new ImageData(data, width, height)` takes the
// result as it is.

import { invalid } from './errors.js';

const byte = (v) => Number.isInteger(v) && v >= 0 && v <= 255;
const whole = (v) => Number.isInteger(v) && v >= 0;

// Every pixel gets `color` (red, green, blue, 0 to 255) with the coverage as its alpha
// (unpremultiplied, as ImageData wants it); the padding at the end of each row is left out.
export function a8ToRgba(result, color = [0, 0, 0]) {
  const { resolved, width, height, stride, bitmap } = result ?? {};
  if (resolved !== true || !whole(width) || !whole(height) || !whole(stride) || stride < width ||
      !(bitmap instanceof Uint8Array) || bitmap.length < stride * height) {
    throw invalid(TypeError, 'INVALID_BITMAP', 'a8ToRgba takes a resolved RenderResult (width, height, stride and its A8 bitmap)');
  }
  if (!Array.isArray(color) || color.length !== 3 || !color.every(byte)) {
    throw invalid(TypeError, 'INVALID_COLOR', 'the color must be [red, green, blue], each a whole number from 0 to 255');
  }
  const [red, green, blue] = color;
  const data = new Uint8ClampedArray(width * height * 4);
  for (let y = 0, out = 0; y < height; y++) {
    const row = y * stride;
    for (let x = 0; x < width; x++, out += 4) {
      data[out] = red;
      data[out + 1] = green;
      data[out + 2] = blue;
      data[out + 3] = bitmap[row + x];
    }
  }
  return { width, height, data };
}
