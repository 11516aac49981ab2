// The program run as it runs for a user, in a death test's process of its own: its message loop,
// its end through the at-exit routines, and a record file the test's parent reads afterwards
// (the at-exit routine, any error box, and whatever the run itself notes).
#pragma once

#include <gtest/gtest.h>

#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/flows.h"
#include "app/ids.h"
#include "app/program.h"
#include "e2e/flow_driver.h"
#include "platform/windowing/window_thread.h"
#include "runtime/fatal.h"
#include "runtime/runtime.h"
#include "runtime/window_registry.h"
#include "support/temp_dir.h"

namespace e2e {

inline std::string& record_file_name() {
  static std::string name;
  return name;
}

// One line appended to the record file; safe from any thread between the lines of others.
inline void record(const std::string& line) {
  std::ofstream(record_file_name(), std::ios::app) << line + "\n" << std::flush;
}

inline std::vector<std::string> recorded(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs the program against `site`; `step` is called on the window thread every millisecond once
// the start window is made, until it answers true. It may block the window thread, so that a
// worker's next write waits in line for it. Never returns: the program ends the process.
[[noreturn]] inline void run_program(const std::string& site, std::function<bool()> step) {
  rt::set_report_presenter([](const char*) { record("error box"); });
  app::override_site_base_for_tests(site);
  windowing::start_application();
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    rt::detail::WindowEntry* entry = rt::detail::registry().find(app::kStartWindow);
    if (!entry || !entry->initialised)
      return;
    rt::register_at_exit([](int32_t) { record("at-exit"); });  // after the program's own
    if (step())
      timer->stop();
  });
  timer->start(1);
  app::init_program();
  rt::end_program(0);
}

inline void close_start_window() {
  window_widget(app::kStartWindow)->close();
}

// A fixture whose record file the death test's child finds too: it is named in the
// environment, which the child inherits, and the child runs the fixture again.
class ProgramRun : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* inherited = getenv(kRecordVariable)) {
      record_file_ = inherited;
    } else {
      temp_.emplace();
      ASSERT_FALSE(temp_->path().empty());
      record_file_ = temp_->path() / "record.txt";
      setenv(kRecordVariable, record_file_.c_str(), 1);
    }
    record_file_name() = record_file_.string();
  }
  void TearDown() override {
    if (temp_)
      unsetenv(kRecordVariable);
  }

  std::vector<std::string> records() const { return recorded(record_file_); }

  std::optional<testsupport::TempDir> temp_;
  std::filesystem::path record_file_;

 private:
  static constexpr const char kRecordVariable[] = "FF_TEST_RUN_RECORD";
};

}  // namespace e2e
