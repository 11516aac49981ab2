// Runtime services and numbered runtime routines beyond runtime.h's entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/command.h"
#include "runtime/runtime.h"

namespace rt {

// The codes of the runtime service entry (runtime_service). The runtime answers some itself; the
// window layer answers the codes of windows, units and events; codes no one answers yield 0.
enum Service : int32_t {
  // Window layer.
  kServiceIconResource = 1000,
  kServiceWindowRegistry = 1001,
  // Runtime.
  kServiceFindKind = 1002,  // value1 a kind's type code: its descriptor, or null
  // Window layer.
  kServicePictureDrawer = 1003,
  // Runtime.
  kServiceRuntimeLevel = 1004,    // answers 1
  kServiceRuntimeVersion = 1005,  // answers 0x30005
  kServiceProgramPath = 1006,     // value1 a PathPart, value2 a buffer of kPathBufferSize bytes
  // Window layer: the framework window of a native window, idle callbacks, owners.
  kServiceNewFrameworkWindow = 1007,
  kServiceDeleteFrameworkWindow = 1008,
  kServiceDetachFrameworkWindow = 1009,
  kServiceFrameworkWindowNative = 1010,
  kServiceAttachFrameworkWindow = 1011,
  kServiceAddIdleCallback = 1012,
  kServiceRemoveIdleCallbacks = 1013,
  kServiceUnitOfNative = 1014,
  kServiceUnitDestroyed = 2000,
  // Runtime.
  kServiceNumberToInt = 2001,  // value1 a numeric cell; any other is fatal
  kServiceAnswersZero = 2002,
  kServiceProgramDirectory = 2003,
  kServiceProgramFileName = 2004,
  // Window layer: windows, unit objects, events, the object list, pending messages.
  kServiceLoadWindow = 2005,  // value1 a LoadWindowRequest
  kServiceFindUnitObject = 2006,
  kServiceRequireUnitObject = 2007,
  kServiceRaiseEvent = 2008,
  kServiceBeginCreation = 2009,
  kServiceEndCreation = 2010,
  kServiceObjectListFind = 2011,
  kServiceObjectListSet = 2012,
  kServiceObjectListRemove = 2013,
  kServiceObjectListClear = 2014,
  kServiceSoundFirst = 2015,  // through kServiceSoundLast: no sound output here
  kServiceSoundLast = 2016,
  kServiceCurrentEventSource = 2017,
  kServiceProcessPendingMessages = 2018,
  kServiceTrayIconFirst = 2019,  // through kServiceTrayIconLast: no notification-area icons
  kServiceTrayIconLast = 2021,
  kServiceUnitRecord = 2022,
  // Runtime: memory, fatal errors, the end, kinds, the run mode.
  kServiceReleaseArray = 2023,  // value1 an array block, value2 its element type
  kServiceAllocate = 2024,      // value1 bytes; value2 non-zero answers null instead of failing
  kServiceFree = 2025,
  kServiceReallocate = 2026,
  kServiceFatalError = 2027,
  kServiceEndProgram = 2028,
  kServiceKindRaisesEvents = 2029,  // 0 no, 1 yes, 2 the other way
  kServiceRunMode = 2030,
  // Window layer.
  kServiceRaiseTypedEvent = 2031,
  kServiceRegisteredWindowCount = 2032,
  kServiceWindowNative = 2033,
  kServicePictureFromBitmap = 2034,
  kServiceFreeBlock = 2035,
  kServiceKindInterfaceId = 2036,
  kServiceMenusAndPagesFirst = 2037,  // through kServiceMenusAndPagesLast: none in this program
  kServiceMenusAndPagesLast = 2040,
};

// What kServiceProgramPath writes: the program's directory or its file name; any other part
// writes the empty text.
enum PathPart : int32_t {
  kPathDirectory = 1,
  kPathDirectoryAlt = 2001,
  kPathFileName = 2002,
};
// kServiceProgramPath fills a buffer of at least this many bytes.
inline constexpr size_t kPathBufferSize = 4096;

// The window layer's share of the service codes (above). Codes no one answers yield 0.
using ServiceHandler = intptr_t (*)(int32_t code, intptr_t value1, intptr_t value2);
void set_window_services(ServiceHandler handler);

// The numbered runtime routines. The window layer answers the property routines.
enum Routine : int32_t {
  kRoutineFindFile = 0,
  kRoutineCloseFind = 1,
  kRoutineMakeWritable = 2,  // an array variable
  kRoutineRegisterAtExit = 3,
  kRoutineGetKindProperty = 4,  // a property of a value of a library-defined kind
  kRoutineSetKindProperty = 5,
  kRoutineStartup = 6,
};
void runtime_routine(int32_t number, Cell* result, int32_t count, const Cell* args);
using RoutineHandler = void (*)(int32_t number, Cell* result, int32_t count, const Cell* args);
void set_window_routines(RoutineHandler handler);

// kRoutineFindFile and kRoutineCloseFind directly.
char* find_file(const char* pattern, int32_t attribute_mask, bool files_only, int32_t* handle);
void close_find_handle(int32_t handle);

// The thirteen entries through which the application reaches the runtime.
struct EntryTable {
  void (*fatal_error_by_number)(int32_t number);
  void* (*call_dll_command)(int32_t index);  // the resolved address, called with native args
  Cell (*call_command_preserving)(CommandFn command, int32_t count, const Cell* args);
  Cell (*call_command)(CommandFn command, int32_t count, const Cell* args);
  uint64_t (*get_property)(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element);
  void (*set_property)(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element,
                       uint32_t low, uint32_t high);
  void* (*allocate)(size_t n);
  void* (*reallocate)(void* p, size_t n);
  void (*free)(void* p);
  void (*end_program)(int32_t exit_code);
  void (*run_message_loop)();
  void (*load_start_window)(uint32_t window_id);
  void (*runtime_routine)(int32_t number, Cell* result, int32_t count, const Cell* args);
};

const EntryTable& entry_table();

// The window layer installs its four entries (property get and set, message loop, start window).
struct WindowEntries {
  uint64_t (*get_property)(uint32_t, uint32_t, int32_t, int32_t);
  void (*set_property)(uint32_t, uint32_t, int32_t, int32_t, uint32_t, uint32_t);
  void (*run_message_loop)();
  void (*load_start_window)(uint32_t);
};
void install_window_entries(const WindowEntries& entries);

}  // namespace rt
