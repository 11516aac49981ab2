#include "app/program.h"

#include <memory>

#include "app/demo_site_launcher.h"
#include "app/flows.h"
#include "app/ids.h"
#include "app/template_data.h"
#include "imaging/drawing.h"
#include "imaging/window_shadow.h"
#include "runtime/heap.h"
#include "runtime/imports.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/threads.h"
#include "skin/skin.h"
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

// The library of the shell command the play flow uses.
const rt::CommandFn kShellCommands[] = {&open_address_command, &url_encode_command};
const rt::UnitLibrary kShellLibrary{"shell", nullptr, nullptr, 0, kShellCommands, 2};

const rt::UnitLibrary* const kUnitLibraries[] = {
    &units::core_unit_library(),
    &units::extended_unit_library(),
    &rt::thread_library(),
    &kShellLibrary,
};

}  // namespace

// Module-level objects: created at start-up, released by the exit routine.
std::unique_ptr<bridges::EmbeddedLibrary> g_library_loader;

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
  runtime.runtime_routine(rt::kRoutineStartup, &none, 0, nullptr);
  g_library_loader = std::make_unique<bridges::EmbeddedLibrary>();
  const rt::Cell exit_cell =
      rt::Cell::of_pointer(reinterpret_cast<const void*>(&exit_routine), rt::kSubroutine);
  runtime.runtime_routine(3, &none, 1, &exit_cell);
  // The window shadow draws with the 2-D graphics library: started once, never shut down.
  (void)imaging::start_graphics_library();
  // The skin engine travels inside the program and is mapped from memory; without it the
  // windows keep the toolkit's own look.
  (void)skin::load_engine(*g_library_loader);
  runtime.load_start_window(kStartWindow);
  runtime.run_message_loop();
  return 0;
}

void exit_routine(int32_t /*index*/) {
  stop_demo_site();
  // The mapped engine stays with the process; only the loader object goes.
  g_library_loader.reset();
  imaging::release_window_shadows();
}

}  // namespace app
