// Test entry: every suite runs offscreen and knows this program's constant data area.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/heap.h"

// Under AddressSanitizer a failed allocation must come back as null, so that the runtime's own
// out-of-memory report is what the tests see.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
// The same under ThreadSanitizer. Death tests' children end through exit() while the servers
// of their fixtures still run on joinable threads, which it would report as leaked; the
// program's own threads all run detached.
extern "C" const char* __tsan_default_options() {
  return "allocator_may_return_null=1 report_thread_leaks=0";
}
// Font configuration keeps caches for the life of the process by design.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

// Present when the suite runs under LeakSanitizer.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Qt wants a private runtime directory and complains on standard error without one. Death
  // tests' children inherit the parent's.
  std::string runtime_dir;
  if (!getenv("XDG_RUNTIME_DIR")) {
    std::string pattern = "/tmp/ff-test-runtime-XXXXXX";
    if (mkdtemp(pattern.data())) {
      runtime_dir = pattern;
      setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
    }
  }
  const rt::ConstantArea area = rt::linker_constant_area();
  rt::record_constant_area(area.start, area.length);
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int result = RUN_ALL_TESTS();
  // Like the program, end without running static destructors: a worker a test started may still
  // be finishing, and must not meet torn-down globals.
  if (__lsan_do_leak_check)
    __lsan_do_leak_check();
  if (!runtime_dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(runtime_dir, ignored);
  }
  std::fflush(nullptr);
  _exit(result);
}
