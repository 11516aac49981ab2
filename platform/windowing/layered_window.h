// Translucent layered windows, for callers that stay clear of Qt: a top-level window whose whole
// content is one picture with its alpha channel, frameless and click-through, and a follower
// that keeps such a window around a target window.
//
// Windows are opaque pointers here (layered_window_widget.h has the widget itself), pictures are
// rows of 0xAARRGGBB pixels. Translucent top-levels need a compositing manager on X11 (and are
// not placed by clients on Wayland); translucency_available says whether one is there.
// Window thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "platform/windowing/native_window.h"

namespace windowing {

class LayeredWindow;

// Whether translucent top-level windows can show here; a test can force the answer.
bool translucency_available();
void force_translucency(std::optional<bool> answer);

// Resizes the window to width x height without moving it and shows the pixels (width x height,
// rows top to bottom) as its content. Zero by zero, or pixels that do not fill the size, leave
// it at size zero and empty.
void set_layered_content(LayeredWindow* window, int32_t width, int32_t height,
                         std::span<const uint32_t> argb);

// One layered window owned by a target window: it moves along with the target (placed `margin`
// larger on every side), hides and shows with it, and is closed when the target closes.
class LayeredFollower {
 public:
  LayeredFollower();
  ~LayeredFollower();
  LayeredFollower(const LayeredFollower&) = delete;
  LayeredFollower& operator=(const LayeredFollower&) = delete;

  // Makes the window over the target (a native window handle). Answers false when a window is
  // open already or the target is none.
  bool open(Handle target, int32_t margin);
  // From now on the window moves, hides, shows and closes with the target.
  void follow();
  void set_margin(int32_t margin);
  // Called after the window has been closed because the target closed.
  void on_target_closed(std::function<void()> callback);

  // Whether both the window and its target still exist.
  bool is_open() const;
  LayeredWindow* window() const;
  // The target's outer rectangle, frame included, on the screen.
  Rect target_frame() const;

  // The target's frame grown by the margin on every side.
  void place();
  void move(int32_t left, int32_t top);
  void resize(int32_t width, int32_t height);
  // The window's shape as a union of rectangles in its own coordinates; none clears it to empty.
  void set_shape(std::span<const Rect> rectangles);
  // Shows the window below its siblings.
  void show_below();
  // Closes the window (deleted later) and stops following the target.
  void close();

 private:
  class Tracker;
  std::unique_ptr<Tracker> tracker_;
};

}  // namespace windowing
