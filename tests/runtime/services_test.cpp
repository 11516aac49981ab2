#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

#include "platform/windowing/window_thread.h"
#include "runtime/heap.h"
#include "runtime/kinds.h"
#include "runtime/runtime.h"
#include "runtime/services.h"
#include "runtime/values.h"
#include "support/fatal_capture.h"
#include "support/temp_dir.h"

namespace {

using rt::Cell;

intptr_t service(int32_t code, intptr_t v1 = 0, intptr_t v2 = 0) {
  return rt::runtime_service(code, v1, v2);
}

TEST(RuntimeService, FixedAnswers) {
  EXPECT_EQ(service(1004), 1);
  EXPECT_EQ(service(1005), 0x30005);
  EXPECT_EQ(service(2002), 0);
  EXPECT_EQ(service(4242), 0) << "codes outside the table answer 0";
}

TEST(RuntimeService, ProgramPath) {
  char buffer[rt::kPathBufferSize];
  service(1006, 2002, reinterpret_cast<intptr_t>(buffer));
  EXPECT_STREQ(buffer, "runtime_tests");
  service(1006, 1, reinterpret_cast<intptr_t>(buffer));
  EXPECT_TRUE(std::filesystem::exists(std::string(buffer) + "/runtime_tests"));
  EXPECT_EQ(std::string(buffer), rt::program_directory());
  service(1006, 7, reinterpret_cast<intptr_t>(buffer));
  EXPECT_STREQ(buffer, "");
  EXPECT_STREQ(reinterpret_cast<const char*>(service(2004)), "runtime_tests");
  EXPECT_EQ(reinterpret_cast<const char*>(service(2003)), rt::program_directory());
}

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

TEST(RuntimeService, NumbersToInt) {
  const struct {
    Cell cell;
    int32_t expected;
  } cases[] = {
      {Cell::of_byte(0xFF), 255},
      {Cell::of_short(-2), -2},
      {Cell::of_int(-7), -7},
      {Cell::of_int64(0x100000005), 5},
      {Cell::of_float(-2.7f), -2},
      {Cell::of_double(3.99), 3},
      {Cell::of_double(-3.99), -3},
      {Cell::of_double(2147483647.9), 2147483647},
      {Cell::of_double(-2147483648.9), kIntMin},
      // No int holds these: they read as 0x80000000, as the "to integer" command reads them.
      {Cell::of_double(std::nan("")), kIntMin},
      {Cell::of_double(2147483648.0), kIntMin},
      {Cell::of_double(-2147483649.0), kIntMin},
      {Cell::of_double(1e300), kIntMin},
      {Cell::of_double(-HUGE_VAL), kIntMin},
      {Cell::of_float(std::nanf("")), kIntMin},
      {Cell::of_float(3e9f), kIntMin},
      {Cell::of_float(HUGE_VALF), kIntMin},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(service(2001, reinterpret_cast<intptr_t>(&c.cell)), c.expected)
        << c.cell.as_double() << " " << c.cell.as_float();
  }
}

TEST(RuntimeServiceDeathTest, NonNumberToIntIsFatal) {
  const Cell text = Cell::of_pointer("1", rt::kText);
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        service(2001, reinterpret_cast<intptr_t>(&text));
      },
      testing::ExitedWithCode(255), testsupport::expected_report("欲转换数据类型不是数值", 0));
}

TEST(RuntimeService, Memory) {
  void* p = reinterpret_cast<void*>(service(2024, 16, 0));
  ASSERT_NE(p, nullptr);
  p = reinterpret_cast<void*>(service(2026, reinterpret_cast<intptr_t>(p), 4096));
  ASSERT_NE(p, nullptr);
  service(2025, reinterpret_cast<intptr_t>(p));
  // The plain allocation may fail without ending the program.
  EXPECT_EQ(service(2024, intptr_t{1} << 60, 1), 0);
  void* array = rt::make_pointer_array(2);
  char* first = rt::copy_text("element");
  std::memcpy(rt::array_shape(array).elements, &first, sizeof first);
  service(2023, reinterpret_cast<intptr_t>(array), rt::kText);  // frees the element too
}

