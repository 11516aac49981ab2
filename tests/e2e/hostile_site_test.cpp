// The real flows against a film site that attacks: answers as large as the program takes, a
// trickle of a byte a second, and a user who closes the window while workers still write.
// Nothing it does may freeze the window, grow the memory without bound or end the program
// with an error box.
#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/flows.h"
#include "app/ids.h"
#include "app/program.h"
#include "e2e/flow_driver.h"
#include "e2e/program_run.h"
#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/events.h"
#include "runtime/fatal.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/window_registry.h"
#include "support/temp_dir.h"
#include "webreq/internet_seams.h"
#include "webreq/loopback_server.h"

namespace {

using namespace app;
using namespace e2e;

// The most body the internet library takes for one request.
constexpr size_t kLargestBody = size_t{16} << 20;

// One result card in the shape the search page has: note, title address, name, cast; poster.
std::string card(int n) {
  const std::string id = std::to_string(n);
  return "<li><a class=\"fed-list-pics\" href=\"/vod/" + id + ".html\" data-original=\"/poster/" +
         id +
         ".jpg\"><span class=\"fed-list-remarks fed-font-xii fed-text-white fed-text-center\">"
         "HD</span></a><a class=\"fed-list-title fed-font-xiv fed-text-center fed-text-sm-left "
         "fed-visible fed-part-eone\" href=\"/vod/" +
         id + ".html\">Film " + id +
         "</a><span class=\"fed-list-desc fed-font-xii fed-visible fed-part-eone fed-text-muted "
         "fed-hide-xs fed-show-sm-block\">Cast " +
         id + "</span></li>";
}

std::string cards(int count) {
  std::string out;
  for (int n = 0; n < count; ++n) out += card(n);
  return out;
}

std::string title_tail(const std::string& id) {
  return "<script>var GvodUrls1 = \"Episode " + id + "$http://dl.example/" + id +
         ".mp4\";echoDown(GvodUrls1,0);</script>";
}

std::string path_of(const testsupport::ReceivedRequest& request) {
  const std::string& line = request.request_line;
  const size_t start = line.find(' ') + 1;
  return line.substr(start, line.find(' ', start) - start);
}

// Sends a head with a Content-Length of exactly `total`, then `first`, filler, and `last`.
void send_padded(testsupport::Exchange& exchange, const std::string& first, const std::string& last,
                 size_t total) {
  static const std::string filler(1 << 20, ' ');
  exchange.send("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                std::to_string(total) + "\r\nConnection: close\r\n\r\n");
  if (!exchange.send(first))
    return;
  size_t left = total - first.size() - last.size();
  while (left > 0) {
    const size_t n = std::min(left, filler.size());
    if (!exchange.send(std::string_view(filler).substr(0, n)))
      return;
    left -= n;
  }
  exchange.send(last);
}

long peak_resident_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return -1;
}

class HostileSite : public testing::Test {
 protected:
  void start_site(testsupport::LoopbackServer::Handler handler) {
    server_ = std::make_unique<testsupport::LoopbackServer>(std::move(handler));
    override_site_base_for_tests(server_->url(""));
    load_start_window();
  }
  void TearDown() override {
    close_windows();
    server_.reset();
  }
  void click_search() { rt::raise_unit_event(kStartWindow, start::kSearchButton, 0); }
  void click_result(int32_t row) {
    set_int(kStartWindow, start::kResultsList, kPropCurrentRow, row);
    rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
  }

