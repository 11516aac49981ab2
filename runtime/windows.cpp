// The window registry, reading templates, loading windows and unit properties.
#include "runtime/windows.h"

#include <algorithm>
#include <cstring>

#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/fatal.h"
#include "runtime/runtime.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"

namespace rt {
namespace detail {

WindowEntry* Registry::find(uint32_t window_id) const {
  const int64_t i = window_id == 0 ? -1 : index_.find_word(window_id);
  if (i < 0 || i >= count())
    return nullptr;
  void* p;
  std::memcpy(&p, index_.data() + entries_.size() * 4 + static_cast<size_t>(i) * sizeof p,
              sizeof p);
  return static_cast<WindowEntry*>(p);
}

void Registry::add(std::unique_ptr<WindowEntry> entry) {
  entries_.push_back(std::move(entry));
  rebuild_index();
}

void Registry::clear() {
  entries_.clear();
  index_.clear();
}

void Registry::rebuild_index() {
  index_.clear();
  for (const auto& e : entries_) index_.append_u32(e->id);
  for (const auto& e : entries_) {
    const WindowEntry* p = e.get();
    index_.append(&p, sizeof p);
  }
}

Registry& registry() {
  static auto* r = new Registry;  // lives until the process ends
  return *r;
}

namespace {

std::vector<UnitObject*>& live_table() {
  static auto* t = new std::vector<UnitObject*>;
  return *t;
}
std::vector<const void*>& handler_table() {
  static auto* t = new std::vector<const void*>;
  return *t;
}

}  // namespace

int32_t live_register(UnitObject* unit) {
  auto& t = live_table();
  for (size_t i = 0; i < t.size(); ++i) {
    if (!t[i]) {
      t[i] = unit;
      return static_cast<int32_t>(i + 1);
    }
  }
  t.push_back(unit);
  return static_cast<int32_t>(t.size());
}

UnitObject* live_get(int32_t number) {
  auto& t = live_table();
  return number >= 1 && static_cast<size_t>(number) <= t.size() ? t[number - 1] : nullptr;
}

void live_release(int32_t number) {
  auto& t = live_table();
  if (number >= 1 && static_cast<size_t>(number) <= t.size())
    t[number - 1] = nullptr;
}

int32_t handler_register(const void* address) {
  auto& t = handler_table();
  const auto it = std::find(t.begin(), t.end(), address);
  if (it != t.end())
    return static_cast<int32_t>(it - t.begin() + 1);
  t.push_back(address);
  return static_cast<int32_t>(t.size());
}

const void* handler_address(int32_t number) {
  auto& t = handler_table();
  return number >= 1 && static_cast<size_t>(number) <= t.size() ? t[number - 1] : nullptr;
}

RecordFieldOffsets offsets_of(const WindowEntry& w, uint32_t index) {
  return record_field_offsets(w.working.record(index)).value_or(RecordFieldOffsets{});
}

UnitObject* live_unit(const WindowEntry& w, uint32_t index) {
  if (index >= w.working.count() || is_menu_item_id(w.working.id_at(index)))
    return nullptr;
  UnitObject* unit = live_get(w.working.read_field(index, offsets_of(w, index).live_object));
  return unit && windowing::is_window(unit->native()) ? unit : nullptr;
}

bool window_is_loaded(const WindowEntry& w) {
  return live_unit(w, 0) != nullptr;
}

NativeWindow native_of(const WindowEntry& w, uint32_t index) {
  UnitObject* unit = live_unit(w, index);
  return unit ? unit->native() : nullptr;
}

Recreating& recreating() {
  static Recreating r;
  return r;
}

const KindDescriptor* kind_of_record(const WindowEntry& w, uint32_t index) {
  const auto record = w.working.record(index);
  if (record.size() < 4)
    return nullptr;
  uint32_t kind;
  std::memcpy(&kind, record.data(), 4);
  return find_kind(kind);
}

void begin_creation() {
  windowing::process_pending_messages();
  suppress_events();
}

void end_creation() {
  windowing::process_pending_messages();
  resume_events();
}

namespace {

template <typename Fn>
Fn kind_interface(const KindDescriptor* kind, int32_t number) {
  if (!kind || !kind->interface_of)
    return nullptr;
  return reinterpret_cast<Fn>(kind->interface_of(number));
}

// Destroys what a failed load created and returns the window to its template.
void abandon_load(WindowEntry& w) {
  if (NativeWindow window = native_of(w, 0))
    windowing::destroy(window);
  // The window's report of its destruction has normally put the template back already
  // (unit_destroyed); exchanging the tables again would leave the saved copy, now empty, in use.
  if (w.working.read_field(0, offsets_of(w, 0).live_object) == 0)
    return;
  for (uint32_t i = 0; i < w.working.count(); ++i) {
    if (is_menu_item_id(w.working.id_at(i)))
      continue;
    const auto o = offsets_of(w, i);
    if (UnitObject* unit = live_get(w.working.read_field(i, o.live_object))) {
      if (windowing::is_window(unit->native()))
        windowing::destroy(unit->native());
    }
    live_release(w.working.read_field(i, o.live_object));
  }
  w.working.swap(w.saved);
  w.saved.clear();
}

UnitObject* create_unit(WindowEntry& w, uint32_t index, NativeWindow parent, int32_t control_id,
                        const UnitRecord& record, bool disabled) {
  const KindDescriptor* kind = find_kind(record.kind);
  auto create = kind_interface<CreateUnitFn>(kind, kInterfaceCreate);
  if (!create)
    return nullptr;
  UnitCreateParams p;
  p.parent = parent;
  p.data = record.property_data.data();
  p.length = record.property_data.size();
  if (disabled && !(kind->flags & kKindNeverVisible))
    p.style |= kStyleDisabled;
  if (record.flags & kUnitTabStop)
    p.style |= kStyleTabStop;
  p.control_id = control_id;
  p.left = record.left;
  p.top = record.top;
  p.width = record.width;
  p.height = record.height;
  p.window_id = w.id;
  p.unit_id = w.working.id_at(index);
  UnitObject* unit = create(p);
  if (!unit)
    return nullptr;
  unit->window_id = w.id;
  unit->unit_id = p.unit_id;
  unit->kind = record.kind;
  windowing::register_native(unit->native());
  return unit;
}

}  // namespace

bool load_entry(WindowEntry& w, const LoadEntryOptions& options) {
  const bool reshow = options.reshow;
  const bool modal = options.modal;
  if (!reshow && window_is_loaded(w)) {
    windowing::restore_or_activate(native_of(w, 0));
    return true;
  }
  NativeWindow parent = modal ? nullptr : options.parent;
  if (parent && !windowing::is_window(parent))
    return false;

  begin_creation();
  bool creating = true;
  const auto stop_creating = [&creating] {
    if (creating)
      end_creation();
    creating = false;
  };
  struct Guard {
    const decltype(stop_creating)& stop;
    ~Guard() { stop(); }
  } guard{stop_creating};
  // The messages processed on the way in may have closed the parent.
  if (parent && !windowing::is_window(parent))
    return false;

  w.saved = w.working.copy();
  const uint32_t n = w.working.count();
  if (n == 0)
    return false;
  std::vector<UnitRecord> records(n);
  std::vector<bool> visible(n, false);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t id = w.working.id_at(i);
    auto decoded = decode_unit_record(w.working.record(i), is_menu_item_id(id));
    if (!decoded) {
      w.saved.clear();
      return false;
    }
    records[i] = std::move(*decoded);
  }

