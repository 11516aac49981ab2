#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "runtime/runtime.h"
#include "support/fatal_capture.h"
#include "support/temp_dir.h"

namespace {

// A table of its own, so each test starts with empty caches.
struct Table {
  std::vector<const char*> files;
  std::vector<const char*> names;
  rt::DllCommands commands;
  Table(std::initializer_list<std::pair<const char*, const char*>> entries) {
    for (auto [file, name] : entries) {
      files.push_back(file);
      names.push_back(name);
    }
    commands.prepare(static_cast<int32_t>(files.size()), files.data(), names.data(),
                     rt::program_directory());
  }
};

using Cosine = double(double);

// Resolves a one-entry table with reports captured, for the death tests.
void resolve_alone(const char* file, const char* name) {
  testsupport::capture_reports();
  const char* files[] = {file};
  const char* names[] = {name};
  rt::DllCommands commands;
  commands.prepare(1, files, names, rt::program_directory());
  commands.resolve(0);
}

TEST(DllCommands, ResolvesOnceAndCaches) {
  Table t{{"libm.so.6", "cos"}, {"libm.so.6", "sin"}};
  EXPECT_FALSE(t.commands.is_resolved(0));
  auto* cosine = reinterpret_cast<Cosine*>(t.commands.resolve(0));
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_TRUE(t.commands.is_resolved(0));
  EXPECT_EQ(t.commands.load_count(), 1);
  EXPECT_EQ(t.commands.resolve(0), reinterpret_cast<void*>(cosine));
  EXPECT_EQ(t.commands.load_count(), 1) << "a cached entry loads nothing";
  t.commands.resolve(1);
  EXPECT_EQ(t.commands.load_count(), 2) << "each entry keeps its own load";
  t.commands.release_all();
  EXPECT_FALSE(t.commands.is_resolved(0));
}

TEST(DllCommands, EmptyFileNameSearchesTheSystemLibraries) {
  // strlen is in the C library, the first of the list; the code-page functions only in the
  // program's own kernel stand-in further down.
  Table t{{"", "strlen"}, {"", "MultiByteToWideChar"}};
  using Strlen = size_t(const char*);
  EXPECT_EQ(reinterpret_cast<Strlen*>(t.commands.resolve(0))("four"), 4u);
  EXPECT_NE(t.commands.resolve(1), nullptr);
}

std::string file_of(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 && info.dli_fname ? info.dli_fname : "";
}

// A copy of the C math library as `name` in a folder of the test's own: a library no one else
// has loaded, whose functions sit at addresses of their own, so an address tells which file
// answered.
std::filesystem::path copy_math_library(const std::filesystem::path& folder, const char* name) {
  const std::filesystem::path copy = folder / name;
  std::filesystem::copy_file(file_of(dlsym(RTLD_DEFAULT, "cos")), copy);
  return copy;
}

TEST(DllCommands, ProgramDirectoryComesFirst) {
  // The platform's own search finds the kernel stand-in the test program was linked with; one
  // of the same name in the program directory must answer first.
  testsupport::TempDir folder;
  ASSERT_FALSE(folder.path().empty());
  const std::filesystem::path copy = copy_math_library(folder.path(), rt::kKernelLibrary);
  const char* files[] = {rt::kKernelLibrary};
  const char* names[] = {"cos"};
  rt::DllCommands commands;
  commands.prepare(1, files, names, folder.path().string());
  auto* cosine = reinterpret_cast<Cosine*>(commands.resolve(0));
  EXPECT_EQ(file_of(reinterpret_cast<void*>(cosine)), copy.string());
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

// Clearing the caches (the end sequence does) leaves every library mapped: a thread a library
// started may still be running in it, and an address handed out goes on working.
TEST(DllCommands, ReleasedLibrariesStayMapped) {
  testsupport::TempDir folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string copy = copy_math_library(folder.path(), "libcopied-math.so").string();
  const char* files[] = {copy.c_str()};
  const char* names[] = {"cos"};
  rt::DllCommands commands;
  commands.prepare(1, files, names, "");
  auto* cosine = reinterpret_cast<Cosine*>(commands.resolve(0));
  ASSERT_EQ(file_of(reinterpret_cast<void*>(cosine)), copy);
  commands.release_all();
  EXPECT_FALSE(commands.is_resolved(0));
  void* still = dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(still, nullptr) << "the library was unloaded";
  dlclose(still);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

TEST(DllCommands, ProgramTableReachesTheKernelStandIn) {
  using Mb2Wc = int(uint32_t, uint32_t, const char*, int, char16_t*, int);
  auto* convert = rt::dll_function<Mb2Wc>(rt::kImportMultiByteToWideChar);
  EXPECT_EQ(convert(65001, 0, "abc", -1, nullptr, 0), 4);  // three units and the terminator
}

TEST(DllCommandsDeathTest, MissingExportNamesLibraryAndFunction) {
  EXPECT_EXIT(resolve_alone("libm.so.6", "no_such_function"), testing::ExitedWithCode(255),
              testsupport::expected_report(
                  "无法找到指定DLL库文件“libm.so.6”中的输出命令“no_such_function”", 0));
}

TEST(DllCommandsDeathTest, MissingLibraryOrSystemExport) {
  EXPECT_EXIT(
      resolve_alone("libnot-there.so", "f"), testing::ExitedWithCode(255),
      testsupport::expected_report("无法找到指定DLL库文件“libnot-there.so”中的输出命令“f”", 0));
  EXPECT_EXIT(
      resolve_alone("", "NoSuchSystemFunction"), testing::ExitedWithCode(255),
      testsupport::expected_report("无法找到指定DLL库文件中的输出命令“NoSuchSystemFunction”", 0));
}

}  // namespace
