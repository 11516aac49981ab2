// The message loop: idle work while the queue is empty, messages otherwise, and its modal
// variant for a modal window.
#include <algorithm>
#include <chrono>

#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/events.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"

namespace rt {
namespace detail {

LoopState& loop_state() {
  static LoopState s;
  return s;
}

namespace {

// Milliseconds on a monotonic clock since the first call.
uint64_t now_ms() {
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point start = Clock::now();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool any_window_loaded() {
  for (int32_t i = 0; i < registry().count(); ++i) {
    if (window_is_loaded(*registry().at(i)))
      return true;
  }
  return false;
}

// One idle step: callbacks newest first, then the window idle event. Answers whether more idle
// time is wanted.
bool idle_step(uint32_t count) {
  LoopState& s = loop_state();
  for (size_t i = s.idle.size(); i-- > 0;) {
    if (i >= s.idle.size())
      continue;
    const LoopState::IdleCallback callback = s.idle[i];
    if (!windowing::is_window(callback.window)) {
      s.idle.erase(s.idle.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    callback.routine(callback.argument);
  }
  if (count == 0) {
    s.idle_started_ms = now_ms();
    s.declined_idle.clear();
  }
  if (count < 2)
    return count == 0 || count == 1;
  bool more = false;
  const auto elapsed = static_cast<int32_t>(now_ms() - s.idle_started_ms);
  for (int32_t i = 0; i < registry().count(); ++i) {
    WindowEntry* w = registry().at(i);
    if (!window_is_loaded(*w))
      continue;
    if (std::find(s.declined_idle.begin(), s.declined_idle.end(), w->id) != s.declined_idle.end()) {
      continue;
    }
    int32_t result = 0;
    const bool ran = raise_unit_event(w->id, 0, kEventIdle, {elapsed}, &result);
    if (ran && result == 1) {
      more = true;
    } else {
      s.declined_idle.push_back(w->id);
    }
  }
  return more;
}

}  // namespace

void post_quit() {
  loop_state().quit_posted = true;
  windowing::wake_message_loop();
}

void after_window_destroyed() {
  if (loop_state().entered && !any_window_loaded())
    post_quit();
}

void run_loop(bool modal) {
  LoopState& s = loop_state();
  s.entered = true;
  if (!any_window_loaded() || !windowing::has_application())
    return;
  uint32_t idle_count = 0;
  bool idle_wanted = true;
  for (;;) {
    while (idle_wanted) {
      idle_wanted = idle_step(idle_count);
      if (modal && s.modal_window == 0)
        return;
      ++idle_count;
      // Messages that arrived meanwhile come first.
      windowing::process_messages(windowing::WaitForMessages::kNo);
      if (s.quit_posted || (modal && s.modal_window == 0))
        break;
    }
    // The quit message ends the program's loop; a modal loop leaves it queued for that one.
    if (s.quit_posted) {
      if (!modal)
        s.quit_posted = false;
      return;
    }
    if (modal && s.modal_window == 0)
      return;
    windowing::process_messages(windowing::WaitForMessages::kWait);
    if (s.quit_posted) {
      if (!modal)
        s.quit_posted = false;
      return;
    }
    if (modal && s.modal_window == 0)
      return;
    idle_wanted = true;
    idle_count = 0;
  }
}

}  // namespace detail

void run_message_loop() {
  detail::run_loop(false);
}

}  // namespace rt
