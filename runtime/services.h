// Runtime services and numbered runtime routines beyond runtime.h's entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/command.h"
#include "runtime/runtime.h"

namespace rt {

// Service 1006 fills a buffer of at least this many bytes.
inline constexpr size_t kPathBufferSize = 4096;

// The window layer's share of the service codes (1000-1003, 1007-1014, 2000, 2005-2022, ...).
// Codes no one answers yield 0.
using ServiceHandler = intptr_t (*)(int32_t code, intptr_t value1, intptr_t value2);
void set_window_services(ServiceHandler handler);

// The numbered runtime routines: 0 find file, 1 close a find handle, 2 make an array variable
// writable, 3 register an at-exit routine, 4 and 5 get and set a property of a value of a
// library-defined kind (the window layer's), 6 runtime start-up.
void runtime_routine(int32_t number, Cell* result, int32_t count, const Cell* args);
using RoutineHandler = void (*)(int32_t number, Cell* result, int32_t count, const Cell* args);
void set_window_routines(RoutineHandler handler);

// Routine 0 and 1 directly.
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