TEST(RuntimeServiceDeathTest, FatalWithTextAndEndWithCode) {
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        service(2027, reinterpret_cast<intptr_t>("from a unit library"));
      },
      testing::ExitedWithCode(255), testsupport::expected_report("from a unit library", 0));
}

TEST(RuntimeService, KindsFromTheUnitLibraries) {
  static const rt::KindDescriptor kKinds[] = {
      {"甲", "First", "", rt::kKindRaisesEvents, 0, nullptr, nullptr},
      {"乙", "Second", "", rt::kKindRaisesEventsAlt | rt::kKindRaisesEvents, 0, nullptr, nullptr},
      {"丙", "Third", "", rt::kKindContainer, 0, nullptr, nullptr},
  };
  static int32_t notified = 0;
  static const rt::UnitLibrary kLibrary{
      "kinds",
      [](int32_t code, intptr_t service_entry, intptr_t) -> int32_t {
        if (code == 1 && service_entry != 0)
          ++notified;
        return code == 1 ? 0 : -1;
      },
      kKinds,
      3,
      nullptr,
      0};
  static const rt::UnitLibrary* const kLibraries[] = {&kLibrary};
  rt::ProgramInfo info;
  info.run_mode = 3;
  info.build_number = 105302;
  info.unit_library_count = 1;
  info.unit_libraries = kLibraries;
  rt::prepare_runtime(info);
  EXPECT_EQ(notified, 1) << "each unit library is handed the service entry";
  EXPECT_EQ(service(2030), 3);
  EXPECT_EQ(rt::build_number(), 105303);
  EXPECT_EQ(service(2029, 0x10001), 1);
  EXPECT_EQ(service(2029, 0x10002), 2);
  EXPECT_EQ(service(2029, 0x10003), 0);
  EXPECT_EQ(service(2029, 0x10004), 0) << "no such kind";
  EXPECT_EQ(service(2029, 0x20001), 0) << "no such library";
  EXPECT_EQ(reinterpret_cast<const rt::KindDescriptor*>(service(1002, 0x10002)), &kKinds[1]);
  EXPECT_EQ(service(1002, 0x10000), 0);
}

class FindFile : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path();
    ASSERT_FALSE(dir_.empty());
    std::filesystem::create_directories(dir_ / "sub");
    for (const char* name : {"a.txt", "b.txt", "c.log", ".hidden.txt", "locked.txt"}) {
      std::ofstream(dir_ / name) << "x";
    }
    chmod((dir_ / "locked.txt").c_str(), 0444);
  }

  std::set<std::string> all(const std::string& pattern, int32_t mask, bool files_only) {
    std::set<std::string> names;
    int32_t handle = 0;
    rt::Text name =
        rt::Text::adopt(rt::find_file((dir_ / pattern).c_str(), mask, files_only, &handle));
    while (!name.empty()) {
      names.insert(std::string(name.view()));
      name = rt::Text::adopt(rt::find_file("", mask, files_only, &handle));
    }
    EXPECT_EQ(handle, 0) << "the search closes itself at the end";
    return names;
  }

  testsupport::TempDir temp_;
  std::filesystem::path dir_;
};

TEST_F(FindFile, Filters) {
  using Names = std::set<std::string>;
  const bool root = ::geteuid() == 0;  // root may write to anything: no read-only files then
  EXPECT_EQ(all("*.txt", 0, true), (Names{"a.txt", "b.txt", ".hidden.txt", "locked.txt"}));
  EXPECT_EQ(all("*", 0, true), (Names{"a.txt", "b.txt", "c.log", ".hidden.txt", "locked.txt"}));
  EXPECT_EQ(all("*.*", 0x10, false), (Names{"sub"}));
  EXPECT_EQ(all("*", 0x02, false), (Names{".hidden.txt"}));
  if (root) {
    EXPECT_EQ(all("*", 0, false), (Names{"a.txt", "b.txt", "c.log", "locked.txt"}));
  } else {
    EXPECT_EQ(all("*", 0, false), (Names{"a.txt", "b.txt", "c.log"}));
    EXPECT_EQ(all("*", 0x01, false), (Names{"locked.txt"}));
  }
  EXPECT_EQ(all("nothing*", 0, true), Names{});
}

