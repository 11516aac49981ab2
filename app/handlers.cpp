// Event handlers of the two windows. They run on the window thread and do almost nothing
// themselves: the network work runs on worker threads.
#include "app/flows.h"
#include "app/ids.h"
#include "app/program.h"
#include "imaging/window_shadow.h"
#include "runtime/command.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/threads.h"
#include "skin/skin.h"

namespace app {
namespace {

void set_flag(uint32_t window, uint32_t unit, int32_t index, bool value) {
  rt::entry_table().set_property(window, unit, index, -1, value ? 1 : 0, 0);
}

}  // namespace

rt::HandlerResult on_start_window_created(const int64_t*, int32_t) {
  keep_placeholder_poster();
  if (g_library_loader)
    (void)skin::apply(*g_library_loader);
  // The window shadow attaches to the window's native handle.
  const rt::Cell own_unit{kStartWindow, kOwnUnit, kKindWindow};
  void* window = rt::call(&rt::cmd::unit_handle, own_unit).pointer<void>();
  imaging::window_shadow(0).attach(window, 40, 100);
  return {};
}

rt::HandlerResult on_start_window_resized(const int64_t*, int32_t) {
  imaging::window_shadow(0).refresh();
  return {};
}

// Each click starts its worker on a new thread and returns at once.
rt::HandlerResult on_search_click(const int64_t*, int32_t) {
  rt::start_worker(&search_worker);
  return {};
}

rt::HandlerResult on_search_enter(const int64_t*, int32_t) {
  const bool disabled =
      rt::entry_table().get_property(kStartWindow, start::kSearchButton, kPropDisabled, -1) != 0;
  if (!disabled)
    rt::start_worker(&search_worker);
  return {};
}

rt::HandlerResult on_result_click(const int64_t*, int32_t) {
  rt::start_worker(&details_worker, next_details_ticket());
  return {};
}

rt::HandlerResult on_episode_click(const int64_t*, int32_t) {
  rt::start_worker(&play_worker);
  return {};
}

rt::HandlerResult on_online_play_click(const int64_t*, int32_t) {
  // Modal, without a parent: returns when the play-list window has been closed.
  const rt::Cell window{kPlayListWindow, kOwnUnit, kKindWindow};
  (void)rt::call(&rt::cmd::load_window, window, rt::omitted, true);
  return {};
}

rt::HandlerResult on_play_list_created(const int64_t*, int32_t) {
  set_flag(kStartWindow, start::kWindowUnit, kPropVisible, false);
  rt::start_worker(&episode_list_worker);
  return {};
}

rt::HandlerResult on_play_list_closing(const int64_t*, int32_t) {
  set_flag(kStartWindow, start::kOnlinePlayButton, kPropDisabled, true);
  set_flag(kStartWindow, start::kWindowUnit, kPropVisible, true);
  return {};
}

}  // namespace app
