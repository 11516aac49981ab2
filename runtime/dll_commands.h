// Dynamic-library commands: functions of other libraries named in a table and found by name at
// their first call.
//
// Entry i names a library file (may be empty: search the system library list) and an exported
// function ("#n" is ordinal n). The resolved address and the module that supplied it are cached
// for the life of the process. A library that supplied a command stays mapped until the process
// ends, also after the caches are cleared.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rt {

class DllCommands {
 public:
  DllCommands() = default;
  DllCommands(const DllCommands&) = delete;
  DllCommands& operator=(const DllCommands&) = delete;
  ~DllCommands();

  // Installs the table; program_directory is searched first for names without a "/".
  void prepare(int32_t count, const char* const* file_names, const char* const* function_names,
               std::string program_directory);
  int32_t count() const { return static_cast<int32_t>(entries_.size()); }

  // The address of entry i, resolving it on first use. Failure is fatal and names the library
  // and the function.
  void* resolve(int32_t index);
  // Whether entry i has been resolved (no loading).
  bool is_resolved(int32_t index) const;
  // How many times a library was loaded for resolution (each successful entry keeps one load).
  int32_t load_count() const { return loads_.load(); }

  // Clears the caches. The libraries stay loaded: threads they started may still run in them.
  void release_all();

 private:
  struct Entry {
    std::string file;
    std::string function;
    std::atomic<void*> address{nullptr};
    std::atomic<void*> module{nullptr};
  };

  void* load_library(const std::string& file);
  void* lookup(void* module, const std::string& function) const;

  std::vector<std::unique_ptr<Entry>> entries_;
  std::string directory_;
  std::atomic<int32_t> loads_{0};
};

// The program's own table (the imports below), prepared at start-up.
DllCommands& dll_commands();

// Libraries tried in order for entries with an empty file name.
const std::vector<std::string>& system_libraries();

// A typed view of entry i: the gateway adds nothing to the call itself.
template <typename Fn>
Fn* dll_function(int32_t index) {
  return reinterpret_cast<Fn*>(dll_commands().resolve(index));
}

// Libraries may offer ordinals through a table of this shape, exported under this name and
// ended by an entry with a null address.
struct OrdinalEntry {
  uint32_t ordinal;
  void* address;
};
inline constexpr const char* kOrdinalTableSymbol = "ff_ordinal_table";

}  // namespace rt
