#include "app/program.h"

#include "app/ids.h"
#include "app/template_data.h"
#include "runtime/heap.h"
#include "runtime/imports.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/threads.h"
#include "units/libraries.h"

namespace app {
namespace {

// The routine table: the code base that window templates name handlers from, in the order of
// app/templates/routines.list.
#define FF_ROUTINE(name) &name,
const rt::EventHandler kRoutines[] = {
#include "app/routine_table.inc"
};
#undef FF_ROUTINE

const rt::UnitLibrary* const kUnitLibraries[] = {
    &units::core_unit_library(),
    &units::extended_unit_library(),
    &rt::thread_library(),
};

}  // namespace

const rt::ProgramInfo& program_info() {
  static const rt::ProgramInfo info = [] {
    rt::ProgramInfo p;
    p.run_mode = 3;
    p.build_number = 105302;
    p.code_base = kRoutines;
    const rt::ConstantArea area = rt::linker_constant_area();
    p.constant_data = area.start;
    p.constant_length = area.length;
    p.template_data = kTemplateData;
    p.template_length = kTemplateLength;
    p.unit_library_count = static_cast<int32_t>(std::size(kUnitLibraries));
    p.unit_libraries = kUnitLibraries;
    p.dll_command_count = rt::kImportCount;
    p.dll_file_names = rt::kImportFiles;
    p.dll_function_names = rt::kImportFunctions;
    return p;
  }();
  return info;
}

int32_t init_program() {
  const rt::EntryTable& runtime = rt::entry_table();
  rt::install_program_info(program_info());
  rt::Cell none{};
  runtime.runtime_routine(6, &none, 0, nullptr);  // runtime start-up
  // Module-level objects: the library loader and the window shadow arrive with their own work;
  // until then there is nothing to create here.
  const rt::Cell exit_cell =
      rt::Cell::of_pointer(reinterpret_cast<const void*>(&exit_routine), rt::kSubroutine);
  runtime.runtime_routine(3, &none, 1, &exit_cell);
  runtime.load_start_window(kStartWindow);
  runtime.run_message_loop();
  return 0;
}

void exit_routine(int32_t /*index*/) {}

}  // namespace app
