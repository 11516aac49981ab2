#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <thread>

#include "platform/kernel/codepage.h"
#include "platform/windowing/window_thread.h"
#include "runtime/fatal.h"
#include "runtime/runtime.h"
#include "support/fatal_capture.h"

namespace {

using testsupport::expected_report;

TEST(FatalReport, Wording) {
  EXPECT_EQ(rt::build_error_report(rt::numbered_message(4), 4),
            "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n");
  EXPECT_EQ(rt::build_error_report("", 0), "运行时出错!\r\n\r\n");
  EXPECT_EQ(rt::build_error_report("x", 0), "运行时出错!\r\n\r\n错误信息：x\r\n");
  EXPECT_EQ(rt::build_error_report("", 11), "运行时出错!\r\n\r\n错误代码：11\r\n\r\n");
  EXPECT_STREQ(rt::numbered_message(1), "数组成员引用下标超出定义范围");
  EXPECT_STREQ(rt::numbered_message(11), "所提供参数的数据类型不符合要求");
  EXPECT_EQ(rt::numbered_message(0), nullptr);
  EXPECT_EQ(rt::numbered_message(12), nullptr);
}

void print_index(int32_t index) {
  std::fprintf(stderr, "at-exit %d\n", index);
}

TEST(FatalDeathTest, NumberedErrorEndsWithMinusOneAndSkipsAtExit) {
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        windowing::record_window_thread();
        rt::register_at_exit(&print_index);
        rt::fatal_error_by_number(4);
      },
      testing::ExitedWithCode(255), expected_report(rt::numbered_message(4), 4) + "\n$");
}

TEST(FatalDeathTest, OutOfMemoryNamesTheByteCount) {
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::allocate(size_t{1} << 60);
      },
      testing::ExitedWithCode(255), expected_report("分配 1152921504606846976 字节内存失败!", 0));
}

int32_t g_hook_code = -1;
int32_t handled_hook(int32_t code, const char* text) {
  std::fprintf(stderr, "hook %d %s suppressed=%d\n", code, text, rt::event_suppression_count());
  return 1;
}

TEST(FatalDeathTest, HookThatHandlesTheErrorSkipsTheReport) {
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::set_error_hook(&handled_hook);
        rt::fatal_error("boom", 0);
      },
      testing::ExitedWithCode(255), "^hook 0 boom suppressed=1\n$");
  (void)g_hook_code;
}

int32_t declining_hook(int32_t code, const char*) {
  std::fprintf(stderr, "hook %d\n", code);
  return 0;
}

TEST(FatalDeathTest, HookThatDeclinesLeavesTheReport) {
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::set_error_hook(&declining_hook);
        rt::fatal_error_by_number(2);
      },
      testing::ExitedWithCode(255), "hook 2\n" + expected_report(rt::numbered_message(2), 2));
}

TEST(EndDeathTest, NormalEndRunsAtExitOnceWithIndexZero) {
  EXPECT_EXIT(
      {
        windowing::record_window_thread();
        rt::register_at_exit(&print_index);
        rt::register_at_exit(&print_index);  // not added twice
        rt::end_program(0);
      },
      testing::ExitedWithCode(0), "^at-exit 0\n$");
}

void report_thread(int32_t index) {
  std::fprintf(stderr, "at-exit %d on window thread: %d\n", index, windowing::on_window_thread());
}

TEST(EndDeathTest, EndFromAWorkerIsCarriedToTheWindowThread) {
  EXPECT_EXIT(
      {
        windowing::start_application();
        rt::register_at_exit(&report_thread);
        std::thread([] { rt::end_program(7); }).detach();
        QApplication::exec();
      },
      testing::ExitedWithCode(7), "at-exit 0 on window thread: 1\n$");
}

// The real box: raised on a worker, shown modally by the window thread, saved as a picture and
// dismissed. The picture lands next to the test program for a person to look at.
TEST(FatalDeathTest, ReportBoxFromAWorkerThread) {
  const std::string shot = rt::program_directory() + "/screenshots/fatal_error_box.png";
  std::filesystem::create_directories(rt::program_directory() + "/screenshots");
  EXPECT_EXIT(
      {
        windowing::start_application();
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [shot] {
          auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
          if (!box)
            return;
          std::fprintf(
              stderr, "caption=%s icon=%d\ntext=%s\n",
              testsupport::hex(kernel::utf16_to_local(box->windowTitle().toStdU16String())).c_str(),
              static_cast<int>(box->icon()),
              testsupport::hex(kernel::utf16_to_local(box->text().toStdU16String())).c_str());
          box->grab().save(QString::fromStdString(shot));
          box->accept();
        });
        poll->start(20);
        std::thread([] { rt::fatal_error_by_number(1); }).detach();
        QApplication::exec();
      },
      testing::ExitedWithCode(255),
      "caption=" + testsupport::hex("错误") +
          " icon=3\ntext=" + testsupport::hex(rt::build_error_report(rt::numbered_message(1), 1)));
  EXPECT_TRUE(std::filesystem::exists(shot));
}

}  // namespace
