#include "runtime/dll_commands.h"

#include <dlfcn.h>

#include <charconv>
#include <mutex>

#include "runtime/fatal.h"
#include "runtime/imports.h"
#include "runtime/runtime.h"

namespace rt {
namespace {

bool parse_ordinal(const std::string& name, uint32_t& ordinal) {
  if (name.size() < 2 || name[0] != '#')
    return false;
  uint64_t value = 0;
  const char* first = name.data() + 1;
  const char* last = name.data() + name.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last)
    return false;
  ordinal = static_cast<uint32_t>(value & 0xFFFF);  // the low 16 bits
  return true;
}

}  // namespace

DllCommands::~DllCommands() {
  release_all();
}

void DllCommands::prepare(int32_t count, const char* const* file_names,
                          const char* const* function_names, std::string program_directory) {
  release_all();
  entries_.clear();
  directory_ = std::move(program_directory);
  for (int32_t i = 0; i < count; ++i) {
    auto entry = std::make_unique<Entry>();
    entry->file = file_names && file_names[i] ? file_names[i] : "";
    entry->function = function_names && function_names[i] ? function_names[i] : "";
    entries_.push_back(std::move(entry));
  }
}

void* DllCommands::load_library(const std::string& file) {
  void* module = nullptr;
  if (file.find('/') != std::string::npos) {
    module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    // The program directory first, then the platform's own search.
    if (!directory_.empty()) {
      module = dlopen((directory_ + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!module)
      module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (module)
    loads_.fetch_add(1);
  return module;
}

void* DllCommands::lookup(void* module, const std::string& function) const {
  uint32_t ordinal = 0;
  if (!parse_ordinal(function, ordinal))
    return dlsym(module, function.c_str());
  const auto* table = static_cast<const OrdinalEntry*>(dlsym(module, kOrdinalTableSymbol));
  for (; table && table->address; ++table) {
    if (table->ordinal == ordinal)
      return table->address;
  }
  return nullptr;
}

bool DllCommands::is_resolved(int32_t index) const {
  return index >= 0 && index < count() &&
         entries_[static_cast<size_t>(index)]->address.load() != nullptr;
}

void* DllCommands::resolve(int32_t index) {
  if (index < 0 || index >= count()) {
    fatal_error("无法找到指定DLL库文件中的输出命令“”", 0);
  }
  Entry& entry = *entries_[static_cast<size_t>(index)];
  if (void* cached = entry.address.load(std::memory_order_acquire))
    return cached;

  void* module = nullptr;
  void* address = nullptr;
  if (entry.file.empty()) {
    for (const std::string& library : system_libraries()) {
      module = load_library(library);
      if (!module)
        continue;
      address = lookup(module, entry.function);
      if (address)
        break;
      dlclose(module);
      module = nullptr;
    }
  } else {
    module = load_library(entry.file);
    if (module)
      address = lookup(module, entry.function);
  }

  if (!address) {
    if (module)
      dlclose(module);
    char message[1024];
    if (entry.file.empty()) {
      std::snprintf(message, sizeof message, "无法找到指定DLL库文件中的输出命令“%s”",
                    entry.function.c_str());
    } else {
      std::snprintf(message, sizeof message, "无法找到指定DLL库文件“%s”中的输出命令“%s”",
                    entry.file.c_str(), entry.function.c_str());
    }
    fatal_error(message, 0);
  }
  // Two threads resolving one entry at once both load the library; the loser releases its load.
  void* expected = nullptr;
  if (!entry.module.compare_exchange_strong(expected, module))
    dlclose(module);
  entry.address.store(address, std::memory_order_release);
  return address;
}

void DllCommands::release_all() {
  // No dlclose: a library may have started a thread that still runs its code (the shell
  // stand-in reaps its opener on one), and unmapping it would pull the code from under that
  // thread. The process's end unmaps everything.
  for (auto& entry : entries_) {
    entry->module.store(nullptr);
    entry->address.store(nullptr);
  }
}

const std::vector<std::string>& system_libraries() {
  // The C and math libraries, then this program's own platform stand-ins.
  static const std::vector<std::string> kLibraries = {
      "libc.so.6",          "libm.so.6",      "libffkernel.so", "libffinet.so",
      "libffautomation.so", "libffraster.so", "libffshell.so",
  };
  return kLibraries;
}

DllCommands& dll_commands() {
  static DllCommands* table = [] {
    auto* t = new DllCommands;  // lives until the process ends
    t->prepare(kImportCount, kImportFiles, kImportFunctions, program_directory());
    return t;
  }();
  return *table;
}

}  // namespace rt