  // The window's own unit first, then the table from the last entry to entry 1.
  w.control_ids.assign(n, 0);
  UnitObject* window = create_unit(w, 0, parent, 0, records[0], records[0].flags & kUnitDisabled);
  if (!window) {
    w.saved.clear();
    return false;
  }
  w.working.write_field(0, offsets_of(w, 0).live_object, live_register(window));
  w.closed_while_loading = false;
  static uint32_t loads = 0;
  w.generation = ++loads;
  visible[0] = reshow || (records[0].flags & kUnitVisible);
  int32_t control_id = 100;
  for (uint32_t i = n - 1; i >= 1; --i) {
    if (records[i].is_menu_item)
      continue;
    UnitObject* unit = create_unit(w, i, window->native(), control_id, records[i],
                                   records[i].flags & kUnitDisabled);
    if (!unit) {
      abandon_load(w);
      return false;
    }
    w.control_ids[i] = control_id;
    control_id += 10;
    w.working.write_field(i, offsets_of(w, i).live_object, live_register(unit));
    const KindDescriptor* kind = find_kind(records[i].kind);
    visible[i] = (records[i].flags & kUnitVisible) && !(kind->flags & kKindNeverVisible);
  }

  // Re-parent every unit to its container.
  for (uint32_t i = 1; i < n; ++i) {
    if (records[i].is_menu_item)
      continue;
    const int32_t parent_index = records[i].parent ? w.working.find(records[i].parent) : 0;
    NativeWindow container =
        parent_index > 0 ? native_of(w, static_cast<uint32_t>(parent_index)) : window->native();
    windowing::set_parent(native_of(w, i), container ? container : window->native());
  }
  // Children after the first page separator of a paged container start hidden.
  for (uint32_t i = 1; i < n; ++i) {
    const KindDescriptor* kind = find_kind(records[i].kind);
    if (records[i].is_menu_item || !kind || !(kind->flags & kKindPagedContainer))
      continue;
    bool later_page = false;
    for (uint32_t child : records[i].children) {
      if (child == 0) {
        later_page = true;
        continue;
      }
      const int32_t c = w.working.find(child);
      if (later_page && c > 0)
        visible[static_cast<uint32_t>(c)] = false;
    }
  }
  // Table order is top-to-bottom order among siblings.
  for (uint32_t i = 1; i < n; ++i) {
    if (records[i].is_menu_item)
      continue;
    NativeWindow above = nullptr;
    for (uint32_t j = i - 1; j >= 1; --j) {
      if (!records[j].is_menu_item && records[j].parent == records[i].parent) {
        above = native_of(w, j);
        break;
      }
    }
    windowing::stack_below(native_of(w, i), above);
  }
  for (uint32_t i = n; i-- > 0;) {
    if (UnitObject* unit = live_unit(w, i))
      unit->notify(kNotifyCreated);
  }
  window->notify(kNotifyLayout);
  for (uint32_t i = 1; i < n; ++i) {
    NativeWindow unit = native_of(w, i);
    if (!unit)
      continue;
    if (visible[i]) {
      windowing::show_no_activate(unit);
    } else {
      windowing::set_visible(unit, false);
    }
  }
  stop_creating();

