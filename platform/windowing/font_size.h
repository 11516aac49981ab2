// Font sizes between points and a character height in pixels, at the real vertical resolution
// of the screen a native window is on (the primary screen without a window). The core and the
// unit kinds both convert here, so a size set through one reads back the same through the other.
#pragma once

#include "platform/windowing/native_window.h"

namespace windowing {

// Pixels per logical inch, vertically; 96 when there is no screen at all.
int vertical_dpi(Handle h);
// The character height in pixels of a font of `points` points, rounded.
int font_pixels(double points, Handle h);
// The size in points of a font whose characters are `pixels` high (either sign), rounded.
int font_points(int pixels, Handle h);

}  // namespace windowing
