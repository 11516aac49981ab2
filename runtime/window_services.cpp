// The runtime services and routines of windows, units and events; the window commands; start-up.
#include <map>
#include <mutex>

#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/events.h"
#include "runtime/fatal.h"
#include "runtime/runtime.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"

namespace rt {
namespace {

using namespace detail;

// Service 1007-1011: a framework object wrapping a native window.
struct FrameworkWindow {
  NativeWindow window = nullptr;
};

// Services 2011-2014: objects registered with the runtime, one byte of data each.
std::map<void*, uint8_t>& object_list() {
  static auto* list = new std::map<void*, uint8_t>;
  return *list;
}

UnitObject* owner_of(NativeWindow h) {
  for (int32_t i = 0; i < registry().count(); ++i) {
    WindowEntry* w = registry().at(i);
    for (uint32_t u = 0; u < w->working.count(); ++u) {
      UnitObject* unit = live_unit(*w, u);
      if (unit && unit->native() == h)
        return unit;
    }
  }
  return nullptr;
}

intptr_t window_service(int32_t code, intptr_t v1, intptr_t v2) {
  switch (code) {
    case kServiceIconResource:
      return 0;  // the program carries no icon resource
    case kServiceWindowRegistry:
      return reinterpret_cast<intptr_t>(&registry());
    case kServicePictureDrawer:
      return 0;  // pictures are drawn by the picture unit itself
    case kServiceNewFrameworkWindow:
      return reinterpret_cast<intptr_t>(new FrameworkWindow{reinterpret_cast<NativeWindow>(v1)});
    case kServiceDeleteFrameworkWindow:
      delete reinterpret_cast<FrameworkWindow*>(v1);
      return 0;
    case kServiceDetachFrameworkWindow:
      if (auto* f = reinterpret_cast<FrameworkWindow*>(v1))
        f->window = nullptr;
      return 0;
    case kServiceFrameworkWindowNative: {
      auto* f = reinterpret_cast<FrameworkWindow*>(v1);
      return f ? reinterpret_cast<intptr_t>(f->window) : 0;
    }
    case kServiceAttachFrameworkWindow: {
      auto* f = reinterpret_cast<FrameworkWindow*>(v1);
      if (f && !f->window)
        f->window = reinterpret_cast<NativeWindow>(v2);
      return 0;
    }
    case kServiceAddIdleCallback: {
      const auto* request = reinterpret_cast<const LoopState::IdleCallback*>(v1);
      if (!request || !windowing::is_window(request->window))
        return 0;
      auto& idle = loop_state().idle;
      for (const auto& c : idle) {
        if (c.window == request->window)
          return 0;
      }
      idle.push_back(*request);
      return 0;
    }
    case kServiceRemoveIdleCallbacks: {
      auto& idle = loop_state().idle;
      std::erase_if(idle, [v1](const LoopState::IdleCallback& c) {
        return c.window == reinterpret_cast<NativeWindow>(v1);
      });
      return 0;
    }
    case kServiceUnitOfNative:
      return reinterpret_cast<intptr_t>(owner_of(reinterpret_cast<NativeWindow>(v1)));
    case kServiceUnitDestroyed: {
      const auto* unit = reinterpret_cast<const UnitObject*>(v1);
      if (unit)
        unit_destroyed(unit->window_id, unit->unit_id);
      return 0;
    }
    case kServiceLoadWindow: {
      const auto* request = reinterpret_cast<const LoadWindowRequest*>(v1);
      if (!request)
        return -1;
      return load_window(request->window_id, request->parent, request->modal != 0) ? 0 : -1;
    }
    case kServiceFindUnitObject:
      return reinterpret_cast<intptr_t>(
          find_unit_object(static_cast<uint32_t>(v1), static_cast<uint32_t>(v2)));
    case kServiceRequireUnitObject: {
      UnitObject* unit = find_unit_object(static_cast<uint32_t>(v1), static_cast<uint32_t>(v2));
      if (!unit)
        fatal_error("指定窗口或窗口组件不存在或尚未载入", 0);
      return reinterpret_cast<intptr_t>(unit);
    }
    case kServiceRaiseEvent:
      return raise_event(*reinterpret_cast<EventRecord*>(v1));
    case kServiceBeginCreation:
      begin_creation();
      return 0;
    case kServiceEndCreation:
      end_creation();
      return 0;
    case kServiceObjectListFind: {
      const auto it = object_list().find(reinterpret_cast<void*>(v1));
      if (it == object_list().end())
        return 0;
      if (v2)
        *reinterpret_cast<uint8_t*>(v2) = it->second;
      return 1;
    }
    case kServiceObjectListSet:
      object_list()[reinterpret_cast<void*>(v1)] = static_cast<uint8_t>(v2);
      return 0;
    case kServiceObjectListRemove:
      object_list().erase(reinterpret_cast<void*>(v1));
      return 0;
    case kServiceObjectListClear:
      object_list().clear();
      return 0;
    case kServiceSoundFirst:
    case kServiceSoundLast:
      return 0;  // no sound output in this program
    case kServiceCurrentEventSource: {
      auto* words = reinterpret_cast<uint32_t*>(v1);
      return words && current_event_source(&words[0], &words[1]) ? 1 : 0;
    }
    case kServiceProcessPendingMessages:
      windowing::process_pending_messages();
      return 0;
    case kServiceTrayIconFirst:
    case kServiceTrayIconFirst + 1:
    case kServiceTrayIconLast:
      return 0;  // no notification-area icons in this program
    case kServiceUnitRecord: {
      WindowEntry* w = registry().find(static_cast<uint32_t>(v1));
      const int32_t i = w ? w->working.find(static_cast<uint32_t>(v2)) : -1;
      return i < 0 ? 0
                   : reinterpret_cast<intptr_t>(w->working.record(static_cast<uint32_t>(i)).data());
    }
    case kServiceRaiseTypedEvent:
      return raise_typed_event(*reinterpret_cast<TypedEventRecord*>(v1));
    case kServiceRegisteredWindowCount:
      return registered_window_count();
    case kServiceWindowNative:
      return reinterpret_cast<intptr_t>(unit_native_window(static_cast<uint32_t>(v1), 0));
    case kServicePictureFromBitmap:
      return 0;  // no picture data from bitmap handles
    case kServiceFreeBlock:
      free_block(reinterpret_cast<void*>(v1));
      return 0;
    case kServiceKindInterfaceId:
      return 0;  // no library-defined kind has an interface identifier here
    case kServiceMenusAndPagesFirst:
    case kServiceMenusAndPagesFirst + 1:
    case kServiceMenusAndPagesFirst + 2:
    case kServiceMenusAndPagesLast:
      return 0;  // no menus or paged containers in this program
    default:
      return 0;
  }
}

void window_routine(int32_t number, Cell* result, int32_t count, const Cell* args) {
  const Args a(count, args);
  if (number != kRoutineGetKindProperty && number != kRoutineSetKindProperty)
    return;
  // A property of a value of a library-defined kind: the value is its object.
  const Cell& value = a.at(0);
  const KindDescriptor* kind = find_kind(value.type);
  if (!kind || !kind->interface_of)
    return;
  auto* object = value.pointer<UnitObject>();
  const int32_t index = a.int_or(1, 0);
  if (number == kRoutineGetKindProperty) {
    auto get = reinterpret_cast<GetUnitPropertyFn>(kind->interface_of(kInterfaceGetProperty));
    if (!get || !object)
      return;
    const PropertyPair answer = get(object, index);
    result->set_payload(answer.first);
    result->type = kInt;
    return;
  }
  auto set = reinterpret_cast<SetUnitPropertyFn>(kind->interface_of(kInterfaceSetProperty));
  if (set && object)
    set(object, index, {a.at(2).payload(), a.at(2).high});
}

const ProgramInfo*& installed_info() {
  static const ProgramInfo* info = nullptr;
  return info;
}

}  // namespace

void install_program_info(const ProgramInfo& info) {
  installed_info() = &info;
}
const ProgramInfo& program_info() {
  static const ProgramInfo kEmpty;
  return installed_info() ? *installed_info() : kEmpty;
}

void startup(const ProgramInfo& info) {
  windowing::start_application();
  prepare_runtime(info);
  set_window_services(&window_service);
  set_window_routines(&window_routine);
  install_window_entries({&get_property, &set_property, &run_message_loop, &load_start_window});
  read_templates(info.template_data, info.template_length, info.code_base);
}

namespace cmd {

void load_window(Cell* result, int32_t count, const Cell* args) {
  const Args a(count, args);
  if (a.given(1)) {
    set_bool(result, rt::load_window(a.at(0).low, UnitRef::from(a.at(1)), a.flag(2)));
    return;
  }
  set_bool(result, rt::load_window(a.at(0).low, nullptr, a.flag(2)));
}

void unit_handle(Cell* result, int32_t count, const Cell* args) {
  const UnitRef unit = UnitRef::from(Args(count, args).at(0));
  NativeWindow h = nullptr;
  on_window_thread([&] { h = unit_native_window(unit.window_id, unit.unit_id); });
  *result = Cell::of_pointer(h, kInt);
}

}  // namespace cmd
}  // namespace rt
