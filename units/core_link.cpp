#include "units/core_link.h"

#include <atomic>

#include "platform/windowing/native_window.h"
#include "runtime/events.h"
#include "runtime/windows.h"

namespace units {
namespace {

const CoreLink kRuntimeLink{
    [](uint32_t window_id, uint32_t unit_id, int32_t event, std::initializer_list<int32_t> args,
       int32_t* result) { return rt::raise_unit_event(window_id, unit_id, event, args, result); },
    [](uint32_t window_id) { return rt::window_may_close(window_id); },
    [](uint32_t window_id, uint32_t unit_id) { rt::unit_destroyed(window_id, unit_id); },
    [](uint32_t window_id, uint32_t unit_id) { return rt::find_unit_object(window_id, unit_id); },
    [](const std::function<void()>& fn) { rt::on_window_thread(fn); },
    [](void* widget) { windowing::register_native(widget); },
};

// Read from worker threads by the list-view commands, so the swap is atomic.
std::atomic<const CoreLink*> g_link{&kRuntimeLink};

}  // namespace

const CoreLink& core_link() {
  return *g_link.load();
}

void set_core_link(const CoreLink* link) {
  g_link.store(link ? link : &kRuntimeLink);
}

}  // namespace units
