// The window registry, window loading and unit properties, as the rest of the program sees them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/unit_kind.h"
#include "runtime/value.h"

namespace rt {

inline constexpr uint32_t kWindowOwnUnitTop = 0x0;  // top four bits of a window's own unit id

// Reads serialised template data into the registry (start-up). Corrupt data is the fatal error
// "载入窗口模板数据段出错!".
void read_templates(const uint8_t* data, size_t length, const void* code_base);

// Loads a window from its template, belonging to the window of `parent` when one is given.
// Answers false when it cannot be loaded, or when the parent is not a live unit of a loaded
// window. With `modal`, a window whose own unit shows at once is served by the modal loop, and
// the call returns only when it has been closed again; a hidden one runs that loop when its
// visible property is set.
bool load_window(uint32_t window_id, UnitObject* parent, bool modal);
// The same with the parent named by its ids (the load_window command's unit reference).
bool load_window(uint32_t window_id, const UnitRef& parent, bool modal);
// What service 2005 takes: a unit library names the parent by its unit object, or null.
struct LoadWindowRequest {
  uint32_t window_id = 0;
  UnitObject* parent = nullptr;
  int32_t modal = 0;
};
// Loads the start window at start-up; failure is the fatal error "载入启动窗口失败".
void load_start_window(uint32_t window_id);

// The live unit object of (window id, unit id) (0 = the window's own unit), or null.
UnitObject* find_unit_object(uint32_t window_id, uint32_t unit_id);
// Its native window, or null when the unit is not live.
NativeWindow unit_native_window(uint32_t window_id, uint32_t unit_id);
bool window_loaded(uint32_t window_id);
int32_t registered_window_count();

// Property get and set by window id, unit id, property index and element (-1 when unused). From
// a worker thread they run synchronously on the window thread.
uint64_t get_property(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element);
void set_property(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element,
                  uint32_t low, uint32_t high);

// Each load of a window gets a new number; 0 while the window is not loaded.
uint32_t window_generation(uint32_t window_id);
// Runs fn on the window thread only while the window is still loaded from the load numbered
// `generation`; answers whether it ran. A worker writing into a window that may be closed (or
// closed and loaded again) meanwhile checks and writes in this one call.
bool with_window_loaded(uint32_t window_id, uint32_t generation, const std::function<void()>& fn);
// The same check and write queued for the window thread without waiting for it (see
// windowing::queue_on_window_thread): it runs after every call the caller made before it. When
// it finds the window gone it does not run fn and sets *gone.
void queue_while_window_loaded(uint32_t window_id, uint32_t generation, std::function<void()> fn,
                               std::shared_ptr<std::atomic<bool>> gone);

// Runs fn on the window thread and waits (at once when already there).
void on_window_thread(const std::function<void()>& fn);

// The message loop: returns when no registered window is loaded any longer.
void run_message_loop();

}  // namespace rt
