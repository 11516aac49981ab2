// Runtime start-up: everything before the start window is loaded.
#pragma once

#include "runtime/command.h"
#include "runtime/runtime.h"

namespace rt {

// The Qt application object and the window thread, the runtime's own preparation, the hidden
// owner window, the window services and entries, and the window templates into the registry.
void startup(const ProgramInfo& info);

// The program information block the numbered start-up routine reads.
void install_program_info(const ProgramInfo& info);
const ProgramInfo& program_info();

namespace cmd {
// load_window (window reference, [parent unit reference], bool modal) -> bool
void load_window(Cell* result, int32_t count, const Cell* args);
// unit_handle (unit reference) -> the unit's native window, 0 when it does not exist
void unit_handle(Cell* result, int32_t count, const Cell* args);
}  // namespace cmd

}  // namespace rt
