// Raising events and finding the application's handler.
#include "runtime/events.h"

#include "platform/windowing/native_window.h"
#include "runtime/fatal.h"
#include "runtime/kinds.h"
#include "runtime/runtime.h"
#include "runtime/window_registry.h"

namespace rt {
namespace detail {

EventSource& event_source() {
  static EventSource s;
  return s;
}

}  // namespace detail

using namespace detail;

namespace {

constexpr uint32_t kMenuItemKind = 0x10003;

// The handler bound to (window, unit, event), or null; records the event source when found.
EventHandler find_handler(uint32_t window_id, uint32_t unit_id, int32_t event) {
  if (event_suppression_count() >= 1)
    return nullptr;
  WindowEntry* w = registry().find(window_id);
  if (!w)
    fatal_error("未找到引发事件的窗口", 0);
  int32_t index = w->working.find(unit_id);
  if (index < 0)
    fatal_error("未找到引发事件的窗口组件", 0);
  auto record = decode_unit_record(w->working.record(static_cast<uint32_t>(index)),
                                   is_menu_item_id(w->working.id_at(static_cast<uint32_t>(index))));
  if (!record)
    fatal_error("未找到引发事件的窗口组件", 0);
  // A unit may borrow the handlers of another unit of its kind; a cycle ends the walk.
  for (uint32_t hops = 0; record->link != 0 && hops < w->working.count(); ++hops) {
    const int32_t linked = w->working.find(record->link);
    if (linked <= 0)
      break;
    auto next = decode_unit_record(w->working.record(static_cast<uint32_t>(linked)),
                                   is_menu_item_id(record->link));
    if (!next || next->kind != record->kind)
      break;
    record = std::move(next);
  }
  const KindDescriptor* kind = find_kind(record->kind);
  if (!kind || !(kind->flags & (kKindRaisesEvents | kKindRaisesEventsAlt))) {
    fatal_error("引发事件的窗口组件无效", 0);
  }
  int32_t handler = 0;
  if (record->kind == kMenuItemKind || record->is_menu_item) {
    handler = record->menu_handler;
  } else {
    for (const EventBinding& b : record->events) {
      if (b.event == event) {
        handler = b.handler;
        break;
      }
    }
  }
  const void* slot = handler_address(handler);
  if (!slot)
    return nullptr;
  EventHandler fn;
  std::memcpy(&fn, slot, sizeof fn);
  if (!fn)
    return nullptr;
  event_source() = {window_id, unit_id == 0 ? w->working.id_at(0) : unit_id, true};
  return fn;
}

int32_t dispatch(EventHandler handler, const int64_t* args, int32_t count, bool& has_result,
                 int64_t& result) {
  const HandlerResult r = handler(args, count);
  event_source() = {};
  if (r.has_result) {
    has_result = true;
    result = r.value;
  }
  return 1;
}

}  // namespace

int32_t raise_event(EventRecord& record) {
  EventHandler handler = find_handler(record.window_id, record.unit_id, record.event);
  if (!handler)
    return 0;
  int64_t args[5] = {};
  const int32_t count = std::max(0, std::min(record.arg_count, 5));
  for (int32_t i = 0; i < count; ++i) args[i] = record.args[i];
  bool has_result = false;
  int64_t result = 0;
  dispatch(handler, args, count, has_result, result);
  if (has_result) {
    record.has_result = 1;
    record.result = static_cast<int32_t>(result);
  }
  return 1;
}

int32_t raise_typed_event(TypedEventRecord& record) {
  EventHandler handler = find_handler(record.window_id, record.unit_id, record.event);
  if (!handler)
    return 0;
  int64_t args[12] = {};
  const int32_t count = std::max(0, std::min(record.arg_count, 12));
  for (int32_t i = 0; i < count; ++i) {
    const TypedArgument& a = record.args[i];
    const uint64_t both = (uint64_t{a.high} << 32) | a.low;
    const TypeCode code = plain_code(a.type);
    if (a.flags & 1) {
      args[i] = a.low;
    } else if (code == kByte) {
      args[i] = static_cast<uint8_t>(a.low);
    } else if (code == kShort) {
      args[i] = static_cast<int16_t>(a.low);
    } else if (code == kDateTime || code == kInt64 || code == kDouble || code == kEightByte ||
               (a.flags & 2) || a.type == kMenuItemKind) {
      args[i] = static_cast<int64_t>(both);
    } else {
      args[i] = static_cast<int32_t>(a.low);
    }
  }
  bool has_result = false;
  int64_t result = 0;
  dispatch(handler, args, count, has_result, result);
  if (has_result) {
    record.has_result = 1;
    record.result = result;
  }
  return 1;
}

bool raise_unit_event(uint32_t window_id, uint32_t unit_id, int32_t event,
                      std::initializer_list<int32_t> args, int32_t* result) {
  EventRecord record;
  record.window_id = window_id;
  record.unit_id = unit_id;
  record.event = event;
  for (int32_t a : args) {
    if (record.arg_count == 5)
      break;
    record.args[record.arg_count++] = a;
  }
  const bool ran = raise_event(record) != 0;
  if (ran && record.has_result && result)
    *result = record.result;
  return ran;
}

bool current_event_source(uint32_t* window_id, uint32_t* unit_id) {
  const EventSource& s = event_source();
  if (!s.active)
    return false;
  if (window_id)
    *window_id = s.window_id;
  if (unit_id)
    *unit_id = s.unit_id;
  return true;
}

namespace {

// The windows a modal window disabled get their state back when it closes, or when it is
// destroyed without a close: none may be left taking no input once it has gone.
void enable_windows_disabled_by(WindowEntry& w) {
  for (const DisabledWindow& d : w.disabled_by_modal) {
    if (windowing::is_window(d.window))
      windowing::set_enabled(d.window, d.was_enabled);
  }
  w.disabled_by_modal.clear();
}

}  // namespace

bool window_may_close(uint32_t window_id) {
  for (int32_t event : {kEventCloseRequest, kEventCloseQuery}) {
    int32_t result = 1;
    if (raise_unit_event(window_id, 0, event, {}, &result) && result == 0)
      return false;
  }
  if (WindowEntry* w = registry().find(window_id)) {
    enable_windows_disabled_by(*w);
    w->closed_while_loading = !w->initialised;
  }
  return true;
}

void unit_destroyed(uint32_t window_id, uint32_t unit_id) {
  const Recreating& r = recreating();
  if (r.window_id == window_id && r.unit_id == unit_id && unit_id != 0)
    return;
  WindowEntry* w = registry().find(window_id);
  if (!w)
    return;
  const int32_t index = w->working.find(unit_id);
  if (index < 0)
    return;
  if (index > 0) {
    const auto i = static_cast<uint32_t>(index);
    const size_t slot = offsets_of(*w, i).live_object;
    UnitObject* unit = live_get(w->working.read_field(i, slot));
    if (unit && unit->unit_id == unit_id) {
      live_release(w->working.read_field(i, slot));
      w->working.write_field(i, slot, 0);
    }
    return;
  }
  // The window itself: its table returns to the copy taken before its units were created.
  enable_windows_disabled_by(*w);
  if (w->working.read_field(0, offsets_of(*w, 0).live_object) == 0)
    return;
  for (uint32_t i = 0; i < w->working.count(); ++i) {
    if (is_menu_item_id(w->working.id_at(i)))
      continue;
    live_release(w->working.read_field(i, offsets_of(*w, i).live_object));
  }
  w->working.swap(w->saved);
  w->saved.clear();
  w->modal = false;
  w->showing_pending = false;
  w->initialised = false;
  if (loop_state().modal_window == window_id)
    loop_state().modal_window = 0;
  after_window_destroyed();
}

}  // namespace rt
