// How the unit kinds reach the core: raising events, asking whether a window may close,
// reporting destroyed units, finding a live unit for a command, running a call on the window
// thread and making a widget known as a native window.
//
// The units call the core only through this link, so a test can put its own in place to watch
// what the units report without a window registry behind them.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "runtime/unit_kind.h"

namespace units {

struct CoreLink {
  bool (*raise_event)(uint32_t window_id, uint32_t unit_id, int32_t event,
                      std::initializer_list<int32_t> args, int32_t* result) = nullptr;
  bool (*window_may_close)(uint32_t window_id) = nullptr;
  void (*unit_destroyed)(uint32_t window_id, uint32_t unit_id) = nullptr;
  rt::UnitObject* (*find_unit)(uint32_t window_id, uint32_t unit_id) = nullptr;
  void (*on_window_thread)(const std::function<void()>& fn) = nullptr;
  void (*register_native)(void* widget) = nullptr;
};

// The link in use: the runtime's own unless a test has put another in place.
const CoreLink& core_link();
// Puts `link` in place (it must outlive its use); null goes back to the runtime's.
void set_core_link(const CoreLink* link);

}  // namespace units
