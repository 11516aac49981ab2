// Window timings, each measured in a child process of its own so that nothing is warm:
//   - start-up until the start window is shown, against a minimal Qt Widgets program that
//     shows one empty 678 x 505 window, and the resident memory of both once shown;
//   - a property set from a worker thread (cross-thread, synchronous): the median of 2000;
//   - filling a results list of 200 rows x 6 columns from a worker.
// Offscreen platform. Run: windows_bench [rounds]
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ids.h"
#include "app/list_commands.h"
#include "app/program.h"
#include "bench/bench_support.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/windows.h"

namespace {

using bench::median;

using Clock = std::chrono::steady_clock;

long rss_kib() {
  return bench::status_kib("VmRSS:");
}

struct Figures {
  double ms = 0;
  long rss = 0;
};

// Runs fn in a child; the child writes two numbers back through a pipe.
Figures in_child(Figures (*fn)()) {
  int fds[2];
  if (pipe(fds) != 0)
    return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Figures f = fn();
    if (write(fds[1], &f, sizeof f) != sizeof f)
      _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Figures f;
  if (read(fds[0], &f, sizeof f) != sizeof f)
    f = {};
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return f;
}

int g_argc = 1;
char g_arg0[] = "bench";
char* g_argv[] = {g_arg0, nullptr};

Figures minimal_qt() {
  const auto start = Clock::now();
  QApplication app(g_argc, g_argv);
  QWidget window;
  window.resize(678, 505);
  window.show();
  while (!window.isVisible()) QApplication::processEvents();
  QApplication::processEvents();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return {ms, rss_kib()};
}

Figures film_finder() {
  const auto start = Clock::now();
  rt::install_program_info(app::program_info());
  rt::Cell none{};
  rt::entry_table().runtime_routine(6, &none, 0, nullptr);
  rt::load_start_window(app::kStartWindow);
  QApplication::processEvents();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return {ms, rss_kib()};
}

void start_program() {
  rt::install_program_info(app::program_info());
  rt::Cell none{};
  rt::entry_table().runtime_routine(6, &none, 0, nullptr);
  rt::load_start_window(app::kStartWindow);
}

// Pumps the window thread until the worker is done.
template <typename Fn>
void on_worker(Fn fn) {
  std::atomic<bool> done = false;
  std::thread worker([&] {
    fn();
    done = true;
  });
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 1);
  worker.join();
}

Figures property_set_median() {
  start_program();
  std::vector<double> us;
  on_worker([&] {
    for (int i = 0; i < 2000; ++i) {
      const auto t = Clock::now();
      rt::set_property(app::kStartWindow, app::start::kSearchStatusLabel, app::kPropVisible, -1,
                       i & 1, 0);
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
  });
  std::nth_element(us.begin(), us.begin() + static_cast<long>(us.size() / 2), us.end());
  return {us[us.size() / 2], rss_kib()};
}

Figures fill_results() {
  start_program();
  const rt::Cell list{app::kStartWindow, app::start::kResultsList, app::kKindListView};
  double ms = 0;
  on_worker([&] {
    const auto t = Clock::now();
    for (int row = 0; row < 200; ++row) {
      const int32_t k = app::insert_row(list);
      for (int32_t column = 0; column < 6; ++column) {
        app::set_cell_text(list, k, column, "一段不太长的文字 text");
      }
    }
    ms = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
  });
  return {ms, rss_kib()};
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::vector<double> qt_ms, ff_ms, qt_rss, ff_rss, set_us, fill_ms;
  for (int i = 0; i < rounds; ++i) {
    const Figures q = in_child(&minimal_qt);
    const Figures f = in_child(&film_finder);
    qt_ms.push_back(q.ms);
    ff_ms.push_back(f.ms);
    qt_rss.push_back(static_cast<double>(q.rss));
    ff_rss.push_back(static_cast<double>(f.rss));
    set_us.push_back(in_child(&property_set_median).ms);
    fill_ms.push_back(in_child(&fill_results).ms);
  }
  std::printf("start-up to shown window   minimal Qt %.1f ms   Film Finder %.1f ms   ratio %.2f\n",
              median(qt_ms), median(ff_ms), median(ff_ms) / median(qt_ms));
  std::printf("resident memory, shown     minimal Qt %.0f KiB  Film Finder %.0f KiB  ratio %.2f\n",
              median(qt_rss), median(ff_rss), median(ff_rss) / median(qt_rss));
  std::printf("property set from a worker median %.1f us\n", median(set_us));
  std::printf("200 x 6 results from a worker %.1f ms\n", median(fill_ms));
  return 0;
}