TEST_F(FindFile, NewPatternClosesThePreviousSearch) {
  int32_t handle = 0;
  rt::Text first = rt::Text::adopt(rt::find_file((dir_ / "*.txt").c_str(), 0, true, &handle));
  ASSERT_FALSE(first.empty());
  const int32_t old_handle = handle;
  rt::Text again = rt::Text::adopt(rt::find_file((dir_ / "c.log").c_str(), 0, true, &handle));
  EXPECT_EQ(again.view(), "c.log");
  EXPECT_NE(handle, old_handle);
  rt::close_find_handle(handle);
  rt::close_find_handle(0);  // ignored
  rt::Text none = rt::Text::adopt(rt::find_file("", 0, true, &handle));
  EXPECT_TRUE(none.empty()) << "a closed search finds nothing";
  EXPECT_EQ(rt::find_file((dir_ / "missing-dir/*").c_str(), 0, true, &handle), nullptr);
}

// {1 dimension, 3 elements: 7, 8, 9} in the program's constant data area.
FF_CONST const int32_t kConstantArray[] = {1, 3, 7, 8, 9};
FF_CONST const char kConstantText[] = "constant";

TEST(RuntimeRoutines, ThroughTheEntryTable) {
  const rt::EntryTable& entries = rt::entry_table();
  // Routine 2 copies an array out of the constant area before it can be changed, and leaves a
  // heap array where it is.
  void* variable = const_cast<int32_t*>(kConstantArray);
  Cell result{};
  const Cell constant_args[] = {Cell::by_ref(&variable, rt::kInt), Cell::of_int(4)};
  entries.runtime_routine(2, &result, 2, constant_args);
  ASSERT_NE(variable, static_cast<const void*>(kConstantArray));
  EXPECT_FALSE(rt::in_constant_area(variable));
  EXPECT_EQ(std::memcmp(variable, kConstantArray, sizeof kConstantArray), 0);
  void* heap_array = variable;
  entries.runtime_routine(2, &result, 2, constant_args);
  EXPECT_EQ(variable, heap_array) << "a heap array needs no copy";
  entries.free(heap_array);
  // The memory entries: contents survive a resize; a constant is copied out, never freed.
  auto* p = static_cast<char*>(entries.allocate(3));
  std::memcpy(p, "ab", 3);
  p = static_cast<char*>(entries.reallocate(p, 300));
  EXPECT_STREQ(p, "ab");
  entries.free(p);
  auto* copy = static_cast<char*>(entries.reallocate(const_cast<char*>(kConstantText), 4));
  ASSERT_FALSE(rt::in_constant_area(copy));
  EXPECT_EQ(std::string(copy, 4), "cons");
  entries.free(copy);
  entries.free(const_cast<char*>(kConstantText));
  EXPECT_STREQ(kConstantText, "constant");
}

void print_at_exit(int32_t index) {
  std::fprintf(stderr, "at-exit %d\n", index);
}

// Routine 3 registers an at-exit routine once however often it is asked; the end-program entry
// runs it with its index and ends with the code given.
TEST(RuntimeRoutinesDeathTest, AtExitRoutineThroughTheEntryTable) {
  EXPECT_EXIT(
      {
        windowing::record_window_thread();  // the end sequence runs on the window thread
        const rt::EntryTable& entries = rt::entry_table();
        const Cell routine =
            Cell::of_pointer(reinterpret_cast<const void*>(&print_at_exit), rt::kSubroutine);
        Cell result{};
        entries.runtime_routine(3, &result, 1, &routine);
        entries.runtime_routine(3, &result, 1, &routine);
        entries.end_program(3);
      },
      testing::ExitedWithCode(3), "^at-exit 0\n$");
}

}  // namespace
