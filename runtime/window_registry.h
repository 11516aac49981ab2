// Internal state of the window layer, shared by loading, properties, events and the loop.
// Window thread only, unless a function says otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/events.h"
#include "runtime/template_data.h"
#include "runtime/unit_kind.h"

namespace rt::detail {

struct DisabledWindow {
  NativeWindow window = nullptr;
  bool was_enabled = false;
};

struct WindowEntry {
  uint32_t id = 0;
  int32_t a = 0, b = 0;
  std::string text1, text2;
  UnitTable working;
  UnitTable saved;
  bool modal = false;
  bool showing_pending = false;  // the first show after a load is still to be completed
  bool initialised = false;
  // Its close was accepted during this load: what is left of it is on its way out.
  bool closed_while_loading = false;
  uint32_t generation = 0;  // which load this is; a new number each time the window loads
  std::vector<DisabledWindow> disabled_by_modal;
  std::vector<int32_t> control_ids;  // per table entry
};

// The registry: N ids followed by N entry pointers in one growable buffer.
class Registry {
 public:
  WindowEntry* find(uint32_t window_id) const;
  void add(std::unique_ptr<WindowEntry> entry);
  void clear();
  int32_t count() const { return static_cast<int32_t>(entries_.size()); }
  WindowEntry* at(int32_t i) const { return entries_[static_cast<size_t>(i)].get(); }

 private:
  void rebuild_index();
  std::vector<std::unique_ptr<WindowEntry>> entries_;
  ByteBuffer index_;
};

Registry& registry();

// Live unit objects, referred to from the records' 32-bit live-object slot by number.
int32_t live_register(UnitObject* unit);
UnitObject* live_get(int32_t number);
void live_release(int32_t number);

// Handler addresses referred to from rewritten event bindings by number (0 = none).
int32_t handler_register(const void* address);
const void* handler_address(int32_t number);

// The live object of table entry i of a window, when its native window still exists.
UnitObject* live_unit(const WindowEntry& w, uint32_t index);
NativeWindow native_of(const WindowEntry& w, uint32_t index);
// The unit being re-created, whose old object's destruction report is not a destruction.
struct Recreating {
  uint32_t window_id = 0;
  uint32_t unit_id = 0;
};
Recreating& recreating();
bool window_is_loaded(const WindowEntry& w);
const KindDescriptor* kind_of_record(const WindowEntry& w, uint32_t index);
RecordFieldOffsets offsets_of(const WindowEntry& w, uint32_t index);

// Loop state.
struct LoopState {
  bool entered = false;
  bool quit_posted = false;
  uint32_t modal_window = 0;
  struct IdleCallback {
    NativeWindow window;
    void (*routine)(intptr_t);
    intptr_t argument;
  };
  std::vector<IdleCallback> idle;
  std::vector<uint32_t> declined_idle;
  uint64_t idle_started_ms = 0;
};
LoopState& loop_state();
void post_quit();
void run_loop(bool modal);
void after_window_destroyed();

// Creation bracket (services 2009/2010): process pending messages, then suspend or resume events.
void begin_creation();
void end_creation();

// Event source of the handler that runs.
struct EventSource {
  uint32_t window_id = 0;
  uint32_t unit_id = 0;
  bool active = false;
};
EventSource& event_source();

// How load_entry builds a window.
struct LoadEntryOptions {
  // Build it again even when it is loaded, its own unit shown whatever its template says;
  // otherwise a loaded window is only brought to the front.
  bool reshow = false;
  // Served by the modal loop; a modal window never belongs to a parent.
  bool modal = false;
  NativeWindow parent = nullptr;
};
bool load_entry(WindowEntry& w, const LoadEntryOptions& options);
void complete_first_show(WindowEntry& w, bool through_property);
void teardown_registry();

}  // namespace rt::detail
