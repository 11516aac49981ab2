// A window shape from a picture, as a picture object draws it: one-row rectangles for each run
// of pixels that are not the key colour.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/windowing/native_window.h"

namespace imaging {

struct PictureShape {
  int32_t width = 0;  // the picture's size in pixels; 0 x 0 when the bytes are no picture
  int32_t height = 0;
  std::vector<windowing::Rect> runs;
};

PictureShape picture_shape(std::span<const uint8_t> picture, uint32_t key);

}  // namespace imaging
