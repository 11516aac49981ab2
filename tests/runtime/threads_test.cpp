#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "runtime/threads.h"

namespace {

using rt::Cell;

std::promise<int32_t>* g_received = nullptr;

int32_t remember_argument(int32_t argument) {
  g_received->set_value(argument);
  return argument * 2;
}

Cell routine_cell() {
  return Cell::of_pointer(reinterpret_cast<const void*>(&remember_argument), rt::kSubroutine);
}

int32_t started_with(std::vector<Cell> cells) {
  std::promise<int32_t> received;
  g_received = &received;
  const Cell r =
      rt::call_command(&rt::start_thread, static_cast<int32_t>(cells.size()), cells.data());
  EXPECT_EQ(r.type, rt::kBool);
  EXPECT_EQ(r.low, 1u);
  auto future = received.get_future();
  EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  return future.get();
}

TEST(StartThread, ArgumentRules) {
  EXPECT_EQ(started_with({routine_cell()}), 0);
  EXPECT_EQ(started_with({routine_cell(), Cell::of_int(42)}), 42);
  // An omitted argument is a zero type code, whatever its payload says.
  EXPECT_EQ(started_with({routine_cell(), Cell{77, 0, 0}}), 0);
  EXPECT_EQ(started_with({routine_cell(), Cell{}, Cell{}}), 0);
}

TEST(StartThread, OnlyTheRoutineRunsDetached) {
  std::promise<int32_t> received;
  g_received = &received;
  EXPECT_TRUE(rt::start_worker(&remember_argument));
  EXPECT_EQ(received.get_future().get(), 0);
}

TEST(StartThread, HandleVariableStaysOpenUntilClosed) {
  int32_t handle = -1;
  std::promise<int32_t> received;
  g_received = &received;
  const Cell cells[] = {routine_cell(), Cell::of_int(21), Cell::by_ref(&handle, rt::kInt)};
  EXPECT_EQ(rt::call_command(&rt::start_thread, 3, cells).low, 1u);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(rt::wait_thread_handle(handle), 42) << "the routine's result is the exit code";
  EXPECT_TRUE(rt::thread_handle_open(handle)) << "ending the thread does not close the handle";
  EXPECT_TRUE(rt::close_thread_handle(handle));
  EXPECT_FALSE(rt::thread_handle_open(handle));
  EXPECT_FALSE(rt::close_thread_handle(handle));
  EXPECT_EQ(rt::wait_thread_handle(handle), -1);
}

std::shared_future<void> g_go;

int32_t wait_for_go(int32_t) {
  g_go.wait();
  return 7;
}

TEST(StartThread, HandleClosedWhileAnotherThreadWaitsOnIt) {
  std::promise<void> go;
  g_go = go.get_future().share();
  int32_t handle = 0;
  const Cell cells[] = {
      Cell::of_pointer(reinterpret_cast<const void*>(&wait_for_go), rt::kSubroutine), Cell{},
      Cell::by_ref(&handle, rt::kInt)};
  ASSERT_EQ(rt::call_command(&rt::start_thread, 3, cells).low, 1u);
  std::atomic<bool> waiting = false;
  std::atomic<int32_t> waited = -2;
  std::thread waiter([&] {
    waiting = true;
    waited = rt::wait_thread_handle(handle);
  });
  while (!waiting) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // well inside its wait
  EXPECT_TRUE(rt::close_thread_handle(handle));
  go.set_value();
  waiter.join();
  EXPECT_EQ(waited, 7) << "the wait ends with the exit code";
  EXPECT_FALSE(rt::thread_handle_open(handle));
}

TEST(ThreadLibrary, NotificationsAndLockCleanUp) {
  EXPECT_EQ(rt::thread_library_notify(6, 0, 0), 0) << "an empty list is fine";
  EXPECT_EQ(rt::thread_library_notify(1, 1234, 0), 0);
  EXPECT_EQ(rt::thread_library_notify(3, 0, 0), -1);
  rt::LockRecord* a = rt::create_lock();
  rt::create_lock();
  rt::enter_lock(a);
  rt::enter_lock(a);  // the sections are re-entrant, like the platform's
  rt::leave_lock(a);
  rt::leave_lock(a);
  EXPECT_EQ(rt::lock_count(), 2);
  EXPECT_EQ(rt::thread_library_notify(6, 0, 0), 0);
  EXPECT_EQ(rt::lock_count(), 0);
  EXPECT_EQ(rt::thread_library().commands[0], &rt::start_thread);
}

}  // namespace
