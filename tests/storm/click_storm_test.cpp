// A user who clicks everything, fast: random searches, result clicks, online play, episode
// clicks and the play list closed and opened again, fifty actions a second against the demo
// site with slow title and play pages, then the start window closed. The program must come
// through it: no crash, no error box, the window thread never held up for long, no deadlock, no
// start window left disabled, no leak (the sanitized builds check at the end), and the
// program's normal end.
//
// FF_CLICK_STORM_SECONDS changes the storm's length (60 s), FF_CLICK_STORM_SEED repeats the
// run of a seed the record names, FF_CLICK_STORM_SHOW prints the record of a run that passed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "app/ids.h"
#include "demo-site/film_site.h"
#include "e2e/flow_driver.h"
#include "e2e/program_run.h"

namespace {

using namespace app;
using namespace e2e;
using Clock = std::chrono::steady_clock;

constexpr int kActionMs = 20;  // fifty a second
// The window thread is held up when a timer due every 10 ms waits longer than this.
constexpr auto kLateTimer = std::chrono::milliseconds(200);
// With no timer at all for this long the window thread is taken for dead.
constexpr auto kDeadlock = std::chrono::seconds(15);

// What a user types: titles of the demo catalogue, single characters many titles share, an
// empty box, a title that does not exist. Program texts are code page 936.
constexpr const char* kKeywords[] = {"星河", "小", "夜", "的", "", "没有这样的片名", "Silver"};

int env_int(const char* name, int otherwise) {
  const char* value = getenv(name);
  return value && *value ? std::atoi(value) : otherwise;
}

long milliseconds(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

demo_site::FilmSite* g_site = nullptr;
void stop_site(int32_t) {
  if (g_site)
    g_site->stop();
}

// Everything the storm does and sees, on the window thread.
class Storm {
 public:
  Storm(int seconds, unsigned seed, const RecordingOpener& opener)
      : seconds_(seconds), random_(seed), opener_(opener) {
    record("seed " + std::to_string(seed));
  }

  // The storm starts now: its length and the first timer's wait count from here, not from
  // the start window's making.
  void begin() {
    started_ = last_beat_ = Clock::now();
    heartbeat_.store(started_.time_since_epoch().count());
  }

  // A timer due every 10 ms: how late it comes is how long the window thread was held up.
  void beat() {
    const Clock::time_point now = Clock::now();
    const Clock::duration gap = now - last_beat_;
    last_beat_ = now;
    heartbeat_.store(now.time_since_epoch().count());
    longest_gap_ = std::max(longest_gap_, gap);
    if (gap > kLateTimer && late_reports_ < 5) {
      ++late_reports_;
      record("late timer " + std::to_string(milliseconds(gap)) + " ms after " + last_action_);
    }
  }

  // One action; false once the storm is over and the start window is on its way out.
  bool act() {
    observe();
    if (Clock::now() - started_ > std::chrono::seconds(seconds_))
      return finish();
    if (rt::window_loaded(kPlayListWindow)) {
      act_on_play_list();
    } else {
      act_on_start_window();
    }
    return true;
  }

  const std::atomic<Clock::rep>& heartbeat() const { return heartbeat_; }

 private:
  int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

  // A row of the list, or one just outside it (none selected, one past the end): mostly rows
  // that are there, so that clicks reach the flows behind them.
  int pick_row(const rt::Cell& list) {
    int rows = 0;
    while (rows < 100 && !cell_text(list, rows, 0).empty()) ++rows;
    return pick(rows + 2) - 1;
  }

  void act_on_start_window() {
    const int roll = pick(100);
    if (roll < 8) {
      last_action_ = "typing";
      set_text(kStartWindow, start::kSearchBox, kPropText,
               kKeywords[pick(static_cast<int>(std::size(kKeywords)))]);
    } else if (roll < 16) {
      // A disabled button takes no click, and Enter is ignored meanwhile: a user may try both.
      last_action_ = "search";
      if (get_int(kStartWindow, start::kSearchButton, kPropDisabled) == 0) {
        ++searches_;
        rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
      }
    } else if (roll < 20) {
      last_action_ = "enter in the search box";
      press_key(kStartWindow, start::kSearchBox, Qt::Key_Return);
    } else if (roll < 50) {
      last_action_ = "result click";
      set_int(kStartWindow, start::kResultsList, kPropCurrentRow, pick_row(kResults));
      rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
    } else if (roll < 55) {
      last_action_ = "enter on a result";
      press_key(kStartWindow, start::kResultsList, Qt::Key_Return);
    } else if (roll < 65) {
      last_action_ = "online play";
      if (get_int(kStartWindow, start::kOnlinePlayButton, kPropDisabled) != 0)
        return;
      ++play_lists_;
      // The play list is modal: its loop runs inside this click, so the click is made from a
      // call of its own and the storm goes on inside that loop.
      QTimer::singleShot(0,
                         [] { rt::raise_unit_event(kStartWindow, start::kOnlinePlayButton, 0); });
    } else {
      last_action_ = "nothing";
    }
  }

  void act_on_play_list() {
    const int roll = pick(100);
    if (roll < 40) {
      last_action_ = "episode click";
      set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, pick_row(kEpisodes));
      rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
    } else if (roll < 45) {
      last_action_ = "enter on an episode";
      press_key(kPlayListWindow, play_list::kEpisodeList, Qt::Key_Return);
    } else if (roll < 49) {
      last_action_ = "closing the play list";
      window_widget(kPlayListWindow)->close();
    } else {
      last_action_ = "nothing";
    }
  }

  // Counts what the user got to see, so that the parent knows the storm reached every flow.
  void observe() {
    if (!rt::window_loaded(kStartWindow))
      return;
    // With no play list in front of it, the start window takes input again at once.
    QWidget* start_window = window_widget(kStartWindow);
    if (rt::window_loaded(kPlayListWindow) || !start_window || start_window->isEnabled()) {
      takes_input_since_ = Clock::now();
    } else if (!disabled_reported_ && Clock::now() - takes_input_since_ > kLateTimer) {
      disabled_reported_ = true;
      record("start window disabled with no play list, after " + last_action_);
    }
    if (!cell_text(kResults, 0, 0).empty())
      rows_seen_ = true;
    if (details_ended() && get_text(kStartWindow, start::kDownloadBox, kPropText).view() !=
                               "网页返回为空，请重新尝试单击获取......") {
      details_seen_ = true;
    }
    if (rt::window_loaded(kPlayListWindow) && !cell_text(kEpisodes, 0, 0).empty())
      episodes_seen_ = true;
  }

  bool finish() {
    if (rt::window_loaded(kPlayListWindow)) {
      last_action_ = "closing the play list at the end";
      window_widget(kPlayListWindow)->close();
      return true;  // the start window next time, once the modal loop has ended
    }
    record("searches " + std::to_string(searches_));
    record("play lists " + std::to_string(play_lists_));
    record(std::string("rows seen ") + (rows_seen_ ? "yes" : "no"));
    record(std::string("details seen ") + (details_seen_ ? "yes" : "no"));
    record(std::string("episodes seen ") + (episodes_seen_ ? "yes" : "no"));
    record("addresses opened " + std::to_string(opener_.opened().size()));
    record("longest gap " + std::to_string(milliseconds(longest_gap_)) + " ms");
    last_action_ = "closing the start window";
    close_start_window();
    return false;
  }

  const int seconds_;
  std::mt19937 random_;
  const RecordingOpener& opener_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point last_beat_ = Clock::now();
  Clock::duration longest_gap_{};
  std::atomic<Clock::rep> heartbeat_{Clock::now().time_since_epoch().count()};
  int late_reports_ = 0;
  std::string last_action_ = "start";
  int searches_ = 0;
  int play_lists_ = 0;
  bool rows_seen_ = false;
  bool details_seen_ = false;
  bool episodes_seen_ = false;
  Clock::time_point takes_input_since_ = Clock::now();
  bool disabled_reported_ = false;
};

// Ends the process when the window thread stops beating: a deadlock fails the test instead of
// hanging it.
void watch(const Storm& storm) {
  std::thread([&storm] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      const Clock::time_point last{Clock::duration(storm.heartbeat().load())};
      if (Clock::now() - last > kDeadlock) {
        record("deadlock: no timer for " + std::to_string(milliseconds(Clock::now() - last)) +
               " ms");
        std::_Exit(3);
      }
    }
  }).detach();
}

