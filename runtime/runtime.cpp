#include "runtime/runtime.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/windowing/window_thread.h"
#include "runtime/dll_commands.h"
#include "runtime/heap.h"

namespace rt {
namespace {

struct RuntimeObject {
  int32_t run_mode = 0;
  int32_t reserved = 0;
  int32_t build_number = 0;
  std::string directory;
  std::string file_name;
  std::atomic<int32_t> suppression{0};
  std::atomic<bool> ending{false};
  std::atomic<TeardownFn> teardown{nullptr};
  std::mutex at_exit_lock;
  std::vector<AtExitRoutine> at_exit;
  std::vector<const UnitLibrary*> libraries;
  std::vector<intptr_t> library_state;
};

RuntimeObject& object() {
  static RuntimeObject* instance = new RuntimeObject;  // lives until the process ends
  return *instance;
}

void locate_program(RuntimeObject& rt) {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  path.resize(n > 0 ? static_cast<size_t>(n) : 0);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    rt.directory.clear();
    rt.file_name = path;
    return;
  }
  rt.directory = path.substr(0, slash);
  rt.file_name = path.substr(slash + 1);
}

[[noreturn]] void terminate_process(int32_t exit_code) {
  std::fflush(nullptr);
  _exit(exit_code);
}

// Steps 3 to 8 of the end sequence, on the window thread.
[[noreturn]] void perform_end(int32_t exit_code) {
  RuntimeObject& rt = object();
  if (rt.ending.exchange(true))
    terminate_process(exit_code);
  if (TeardownFn teardown = rt.teardown.load())
    teardown();
  std::vector<AtExitRoutine> routines;
  {
    std::lock_guard lock(rt.at_exit_lock);
    routines.swap(rt.at_exit);
  }
  for (size_t i = 0; i < routines.size(); ++i) routines[i](static_cast<int32_t>(i));
  for (size_t i = 0; i < rt.libraries.size(); ++i) {
    if (rt.libraries[i]->notify)
      rt.libraries[i]->notify(kLibraryProgramEnd, rt.library_state[i], 0);
  }
  dll_commands().release_all();
  terminate_process(exit_code);
}

}  // namespace

void prepare_runtime(const ProgramInfo& info) {
  RuntimeObject& rt = object();
  rt.run_mode = info.run_mode;
  rt.reserved = info.reserved;
  rt.build_number = info.build_number + 1;
  locate_program(rt);
  if (!rt.directory.empty() && chdir(rt.directory.c_str()) != 0) {
    // A directory we cannot enter leaves the current directory as it was.
  }
  windowing::record_window_thread();
  record_constant_area(info.constant_data, info.constant_length);
  if (info.dll_command_count > 0) {
    dll_commands().prepare(info.dll_command_count, info.dll_file_names, info.dll_function_names,
                           rt.directory);
  }
  rt.libraries.clear();
  for (int32_t i = 0; i < info.unit_library_count; ++i) {
    rt.libraries.push_back(info.unit_libraries[i]);
  }
  rt.library_state.assign(rt.libraries.size(), 0);
  for (const UnitLibrary* library : rt.libraries) {
    if (library->notify)
      library->notify(kLibraryServiceEntry, reinterpret_cast<intptr_t>(&runtime_service), 0);
  }
}

int32_t run_mode() {
  return object().run_mode;
}
int32_t build_number() {
  return object().build_number;
}

const std::string& program_directory() {
  RuntimeObject& rt = object();
  if (rt.directory.empty() && rt.file_name.empty())
    locate_program(rt);
  return rt.directory;
}

const std::string& program_file_name() {
  program_directory();
  return object().file_name;
}

void suppress_events() {
  object().suppression.fetch_add(1);
}
void resume_events() {
  object().suppression.fetch_sub(1);
}
int32_t event_suppression_count() {
  return object().suppression.load();
}

void register_at_exit(AtExitRoutine routine) {
  if (!routine)
    return;
  RuntimeObject& rt = object();
  std::lock_guard lock(rt.at_exit_lock);
  for (AtExitRoutine r : rt.at_exit) {
    if (r == routine)
      return;
  }
  rt.at_exit.push_back(routine);
}

void clear_at_exit_routines() {
  RuntimeObject& rt = object();
  std::lock_guard lock(rt.at_exit_lock);
  rt.at_exit.clear();
}

int32_t unit_library_count() {
  return static_cast<int32_t>(object().libraries.size());
}

const UnitLibrary* unit_library(int32_t index) {
  const auto& libs = object().libraries;
  return index >= 0 && static_cast<size_t>(index) < libs.size() ? libs[static_cast<size_t>(index)]
                                                                : nullptr;
}

void set_window_teardown(TeardownFn teardown) {
  object().teardown.store(teardown);
}

bool end_sequence_started() {
  return object().ending.load();
}

void end_program(int32_t exit_code) {
  suppress_events();
  if (!windowing::on_window_thread()) {
    // Carried to the window thread, which ends the process; this call does not come back then.
    // With nobody to carry it, or when the window thread did not take it, end at once.
    if (windowing::has_application()) {
      windowing::run_on_window_thread([exit_code] { perform_end(exit_code); });
    }
    if (!end_sequence_started())
      terminate_process(exit_code);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  perform_end(exit_code);
}

}  // namespace rt
