#include "runtime/threads.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace rt {
namespace {

// What a handle stands for: the thread's end and its exit code. Waiting and closing share it,
// so a handle closed while another thread waits on it leaves the waiter a record that lives.
struct ThreadState {
  std::mutex lock;
  std::condition_variable ended_signal;
  bool ended = false;
  int32_t exit_code = 0;
  std::thread::id id;
};

struct HandleTable {
  std::mutex lock;
  std::map<int32_t, std::shared_ptr<ThreadState>> threads;
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

  auto state = std::make_shared<ThreadState>();
  std::thread thread;
  try {
    thread = std::thread([routine, argument, state] {
      const int32_t code = routine ? routine(argument) : 0;
      std::lock_guard guard(state->lock);
      state->exit_code = code;
      state->ended = true;
      state->ended_signal.notify_all();
    });
  } catch (const std::system_error&) {
    set_bool(result, false);
    if (keep_handle)
      *a.at(2).pointer<int32_t>() = 0;
    return;
  }
  set_bool(result, true);
  // A handle waits on the thread's state, not on the thread: the thread always runs detached.
  {
    std::lock_guard guard(state->lock);
    state->id = thread.get_id();
  }
  thread.detach();
  if (!keep_handle)
    return;
  HandleTable& table = handles();
  std::lock_guard guard(table.lock);
  const int32_t handle = table.next;
  table.next += 4;
  table.threads.emplace(handle, std::move(state));
  *a.at(2).pointer<int32_t>() = handle;
}

bool start_worker(WorkerRoutine routine) {
  return call_bool(&start_thread,
                   Cell::of_pointer(reinterpret_cast<const void*>(routine), kSubroutine));
}

bool start_worker(WorkerRoutine routine, int32_t argument) {
  return call_bool(&start_thread,
                   Cell::of_pointer(reinterpret_cast<const void*>(routine), kSubroutine), argument);
}

bool thread_handle_open(int32_t handle) {
  HandleTable& table = handles();
  std::lock_guard guard(table.lock);
  return table.threads.count(handle) != 0;
}

int32_t wait_thread_handle(int32_t handle) {
  std::shared_ptr<ThreadState> state;
  {
    HandleTable& table = handles();
    std::lock_guard guard(table.lock);
    const auto it = table.threads.find(handle);
    if (it == table.threads.end())
      return -1;
    state = it->second;
  }
  std::unique_lock guard(state->lock);
  // A thread waiting for its own end would wait for ever.
  if (state->id != std::this_thread::get_id()) {
    state->ended_signal.wait(guard, [&state] { return state->ended; });
  }
  return state->exit_code;
}

bool close_thread_handle(int32_t handle) {
  HandleTable& table = handles();
  std::lock_guard guard(table.lock);
  return table.threads.erase(handle) != 0;
}

LockRecord* create_lock() {
  auto* record = new LockRecord;
  std::lock_guard guard(g_lock_list_guard);
  record->next = g_locks;
  g_locks = record;
  return record;
}

void enter_lock(LockRecord* lock) {
  if (lock)
    lock->section.lock();
}

void leave_lock(LockRecord* lock) {
  if (lock)
    lock->section.unlock();
}

int32_t lock_count() {
  std::lock_guard guard(g_lock_list_guard);
  int32_t n = 0;
  for (LockRecord* r = g_locks; r; r = r->next) ++n;
  return n;
}

int32_t thread_library_notify(int32_t code, intptr_t /*value1*/, intptr_t /*value2*/) {
  if (code == kLibraryServiceEntry)
    return 0;
  if (code != kLibraryProgramEnd)
    return -1;
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