// The program under the storm, in the death test's process.
[[noreturn]] void run_storm(int seconds) {
  RecordingOpener opener;
  std::string error;
  demo_site::SiteOptions options{demo_site::default_data_dir(), std::chrono::milliseconds(150),
                                 demo_site::PageShape::live};
  std::unique_ptr<demo_site::FilmSite> site = demo_site::FilmSite::open(options, error);
  if (!site || site->start("127.0.0.1", 0) < 0) {
    record("no demo site: " + error);
    std::_Exit(4);
  }
  g_site = site.get();
  const auto seed = static_cast<unsigned>(
      env_int("FF_CLICK_STORM_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
  auto* storm = new Storm(seconds, seed, opener);
  bool started = false;
  run_program("http://127.0.0.1:" + std::to_string(site->port()), [=]() mutable {
    if (started)
      return true;
    started = true;
    rt::register_at_exit(&stop_site);
    storm->begin();
    auto* beat = new QTimer;
    beat->setTimerType(Qt::PreciseTimer);
    QObject::connect(beat, &QTimer::timeout, [storm] { storm->beat(); });
    beat->start(10);
    auto* actions = new QTimer;
    actions->setTimerType(Qt::PreciseTimer);
    QObject::connect(actions, &QTimer::timeout, [storm, actions] {
      if (!storm->act())
        actions->stop();
    });
    actions->start(kActionMs);
    watch(*storm);
    return true;
  });
}

class ClickStorm : public ProgramRun {};

TEST_F(ClickStorm, FiftyActionsASecondThenTheWindowCloses) {
  const int seconds = env_int("FF_CLICK_STORM_SECONDS", 60);
  EXPECT_EXIT(run_storm(seconds), testing::ExitedWithCode(0), "");
  const std::vector<std::string> lines = records();
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  SCOPED_TRACE(all);
  if (getenv("FF_CLICK_STORM_SHOW"))
    std::cout << all;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "at-exit");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "at-exit"), 1);
  for (const char* bad : {"error box", "late timer", "deadlock", "start window disabled"}) {
    EXPECT_EQ(all.find(bad), std::string::npos) << bad;
  }
  // Every flow was reached, or the storm proved little.
  for (const char* seen : {"rows seen yes", "details seen yes", "episodes seen yes"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), seen), lines.end()) << seen;
  }
  const std::string opened = "addresses opened ";
  const auto line = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::string& l) { return l.rfind(opened, 0) == 0; });
  ASSERT_NE(line, lines.end());
  EXPECT_GT(std::atoi(line->c_str() + opened.size()), 0) << "no episode reached the player";
}

}  // namespace
