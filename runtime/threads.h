// The thread library: starting application routines on worker threads, and its locks.
#pragma once

#include <cstdint>

#include "runtime/command.h"
#include "runtime/runtime.h"

namespace rt {

// An application routine run on a worker: one 32-bit argument, the thread's exit code back.
using WorkerRoutine = int32_t (*)(int32_t argument);

// Command: start thread (routine, [argument], [handle variable]) -> bool. Without a handle
// variable the thread runs detached; with one, the variable receives a handle that stays open
// until close_thread_handle.
void start_thread(Cell* result, int32_t count, const Cell* args);

// Typed calls of start_thread through the gateway, as the application uses them.
bool start_worker(WorkerRoutine routine);
bool start_worker(WorkerRoutine routine, int32_t argument);

// Thread handles handed out through a handle variable.
bool thread_handle_open(int32_t handle);
// Waits for the thread's routine to end and answers its exit code (-1 for an unknown handle).
// Another thread may close the handle meanwhile; the wait still ends with the exit code.
int32_t wait_thread_handle(int32_t handle);
// Closes the handle; the thread itself runs on. False for an unknown handle.
bool close_thread_handle(int32_t handle);

// Locks of the thread library, kept in one list that the end-of-program notification clears.
struct LockRecord;
LockRecord* create_lock();
void enter_lock(LockRecord* lock);
void leave_lock(LockRecord* lock);
int32_t lock_count();

// The library's notification entry: 0 for codes 1 and 6 (6 deletes every lock), -1 otherwise.
int32_t thread_library_notify(int32_t code, intptr_t value1, intptr_t value2);
const UnitLibrary& thread_library();

}  // namespace rt
