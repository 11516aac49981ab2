#include "runtime/threads.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace rt {
namespace {

struct HandleTable {
  std::mutex lock;
  std::map<int32_t, std::thread> threads;
  std::map<int32_t, std::shared_ptr<std::atomic<int32_t>>> exit_codes;
  int32_t next = 4;
};

HandleTable& handles() {
  static HandleTable* table = new HandleTable;  // lives until the process ends
  return *table;
}

}  // namespace

struct LockRecord {
  std::recursive_mutex section;
  LockRecord* next = nullptr;
};

namespace {

std::mutex g_lock_list_guard;
LockRecord* g_locks = nullptr;

}  // namespace

void start_thread(Cell* result, int32_t count, const Cell* args) {
  const Args a(count, args);
  const auto routine = a.at(0).pointer<std::remove_pointer_t<WorkerRoutine>>();
  // The argument counts only when a second cell was passed with a type code.
  const int32_t argument = a.given(1) ? a.at(1).as_int() : 0;
  const bool keep_handle = a.given(2) && a.at(2).pointer<int32_t>() != nullptr;

  auto exit_code = std::make_shared<std::atomic<int32_t>>(0);
  std::thread thread;
  try {
    thread = std::thread([routine, argument, exit_code] {
      if (routine) exit_code->store(routine(argument));
    });
  } catch (const std::system_error&) {
    set_bool(result, false);
    if (keep_handle) *a.at(2).pointer<int32_t>() = 0;
    return;
  }
  set_bool(result, true);
  if (!keep_handle) {
    thread.detach();
    return;
  }
  HandleTable& table = handles();
  std::lock_guard guard(table.lock);
  const int32_t handle = table.next;
  table.next += 4;
  table.threads.emplace(handle, std::move(thread));
  table.exit_codes.emplace(handle, exit_code);
  *a.at(2).pointer<int32_t>() = handle;
}

bool start_worker(WorkerRoutine routine) {
  return call_bool(&start_thread, Cell::of_pointer(reinterpret_cast<const void*>(routine),
                                                   kSubroutine));
}

bool start_worker(WorkerRoutine routine, int32_t argument) {
  return call_bool(&start_thread,
                   Cell::of_pointer(reinterpret_cast<const void*>(routine), kSubroutine),
                   argument);
}

bool thread_handle_open(int32_t handle) {
  HandleTable& table = handles();
  std::lock_guard guard(table.lock);
  return table.threads.count(handle) != 0;
}

int32_t wait_thread_handle(int32_t handle) {
  HandleTable& table = handles();
  std::thread* thread = nullptr;
  std::shared_ptr<std::atomic<int32_t>> code;
  {
    std::lock_guard guard(table.lock);
    auto it = table.threads.find(handle);
    if (it == table.threads.end()) return -1;
    thread = &it->second;
    code = table.exit_codes[handle];
  }
  // std::map nodes stay put, and only the handle's owner closes it.
  if (thread->joinable() && thread->get_id() != std::this_thread::get_id()) thread->join();
  return code->load();
}

bool close_thread_handle(int32_t handle) {
  HandleTable& table = handles();
  std::lock_guard guard(table.lock);
  auto it = table.threads.find(handle);
  if (it == table.threads.end()) return false;
  if (it->second.joinable()) it->second.detach();
  table.threads.erase(it);
  table.exit_codes.erase(handle);
  return true;
}

LockRecord* create_lock() {
  auto* record = new LockRecord;
  std::lock_guard guard(g_lock_list_guard);
  record->next = g_locks;
  g_locks = record;
  return record;
}

void enter_lock(LockRecord* lock) {
  if (lock) lock->section.lock();
}

void leave_lock(LockRecord* lock) {
  if (lock) lock->section.unlock();
}

int32_t lock_count() {
  std::lock_guard guard(g_lock_list_guard);
  int32_t n = 0;
  for (LockRecord* r = g_locks; r; r = r->next) ++n;
  return n;
}

int32_t thread_library_notify(int32_t code, intptr_t /*value1*/, intptr_t /*value2*/) {
  if (code == 1) return 0;
  if (code != 6) return -1;
  std::lock_guard guard(g_lock_list_guard);
  while (g_locks) {
    LockRecord* next = g_locks->next;
    delete g_locks;
    g_locks = next;
  }
  return 0;
}

const UnitLibrary& thread_library() {
  static const CommandFn kCommands[] = {&start_thread};
  static const UnitLibrary kLibrary{"thread", &thread_library_notify, nullptr, 0, kCommands, 1};
  return kLibrary;
}

}  // namespace rt
