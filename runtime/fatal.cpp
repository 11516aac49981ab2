#include "runtime/fatal.h"

#include <atomic>
#include <csignal>
#include <fstream>
#include <string>

#include "platform/windowing/message_box.h"
#include "runtime/runtime.h"

namespace rt {
namespace {

constexpr const char* kNumberedMessages[] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

std::atomic<ErrorHook> g_hook{nullptr};
std::atomic<bool> g_hook_running{false};

void show_in_box(const char* report) {
  windowing::show_error_box("错误", report);
}
std::atomic<ReportPresenter> g_presenter{&show_in_box};

// A trap with no debugger attached would kill the process before the end sequence runs.
bool debugger_attached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0)
      return std::stoi(line.substr(10)) != 0;
  }
  return false;
}

}  // namespace

const char* numbered_message(int32_t n) {
  constexpr auto count = static_cast<int32_t>(std::size(kNumberedMessages));
  return n >= 1 && n <= count ? kNumberedMessages[n - 1] : nullptr;
}

std::string build_error_report(std::string_view text, int32_t code) {
  std::string report = "运行时出错!\r\n\r\n";
  if (code != 0) {
    report += "错误代码：";
    report += std::to_string(code);
    report += "\r\n\r\n";
  }
  if (!text.empty()) {
    report += "错误信息：";
    report += text;
    report += "\r\n";
  }
  return report;
}

void set_error_hook(ErrorHook hook) {
  g_hook.store(hook);
}
void set_report_presenter(ReportPresenter presenter) {
  g_presenter.store(presenter ? presenter : &show_in_box);
}

void fatal_error(const char* text, int32_t code) {
  // From here on no event reaches a handler; the counter never goes down again.
  suppress_events();
  bool handled = false;
  ErrorHook hook = g_hook.load();
  if (hook && !g_hook_running.exchange(true)) {
    handled = hook(code, text ? text : "") != 0;
    g_hook_running.store(false);
  }
  if (!handled) {
    const std::string report = build_error_report(text ? text : "", code);
    g_presenter.load()(report.c_str());
  }
  if (run_mode() == 2 && debugger_attached())
    std::raise(SIGTRAP);  // stop in the debugger
  clear_at_exit_routines();
  end_program(-1);
}

void fatal_error_by_number(int32_t n) {
  const char* message = numbered_message(n);
  fatal_error(message ? message : "", n);
}

}  // namespace rt
