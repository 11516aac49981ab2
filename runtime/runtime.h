// The runtime application object: program information, start-up, event suppression, the
// at-exit list, unit libraries and the end sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/command.h"

namespace rt {

// The runtime service entry that unit libraries call (code, value1, value2). Values and answers
// are pointer-wide on this platform, since several services hand out addresses.
using ServiceEntry = intptr_t (*)(int32_t code, intptr_t value1, intptr_t value2);

// A unit library's notification entry. Unknown codes answer -1.
enum LibraryNotification : int32_t {
  kLibraryServiceEntry = 1,  // value1 the service entry (ServiceEntry)
  kLibraryProgramEnd = 6,    // value1 the library's state word
};
using NotifyFn = int32_t (*)(int32_t code, intptr_t value1, intptr_t value2);

struct KindDescriptor;  // the unit kinds arrive with the window layer

struct UnitLibrary {
  const char* name = "";
  NotifyFn notify = nullptr;
  const KindDescriptor* kinds = nullptr;
  int32_t kind_count = 0;
  const CommandFn* commands = nullptr;
  int32_t command_count = 0;
};

// The program information block, read once at start-up.
struct ProgramInfo {
  int32_t run_mode = 3;
  int32_t reserved = 0;
  int32_t build_number = 0;
  const void* code_base = nullptr;
  const void* constant_data = nullptr;
  size_t constant_length = 0;
  const uint8_t* template_data = nullptr;
  size_t template_length = 0;
  int32_t unit_library_count = 0;
  const UnitLibrary* const* unit_libraries = nullptr;
  int32_t dll_command_count = 0;
  const char* const* dll_file_names = nullptr;
  const char* const* dll_function_names = nullptr;
};

// Start-up steps that need no windows: run mode and build number, the program's directory
// (made current), the window thread, the constant data area, the dynamic-library command
// tables, and the unit libraries' notification (1, service entry).
void prepare_runtime(const ProgramInfo& info);

int32_t run_mode();
int32_t build_number();
// Directory without a trailing separator, and the file name, of the running program.
const std::string& program_directory();
const std::string& program_file_name();

// The event-suppression counter: while it is 1 or more, no event reaches a handler.
void suppress_events();
void resume_events();
int32_t event_suppression_count();

// At-exit routines run once each at a normal end, in registration order, with their index.
using AtExitRoutine = void (*)(int32_t index);
void register_at_exit(AtExitRoutine routine);
void clear_at_exit_routines();

// Registered unit libraries (from the program information block).
int32_t unit_library_count();
const UnitLibrary* unit_library(int32_t index);

// A step of the end sequence that belongs to a higher layer (the window layer tears down the
// registry and its windows here). Called on the window thread before the at-exit routines.
using TeardownFn = void (*)();
void set_window_teardown(TeardownFn teardown);

// The end sequence with `exit_code`, then the process ends with that code. From a worker the
// request is carried to the window thread, which performs it.
[[noreturn]] void end_program(int32_t exit_code);
bool end_sequence_started();

// The runtime service entry of the unit libraries.
intptr_t runtime_service(int32_t code, intptr_t value1, intptr_t value2);

}  // namespace rt
