// Generic operations on native windows (the widgets behind units), for the core.
//
// A native window is the pointer-wide handle a unit hands out. Every call first checks that the
// handle still names a live widget: a window closed in the meantime is simply "not a window".
// Window thread only.
#pragma once

namespace windowing {

using Handle = void*;

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};

// Makes a widget known as a native window; handles stay valid until the widget is destroyed.
// (Units call this for the widget they create.)
void register_native(Handle widget);
bool is_window(Handle h);

// Relative to the parent's client area; a top-level window gives its position on the screen and
// the size of its client area.
Rect geometry_in_parent(Handle h);
void move(Handle h, int left, int top);
void resize(Handle h, int width, int height);
bool is_visible(Handle h);
void set_visible(Handle h, bool visible);
void show_no_activate(Handle h);
bool is_enabled(Handle h);
void set_enabled(Handle h, bool enabled);
Handle parent_of(Handle h);
void set_parent(Handle h, Handle parent);
// Places h directly below sibling in the stacking order (null sibling: on top).
void stack_below(Handle h, Handle sibling);
bool is_top_level(Handle h);
bool is_minimised(Handle h);
void restore_or_activate(Handle h);
void set_always_on_top(Handle h, bool on_top);
bool is_always_on_top(Handle h);
void destroy(Handle h);
void repaint(Handle h);
Handle focus_window();
void set_focus(Handle h);

}  // namespace windowing