  // Created, moved, resized: each only while the window still exists. A window whose close
  // was accepted meanwhile is as good as gone, even while its deletion is still pending: it is
  // neither shown again nor made modal.
  const uint32_t window_id = w.id;
  const auto still_there = [window_id] {
    WindowEntry* e = registry().find(window_id);
    return e && window_is_loaded(*e) && !e->closed_while_loading;
  };
  for (int32_t event : {kEventCreated, kEventMoved, kEventResized}) {
    if (still_there())
      raise_unit_event(window_id, 0, event);
  }
  if (!still_there())
    return true;

  w.modal = modal;
  w.showing_pending = true;
  if (visible[0])
    complete_first_show(w, false);
  if (modal) {
    // Only windows without a parent: one that has a parent goes with its owner's state.
    w.disabled_by_modal.clear();
    for (int32_t i = 0; i < registry().count(); ++i) {
      WindowEntry* other = registry().at(i);
      if (other == &w || !window_is_loaded(*other))
        continue;
      NativeWindow h = native_of(*other, 0);
      if (!windowing::is_top_level(h) || windowing::parent_of(h))
        continue;
      w.disabled_by_modal.push_back({h, windowing::is_enabled(h)});
      windowing::set_enabled(h, false);
    }
  }
  for (uint32_t i = n; i-- > 0;) {
    if (UnitObject* unit = live_unit(w, i))
      unit->notify(kNotifyInitialised);
  }
  w.initialised = true;
  return true;
}

void complete_first_show(WindowEntry& w, bool through_property) {
  NativeWindow window = native_of(w, 0);
  if (!window)
    return;
  if (!w.showing_pending) {
    windowing::set_visible(window, true);
    return;
  }
  w.showing_pending = false;
  windowing::set_visible(window, true);
  (void)through_property;
  // The unit holding the focus raises the common focus event once the window shows.
  if (NativeWindow focus = windowing::focus_window()) {
    for (uint32_t i = 0; i < w.working.count(); ++i) {
      if (native_of(w, i) == focus) {
        raise_unit_event(w.id, i == 0 ? 0 : w.working.id_at(i), kEventFocusOnShow);
        break;
      }
    }
  }
}

void teardown_registry() {
  loop_state().idle.clear();
  Registry& r = registry();
  for (int32_t i = 0; i < r.count(); ++i) {
    WindowEntry* w = r.at(i);
    if (NativeWindow h = native_of(*w, 0))
      windowing::destroy(h);
  }
  r.clear();
}

}  // namespace detail

