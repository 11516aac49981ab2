// The soft shadow around the start window, and the per-pixel-alpha window it is shown on.
//
// The shadow is a frameless, click-through, translucent top-level window owned by the target,
// size s larger on every side (left - s, top - s, w + 2s, h + 2s), showing a blurred
// semi-transparent black rectangle, with a mask that leaves out the target's rectangle. It moves
// along with the target and closes with it. Translucent top-levels need a compositing manager
// on X11 (and are not placed by clients on Wayland): where there is none, attach does nothing
// and the window looks as it would without a shadow. The window itself belongs to the windowing
// layer (platform/windowing/layered_window.h); this file makes its pictures.
// Window thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/windowing/layered_window.h"

namespace imaging {

using windowing::force_translucency;
using windowing::LayeredWindow;
using windowing::translucency_available;

// Loads the picture with the graphics library, resizes the window to it without moving it and
// shows the picture as the window's content. A picture that does not load leaves the window at
// size zero and empty.
void show_picture_on_layered_window(LayeredWindow* window, std::span<const uint8_t> picture);

// The shadow picture: a (w + 2s) x (h + 2s) PNG, the w x h rectangle at (s, s) of the colour
// (0xRRGGBB) with the alpha, blurred by radius s.
std::vector<uint8_t> shadow_picture(int32_t width, int32_t height, int32_t size, uint32_t rgb = 0,
                                    uint8_t alpha = 255);
// The mask picture: the same size as a BMP, opaque white with the target's rectangle magenta.
std::vector<uint8_t> mask_picture(int32_t width, int32_t height, int32_t size);

class ShadowRecord;

class WindowShadow {
 public:
  WindowShadow();
  ~WindowShadow();
  WindowShadow(const WindowShadow&) = delete;
  WindowShadow& operator=(const WindowShadow&) = delete;

  // Size at least 20, strength (the shadow's alpha) at least 30; once while shown. The target
  // is a native window handle.
  void attach(windowing::Handle target, int32_t size, int32_t strength);
  // Rebuilds the shadow for the target's current size.
  void refresh();
  void close();

  int32_t size() const { return size_; }
  // The shadow window while it exists, for tests and screenshots.
  LayeredWindow* window() const;
  int32_t creations() const;

 private:
  std::unique_ptr<ShadowRecord> record_;
  int32_t size_ = 0;
};

// The program's shadows; the start window uses the first.
WindowShadow& window_shadow(int index = 0);
// Closes every shadow (the end of the program).
void release_window_shadows();

}  // namespace imaging
