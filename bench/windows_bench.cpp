// Window timings, each measured in a child process of its own so that nothing is warm:
//   - start-up until the start window is shown, against a plain Qt Widgets program that builds
//     the same start window by hand (the same widgets at the same places, the same captions,
//     list columns and picture, the application's font), and the resident memory of both once
//     shown; a bare empty window is timed too, for scale;
//   - a property set from a worker thread (cross-thread, synchronous): the median of 2000;
//   - filling a results list of 200 rows x 6 columns from a worker.
// Ends with "RATIO startup" and "RATIO rss" against the plain program. Offscreen platform.
// Run: windows_bench [rounds]
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTextEdit>
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

// A bare window with nothing in it, for scale.
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

QString text(const char16_t* utf16) {
  return QString::fromUtf16(utf16);
}

template <typename W>
W* placed(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

// The start window as a plain Qt program writes it: every widget the program's start window
// shows, where it shows it, with its texts, the list's columns and the placeholder poster.
Figures plain_start_window() {
  const auto start = Clock::now();
  QApplication app(g_argc, g_argv);
  QWidget window;
  window.setWindowTitle(text(u"影视资源搜索工具 V1.1"));
  window.resize(678, 505);

  auto* model = new QStandardItemModel(0, 6, &window);
  const char16_t* columns[] = {u"序号", u"集数(清晰度)", u"名称", u"地址", u"主演", u"图片地址"};
  const int widths[] = {50, 150, 180, 0, 279, 0};
  for (int c = 0; c < 6; ++c) model->setHeaderData(c, Qt::Horizontal, text(columns[c]));
  auto* list = placed(new QTableView(&window), 0, 8, 664, 192);
  list->setModel(model);
  list->verticalHeader()->hide();
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int c = 0; c < 6; ++c) {
    if (widths[c] == 0)
      list->setColumnHidden(c, true);
    else
      list->setColumnWidth(c, widths[c]);
  }

  placed(new QPushButton(text(u"搜索"), &window), 7, 208, 88, 32);
  auto* keyword = placed(new QLineEdit(text(u"苏念"), &window), 104, 208, 112, 32);
  keyword->setAlignment(Qt::AlignCenter);
  QPalette colours = keyword->palette();
  colours.setColor(QPalette::Text, QColor(0x58, 0x30, 0xE0));
  colours.setColor(QPalette::Base, Qt::white);
  keyword->setPalette(colours);
  placed(new QPushButton(text(u"在线播放"), &window), 224, 208, 88, 32)->setEnabled(false);
  placed(new QLabel(text(u"切勿商业化使用，本软件完全免费。"), &window), 328, 208, 336, 24);
  placed(new QLabel(&window), 208, 88, 192, 32)->hide();

  auto* downloads = placed(new QGroupBox(text(u"下载地址"), &window), 1, 241, 495, 231);
  auto* box = placed(new QTextEdit(downloads), 7, 17, 480, 206);
  box->setEnabled(false);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* pictures = placed(new QGroupBox(text(u"图片框"), &window), 496, 240, 171, 232);
  auto* poster = placed(new QLabel(pictures), 4, 16, 163, 211);
  poster->setScaledContents(true);
  poster->setPixmap(QPixmap(QString::fromLocal8Bit(FF_POSTER_PLACEHOLDER)));
  placed(new QLabel(poster), 4, 97, 152, 32);

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
  std::vector<double> bare_ms, qt_ms, ff_ms, bare_rss, qt_rss, ff_rss, set_us, fill_ms;
  for (int i = 0; i < rounds; ++i) {
    const Figures b = in_child(&minimal_qt);
    const Figures q = in_child(&plain_start_window);
    const Figures f = in_child(&film_finder);
    bare_ms.push_back(b.ms);
    qt_ms.push_back(q.ms);
    ff_ms.push_back(f.ms);
    bare_rss.push_back(static_cast<double>(b.rss));
    qt_rss.push_back(static_cast<double>(q.rss));
    ff_rss.push_back(static_cast<double>(f.rss));
    set_us.push_back(in_child(&property_set_median).ms);
    fill_ms.push_back(in_child(&fill_results).ms);
  }
  std::printf(
      "start-up to shown window   empty window %.1f ms   plain Qt start window %.1f ms"
      "   Film Finder %.1f ms\n",
      median(bare_ms), median(qt_ms), median(ff_ms));
  std::printf(
      "resident memory, shown     empty window %.0f KiB  plain Qt start window %.0f KiB"
      "  Film Finder %.0f KiB\n",
      median(bare_rss), median(qt_rss), median(ff_rss));
  std::printf("property set from a worker median %.1f us\n", median(set_us));
  std::printf("200 x 6 results from a worker %.1f ms\n", median(fill_ms));
  std::printf("RATIO startup %.2f\nRATIO rss %.2f\n", median(ff_ms) / median(qt_ms),
              median(ff_rss) / median(qt_rss));
  return 0;
}