using namespace detail;

void on_window_thread(const std::function<void()>& fn) {
  if (windowing::on_window_thread() || !windowing::has_application()) {
    fn();
    return;
  }
  windowing::run_on_window_thread(fn);
}

void read_templates(const uint8_t* data, size_t length, const void* code_base) {
  if (length == 0)
    return;
  auto windows = decode_templates({data, length});
  if (!windows)
    fatal_error("载入窗口模板数据段出错!", 0);
  for (WindowTemplate& t : *windows) {
    auto entry = std::make_unique<WindowEntry>();
    entry->id = t.id;
    entry->a = t.a;
    entry->b = t.b;
    entry->text1 = std::move(t.text1);
    entry->text2 = std::move(t.text2);
    entry->working = std::move(t.units);
    // Rewrite every binding: -1 is no handler, any other offset names a slot of the code base.
    for (uint32_t i = 0; i < entry->working.count(); ++i) {
      const uint32_t id = entry->working.id_at(i);
      auto record = decode_unit_record(entry->working.record(i), is_menu_item_id(id));
      if (!record)
        fatal_error("载入窗口模板数据段出错!", 0);
      const auto rewrite = [code_base](int32_t offset) -> int32_t {
        if (offset == -1 || !code_base)
          return 0;
        if (offset < 0)
          fatal_error("载入窗口模板数据段出错!", 0);
        return handler_register(static_cast<const uint8_t*>(code_base) + offset);
      };
      if (record->is_menu_item) {
        record->menu_handler = rewrite(record->menu_handler);
      } else {
        for (EventBinding& b : record->events) b.handler = rewrite(b.handler);
      }
      entry->working.replace_record(i, encode_unit_record(*record));
    }
    registry().add(std::move(entry));
  }
  set_window_teardown(&teardown_registry);
}

