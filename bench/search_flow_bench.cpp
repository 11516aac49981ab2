// The search flow end to end against the demo site on loopback with a 200-card page: from the
// click on the search button to the last cell written, next to fetching the same page with
// web_request and matching it with RegexObject on their own. Then the same again while a thread
// of the benchmark keeps one core busy. Ends with "RATIO search_flow" and
// "RATIO search_flow_busy". Offscreen.
// Run: search_flow_bench [rounds]
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/flows.h"
#include "app/ids.h"
#include "app/list_commands.h"
#include "app/program.h"
#include "app/site.h"
#include "bench/bench_support.h"
#include "bridges/regex_object.h"
#include "demo-site/film_site.h"
#include "runtime/events.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/windows.h"
#include "web/page_text.h"
#include "web/web_request.h"

namespace {

using bench::median;

using Clock = std::chrono::steady_clock;
using namespace app;

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The same page fetched, read and matched with the flow's own pattern, without the windows.
double fetch_and_match(const std::string& address, int32_t* cards) {
  const auto t = Clock::now();
  rt::Text headers;
  web::WebRequest request;
  request.address = address.c_str();
  request.returned_headers = &headers;
  const rt::Bytes body = web::web_request(request);
  const rt::Text page = web::page_text(body.view(), headers.view());
  bridges::RegexObject regex;
  regex.create(site::kCardPattern, page.c_str());
  *cards = regex.match_count();
  for (int32_t i = 1; i <= *cards; ++i) {
    for (const int group : {site::kCardNote, site::kCardName, site::kCardAddress, site::kCardCast,
                            site::kCardPoster}) {
      (void)regex.submatch_text(i, group);
    }
  }
  return ms_since(t);
}

// Notes the moment the flow is over, as the window thread makes the change that ends it: the
// last row's poster cell written or the search button enabled, whichever comes last. Waiting for
// the message loop to come round again would add its wake-up to the flow's time.
class FlowEnd : public QObject {
 public:
  FlowEnd(const rt::Cell& list, int32_t last_row) : list_(list), last_row_(last_row) {
    button_ = static_cast<QWidget*>(rt::unit_native_window(kStartWindow, start::kSearchButton));
    button_->installEventFilter(this);
    auto* widget = static_cast<QWidget*>(rt::unit_native_window(kStartWindow, start::kResultsList));
    auto* view = qobject_cast<QAbstractItemView*>(widget);
    if (!view)
      view = widget->findChild<QAbstractItemView*>();
    QObject::connect(view->model(), &QAbstractItemModel::dataChanged, this,
                     [this](const QModelIndex& from, const QModelIndex& to) {
                       if (from.row() <= last_row_ && to.row() >= last_row_)
                         check();
                     });
  }
  void reset() { ended_.reset(); }
  // The moment, once the flow is over.
  std::optional<Clock::time_point> ended() {
    check();
    return ended_;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == button_ && event->type() == QEvent::EnabledChange)
      check();
    return false;
  }

 private:
  void check() {
    if (!ended_ && button_->isEnabled() && !cell_text(list_, last_row_, 5).empty())
      ended_ = Clock::now();
  }
  rt::Cell list_;
  int32_t last_row_;
  QWidget* button_ = nullptr;
  std::optional<Clock::time_point> ended_;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  std::string error;
  auto site = demo_site::FilmSite::open({demo_site::default_data_dir(), {}}, error);
  if (!site) {
    std::fprintf(stderr, "demo site: %s\n", error.c_str());
    return 1;
  }
  const int port = site->start("127.0.0.1", 0);
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  override_site_base_for_tests(base);
  rt::install_program_info(program_info());
  rt::Cell none{};
  rt::entry_table().runtime_routine(6, &none, 0, nullptr);
  rt::load_start_window(kStartWindow);

  const char* keyword = "cards:200";
  const auto p = reinterpret_cast<uintptr_t>(keyword);
  rt::set_property(kStartWindow, start::kSearchBox, kPropText, -1, static_cast<uint32_t>(p),
                   static_cast<uint32_t>(p >> 32));
  const std::string address =
      base + site::kSearchPath + url_encoded(keyword, PlainBytes::kEncode, QueryCharset::kUtf8);
  const rt::Cell list{kStartWindow, start::kResultsList, kKindListView};

  int32_t cards = 0;
  (void)fetch_and_match(address, &cards);
  FlowEnd end(list, cards - 1);
  // Medians of the flow and of fetch + match alone, measured in turns.
  const auto measure = [&](const char* what) {
    std::vector<double> flow, alone;
    for (int i = 0; i < rounds; ++i) {
      alone.push_back(fetch_and_match(address, &cards));
      end.reset();
      const auto t = Clock::now();
      rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
      // The window thread waits for its messages as the program's message loop does: spinning
      // here would take a core from the worker.
      std::optional<Clock::time_point> ended;
      while (!(ended = end.ended()))
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      flow.push_back(std::chrono::duration<double, std::milli>(*ended - t).count());
      delete_all_rows(list);
    }
    std::printf(
        "200-card search%s: click to last cell %.1f ms, fetch + match alone %.1f ms, ratio %.2f"
        " (%d cards, median of %d)\n",
        what, median(flow), median(alone), median(flow) / median(alone), cards, rounds);
    return median(flow) / median(alone);
  };
  const double quiet = measure("");
  std::atomic<bool> stop = false;
  std::thread busy([&stop] {
    volatile uint64_t spin = 0;
    while (!stop.load(std::memory_order_relaxed)) spin = spin + 1;
  });
  const double busy_ratio = measure(", one core busy");
  stop = true;
  busy.join();
  std::printf("RATIO search_flow %.2f\nRATIO search_flow_busy %.2f\n", quiet, busy_ratio);
  site->stop();
  return 0;
}
