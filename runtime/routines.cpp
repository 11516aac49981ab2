// The numbered runtime routines and the entry table.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "runtime/dll_commands.h"
#include "runtime/fatal.h"
#include "runtime/heap.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/values.h"

namespace rt {
namespace {

// File attribute bits as the find-file filter reads them.
constexpr int32_t kAttrReadOnly = 0x01;
constexpr int32_t kAttrHidden = 0x02;
constexpr int32_t kAttrDirectory = 0x10;
constexpr int32_t kAttrMaskBits = 0x37;

struct FileSearch {
  DIR* dir = nullptr;
  std::string directory;
  std::string pattern;
  ~FileSearch() {
    if (dir)
      closedir(dir);
  }
};

struct SearchTable {
  std::mutex lock;
  std::map<int32_t, std::unique_ptr<FileSearch>> searches;
  int32_t next = 1;
};

SearchTable& searches() {
  static SearchTable* table = new SearchTable;  // lives until the process ends
  return *table;
}

int32_t attributes_of(const std::string& directory, const char* name) {
  struct stat st {};
  const std::string path = directory + "/" + name;
  if (stat(path.c_str(), &st) != 0)
    return 0;
  int32_t attributes = 0;
  if (S_ISDIR(st.st_mode))
    attributes |= kAttrDirectory;
  if (name[0] == '.')
    attributes |= kAttrHidden;
  if (access(path.c_str(), W_OK) != 0)
    attributes |= kAttrReadOnly;
  return attributes;
}

bool passes(int32_t attributes, int32_t mask, bool files_only) {
  if (files_only)
    return (attributes & kAttrDirectory) == 0;
  mask &= kAttrMaskBits;
  if (mask == 0)
    return attributes == 0;
  return (attributes & mask) != 0;
}

// Reads on until an entry passes; closes the search and answers null at the end.
char* next_match(int32_t handle, int32_t mask, bool files_only) {
  SearchTable& table = searches();
  std::lock_guard guard(table.lock);
  auto it = table.searches.find(handle);
  if (it == table.searches.end())
    return nullptr;
  FileSearch& search = *it->second;
  while (dirent* entry = readdir(search.dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
      continue;
    if (fnmatch(search.pattern.c_str(), name, 0) != 0)
      continue;
    if (!passes(attributes_of(search.directory, name), mask, files_only))
      continue;
    return copy_text(name);
  }
  table.searches.erase(it);
  return nullptr;
}

RoutineHandler g_window_routines = nullptr;

uint64_t no_window_get_property(uint32_t, uint32_t, int32_t, int32_t) {
  fatal_error("未载入欲访问窗口组件所在的窗口", 0);
}
void no_window_set_property(uint32_t, uint32_t, int32_t, int32_t, uint32_t, uint32_t) {
  fatal_error("未载入欲访问窗口组件所在的窗口", 0);
}
void no_window_message_loop() {}  // no registered window is loaded: return at once
void no_window_load_start_window(uint32_t) {
  fatal_error("载入启动窗口失败", 0);
}

void* call_dll_entry(int32_t index) {
  return dll_commands().resolve(index);
}
void end_program_entry(int32_t exit_code) {
  end_program(exit_code);
}

EntryTable g_entries{
    &fatal_error_by_number,
    &call_dll_entry,
    &call_command,
    &call_command,
    &no_window_get_property,
    &no_window_set_property,
    &allocate,
    &reallocate,
    &free_block,
    &end_program_entry,
    &no_window_message_loop,
    &no_window_load_start_window,
    &runtime_routine,
};

}  // namespace

char* find_file(const char* pattern, int32_t attribute_mask, bool files_only, int32_t* handle) {
  if (!handle)
    return nullptr;
  if (pattern && *pattern) {
    close_find_handle(*handle);
    *handle = 0;
    std::string path = pattern;
    const size_t slash = path.rfind('/');
    auto search = std::make_unique<FileSearch>();
    search->directory = slash == std::string::npos ? "." : path.substr(0, slash);
    if (search->directory.empty())
      search->directory = "/";
    search->pattern = slash == std::string::npos ? path : path.substr(slash + 1);
    if (search->pattern == "*.*")
      search->pattern = "*";  // every name, with or without a dot
    search->dir = opendir(search->directory.c_str());
    if (!search->dir)
      return nullptr;
    SearchTable& table = searches();
    std::lock_guard guard(table.lock);
    *handle = table.next++;
    table.searches.emplace(*handle, std::move(search));
  }
  char* name = next_match(*handle, attribute_mask, files_only);
  if (!name)
    *handle = 0;
  return name;
}

void close_find_handle(int32_t handle) {
  if (handle == 0)
    return;
  SearchTable& table = searches();
  std::lock_guard guard(table.lock);
  table.searches.erase(handle);
}

void set_window_routines(RoutineHandler handler) {
  g_window_routines = handler;
}

void runtime_routine(int32_t number, Cell* result, int32_t count, const Cell* args) {
  const Args a(count, args);
  switch (number) {
    case kRoutineFindFile: {
      // The handle lives in the caller's variable, passed by reference.
      auto* handle = a.at(3).pointer<int32_t>();
      set_text(result, find_file(a.text(0), a.int_or(1, 0), a.flag(2), handle));
      return;
    }
    case kRoutineCloseFind:
      close_find_handle(a.int_or(0, 0));
      return;
    case kRoutineMakeWritable:
      make_writable(a.at(0).pointer<void*>(), static_cast<size_t>(a.int_or(1, 0)));
      return;
    case kRoutineRegisterAtExit:
      register_at_exit(reinterpret_cast<AtExitRoutine>(a.at(0).pointer<void>()));
      return;
    case kRoutineStartup:
      startup(program_info());
      return;
    default:
      if (g_window_routines)
        g_window_routines(number, result, count, args);
      return;
  }
}

const EntryTable& entry_table() {
  return g_entries;
}

void install_window_entries(const WindowEntries& entries) {
  g_entries.get_property = entries.get_property;
  g_entries.set_property = entries.set_property;
  g_entries.run_message_loop = entries.run_message_loop;
  g_entries.load_start_window = entries.load_start_window;
}

}  // namespace rt