namespace {

// The live unit object `unit`, when it is one of a loaded window's units; null otherwise. The
// pointer is only compared, never followed, until it is found.
UnitObject* live_unit_object(const UnitObject* unit) {
  if (!unit)
    return nullptr;
  for (int32_t i = 0; i < registry().count(); ++i) {
    const WindowEntry& w = *registry().at(i);
    for (uint32_t u = 0; u < w.working.count(); ++u) {
      UnitObject* live = live_unit(w, u);
      if (live && live == unit)
        return live;
    }
  }
  return nullptr;
}

// Loads the window on the window thread. The parent is found in the same call that uses it, so
// a parent closed in the meantime is not found rather than used after it was freed. A modal
// window that shows at once is served by the modal loop before the call returns.
template <typename FindParent>
bool load_with_parent(uint32_t window_id, bool modal, const FindParent& find_parent) {
  bool loaded = false;
  on_window_thread([&] {
    WindowEntry* w = registry().find(window_id);
    if (!w)
      return;
    NativeWindow parent_window = nullptr;
    if (!find_parent(parent_window))
      return;
    if (!load_entry(*w, {.modal = modal, .parent = parent_window}))
      return;
    loaded = true;
    // A hidden modal window waits for its visible property: showing it runs the loop then.
    WindowEntry* entry = registry().find(window_id);
    if (!modal || !entry || !window_is_loaded(*entry) || !entry->modal)
      return;
    if (!windowing::is_visible(native_of(*entry, 0)))
      return;
    const uint32_t previous = loop_state().modal_window;
    loop_state().modal_window = window_id;
    run_loop(true);
    loop_state().modal_window = previous;
  });
  return loaded;
}

}  // namespace

bool load_window(uint32_t window_id, UnitObject* parent, bool modal) {
  return load_with_parent(window_id, modal, [parent](NativeWindow& parent_window) {
    if (!parent)
      return true;
    UnitObject* unit = live_unit_object(parent);
    if (!unit)
      return false;
    parent_window = unit->native();
    return true;
  });
}

bool load_window(uint32_t window_id, const UnitRef& parent, bool modal) {
  return load_with_parent(window_id, modal, [&parent](NativeWindow& parent_window) {
    UnitObject* unit = find_unit_object(parent.window_id, parent.unit_id);
    if (!unit)
      return false;
    parent_window = unit->native();
    return true;
  });
}

void load_start_window(uint32_t window_id) {
  WindowEntry* w = registry().find(window_id);
  if (!w || !load_entry(*w, {}))
    fatal_error("载入启动窗口失败", 0);
}

UnitObject* find_unit_object(uint32_t window_id, uint32_t unit_id) {
  WindowEntry* w = registry().find(window_id);
  if (!w)
    return nullptr;
  const int32_t i = w->working.find(unit_id);
  return i < 0 ? nullptr : live_unit(*w, static_cast<uint32_t>(i));
}

NativeWindow unit_native_window(uint32_t window_id, uint32_t unit_id) {
  UnitObject* unit = find_unit_object(window_id, unit_id);
  return unit ? unit->native() : nullptr;
}

uint32_t window_generation(uint32_t window_id) {
  uint32_t generation = 0;
  on_window_thread([&] {
    WindowEntry* w = registry().find(window_id);
    if (w && window_is_loaded(*w))
      generation = w->generation;
  });
  return generation;
}

bool with_window_loaded(uint32_t window_id, uint32_t generation, const std::function<void()>& fn) {
  bool ran = false;
  on_window_thread([&] {
    WindowEntry* w = registry().find(window_id);
    if (generation == 0 || !w || !window_is_loaded(*w) || w->generation != generation)
      return;
    fn();
    ran = true;
  });
  return ran;
}

void queue_while_window_loaded(uint32_t window_id, uint32_t generation, std::function<void()> fn,
                               std::shared_ptr<std::atomic<bool>> gone) {
  auto checked = [window_id, generation, fn = std::move(fn), gone = std::move(gone)] {
    WindowEntry* w = registry().find(window_id);
    if (generation == 0 || !w || !window_is_loaded(*w) || w->generation != generation) {
      gone->store(true);
      return;
    }
    fn();
  };
  if (windowing::on_window_thread() || !windowing::has_application()) {
    checked();
    return;
  }
  windowing::queue_on_window_thread(std::move(checked));
}

bool window_loaded(uint32_t window_id) {
  WindowEntry* w = registry().find(window_id);
  return w && window_is_loaded(*w);
}

int32_t registered_window_count() {
  return registry().count();
}

}  // namespace rt
