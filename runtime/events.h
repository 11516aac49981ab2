// Events: units raise them, the core finds the application's handler and calls it.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/value.h"

namespace rt {

// What a unit hands to the core to raise an event (service 2008).
struct EventRecord {
  uint32_t window_id = 0;
  uint32_t unit_id = 0;  // 0: the window's own unit
  int32_t event = 0;     // per kind; negative numbers are common to all kinds
  int32_t arg_count = 0;
  int32_t args[5] = {};
  int32_t has_result = 0;
  int32_t result = 0;
};

// Typed variant (service 2031): up to 12 arguments of {payload, type code, flags}.
struct TypedArgument {
  uint32_t low = 0;
  uint32_t high = 0;
  TypeCode type = 0;
  uint32_t flags = 0;  // bit 0: pass the low word unchanged; bit 1: pass both words
};
struct TypedEventRecord {
  uint32_t window_id = 0;
  uint32_t unit_id = 0;
  int32_t event = 0;
  int32_t arg_count = 0;
  TypedArgument args[12] = {};
  int32_t has_result = 0;
  int64_t result = 0;
};

// Window events of the `window` kind.
inline constexpr int32_t kEventCreated = 0;
inline constexpr int32_t kEventCloseQuery = 1;
inline constexpr int32_t kEventDestroying = 2;
inline constexpr int32_t kEventMoved = 3;
inline constexpr int32_t kEventResized = 4;
inline constexpr int32_t kEventIdle = 7;
inline constexpr int32_t kEventShown = 10;
inline constexpr int32_t kEventHidden = 11;
inline constexpr int32_t kEventCloseRequest = 12;
inline constexpr int32_t kEventFocusOnShow = -7;

// An application routine bound to an event: the event's arguments in order; it answers whether
// it returned a result and which. Templates name handlers by their byte offset in the
// application's routine table (the code base), so a handler address is the address of its slot.
struct HandlerResult {
  bool has_result = false;
  int64_t value = 0;
};
using EventHandler = HandlerResult (*)(const int64_t* args, int32_t count);

// Raises an event; 1 when a handler ran, else 0. Window thread only.
int32_t raise_event(EventRecord& record);
int32_t raise_typed_event(TypedEventRecord& record);

// Convenience for units: raise `event` with up to five arguments; answers whether a handler ran
// and, through *result, what it returned (unchanged when it returned nothing).
bool raise_unit_event(uint32_t window_id, uint32_t unit_id, int32_t event,
                      std::initializer_list<int32_t> args = {}, int32_t* result = nullptr);

// Service 2017: the source of the event being handled. False when no handler runs.
bool current_event_source(uint32_t* window_id, uint32_t* unit_id);

// The window kind asks before closing: events 12 and 1, either may cancel with a false result.
// On acceptance the windows a modal window disabled get their enabled state back.
bool window_may_close(uint32_t window_id);

// A unit or window reports its destruction (service 2000).
void unit_destroyed(uint32_t window_id, uint32_t unit_id);

}  // namespace rt