  std::unique_ptr<testsupport::LoopbackServer> server_;
};

// Every answer as large as the library takes: a search page with more cards than a list keeps,
// title pages and posters of the largest size. Quick clicks abandon the details that are still
// on their way; the memory stays bounded and the last click's details are the ones shown.
TEST_F(HostileSite, LargestAnswersAndQuickClicksStayBounded) {
  const std::string search_cards = cards(1200);
  start_site([&search_cards](testsupport::Exchange& exchange) {
    const std::string path = path_of(exchange.request());
    if (path.rfind("/search.php", 0) == 0) {
      send_padded(exchange, search_cards, "", kLargestBody);
    } else if (path.rfind("/vod/", 0) == 0) {
      const std::string id = path.substr(5, path.find('.') - 5);
      send_padded(exchange, "<html>", title_tail(id), kLargestBody);
    } else {
      send_padded(exchange, "", "", kLargestBody);  // a poster that is no picture
    }
  });
  click_search();
  ASSERT_TRUE(pump_until(&search_ended, 60000));
  EXPECT_EQ(cell_text(kResults, 999, 0).view(), "1000");
  EXPECT_TRUE(cell_text(kResults, 1000, 0).empty()) << "a search fills at most 1000 rows";
  EXPECT_EQ(cell_text(kResults, 999, 5).view(), "/poster/999.jpg");

  for (int32_t row = 0; row < 9; ++row) {
    click_result(row);
    pump_for(30);
  }
  // From the last click on, no older worker writes: the fetching text is the newest one's.
  set_text(kStartWindow, start::kDownloadBox, kPropText, "");
  click_result(9);
  ASSERT_TRUE(pump_until([] {
    return get_text(kStartWindow, start::kDownloadBox, kPropText).view() ==
           "正在获取，请耐心等待......";
  }));
  click_search();
  ASSERT_TRUE(pump_until([] { return search_ended() && details_ended(); }, 60000));
  EXPECT_EQ(get_text(kStartWindow, start::kDownloadBox, kPropText).view(),
            "Episode 9  http://dl.example/9.mp4");
  pump_for(500);  // an older worker that would still write has had its chance
  EXPECT_EQ(get_text(kStartWindow, start::kDownloadBox, kPropText).view(),
            "Episode 9  http://dl.example/9.mp4");

  const long peak = peak_resident_kib();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizer's shadow memory (and quarantine, or history) come on top of the program's own.
  constexpr long kLimitKib = 1536 * 1024;
#else
  constexpr long kLimitKib = 512 * 1024;
#endif
  EXPECT_LT(peak, kLimitKib);
  std::printf("peak resident memory: %ld KiB\n", peak);
}

// A server that sends a byte a second: the search gives up and the button comes back.
TEST_F(HostileSite, ATrickleEndsTheSearch) {
  testsupport::InternetSeams seams;
  inet::Limits limits = seams.limits();
  limits.stall_seconds = 2;
  seams.set_limits(limits);
  start_site([](testsupport::Exchange& exchange) {
    exchange.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
    while (exchange.send("x")) {
      if (exchange.idle(std::chrono::seconds(1)))
        return;
    }
  });
  click_search();
  ASSERT_TRUE(pump_until(&search_ended, 40000));
  EXPECT_EQ(get_text(kStartWindow, start::kSearchStatusLabel, kPropText).view(),
            "查询失败，请重新尝试搜索......");
}

// --- Closing the start window while a worker still writes ---
//
// Run as the program runs, in a process of its own: the window is closed at the moment a
// worker's write is on its way to the window thread. The program must end as after any close:
// exit code 0, its at-exit routines run once, no error box.

// Holds a worker's page until the test lets it go.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(lock_);
    opened_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
  }
  void open() {
    std::lock_guard lock(lock_);
    open_ = true;
    opened_.notify_all();
  }
  bool reached() const { return reached_.load(); }
  void reach() { reached_ = true; }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
  std::atomic<bool> reached_ = false;
};

class ClosingTheStartWindow : public ProgramRun {};

TEST_F(ClosingTheStartWindow, DuringASearch) {
  EXPECT_EXIT(
      {
        // Nothing found: the worker's next write is the failure text over the list.
        const std::string page = "<html><body>no results</body></html>";
        Gate search_page;
        testsupport::LoopbackServer server([&](testsupport::Exchange& exchange) {
          search_page.reach();
          search_page.wait();
          exchange.send(testsupport::response("200 OK", page));
        });
        bool searching = false;
        run_program(server.url(""), [&] {
          if (!searching) {
            rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
            searching = true;
            return false;
          }
          if (!search_page.reached())
            return false;
          // The window goes first; then the page arrives and the worker's writes are on their
          // way to the window thread.
          close_start_window();
          search_page.open();
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          return true;
        });
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(recorded(record_file_), (std::vector<std::string>{"at-exit"}));
}

TEST_F(ClosingTheStartWindow, DuringADetailsFetch) {
  EXPECT_EXIT(
      {
        const std::string page = cards(3);
        Gate title_page;
        testsupport::LoopbackServer server([&](testsupport::Exchange& exchange) {
          const std::string path = path_of(exchange.request());
          if (path.rfind("/vod/", 0) == 0) {
            title_page.reach();
            title_page.wait();
            exchange.send(testsupport::response("200 OK", title_tail("0")));
          } else {
            exchange.send(testsupport::response("200 OK", page));
          }
        });
        int stage = 0;
        run_program(server.url(""), [&] {
          switch (stage) {
            case 0:
              rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
              stage = 1;
              return false;
            case 1:
              if (!search_ended() || cell_text(kResults, 0, 0).empty())
                return false;
              set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 0);
              rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
              stage = 2;
              return false;
            default:
              if (!title_page.reached())
                return false;
              // The window goes first; then the page arrives and the worker's write is on its
              // way to the window thread.
              close_start_window();
              title_page.open();
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              return true;
          }
        });
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(recorded(record_file_), (std::vector<std::string>{"at-exit"}));
}

}  // namespace
