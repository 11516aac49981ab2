// The program's two windows as the templates describe them, loaded through the real runtime
// and the real unit kinds.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/ids.h"
#include "app/list_commands.h"
#include "app/program.h"
#include "app/template_data.h"
#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"
#include "units/picture_loader.h"
#include "units/property_data.h"

namespace {

using namespace app;

void start_once() {
  static bool started = false;
  if (started)
    return;
  started = true;
  rt::install_program_info(program_info());
  rt::Cell none{};
  rt::entry_table().runtime_routine(6, &none, 0, nullptr);
}

int32_t get_int(uint32_t window, uint32_t unit, int32_t index) {
  return static_cast<int32_t>(rt::get_property(window, unit, index, -1));
}
rt::Text get_text(uint32_t window, uint32_t unit, int32_t index) {
  return rt::Text::adopt(reinterpret_cast<char*>(rt::get_property(window, unit, index, -1)));
}
rt::Bytes get_bytes(uint32_t window, uint32_t unit, int32_t index) {
  return rt::Bytes::adopt(reinterpret_cast<uint8_t*>(rt::get_property(window, unit, index, -1)));
}

void save_screenshot(uint32_t window, const char* name) {
  // Pictures decode off the window thread: the picture is what a user sees a moment later.
  QElapsedTimer clock;
  clock.start();
  while (units::pictures_pending() && clock.elapsed() < 5000) QApplication::processEvents();
  QApplication::processEvents();
  const std::string dir = rt::program_directory() + "/screenshots";
  std::filesystem::create_directories(dir);
  auto* widget = static_cast<QWidget*>(rt::unit_native_window(window, 0));
  ASSERT_NE(widget, nullptr);
  EXPECT_TRUE(widget->grab().save(QString::fromStdString(dir + "/" + name)));
}

// The routine a window's template binds to a unit's event, read from its slot in the routine
// table as the core reads it; null without a binding.
rt::EventHandler bound_routine(uint32_t window, uint32_t unit, int32_t event) {
  rt::detail::WindowEntry* w = rt::detail::registry().find(window);
  const int32_t i = w ? w->working.find(unit) : -1;
  if (i < 0)
    return nullptr;
  const auto record = rt::decode_unit_record(w->working.record(static_cast<uint32_t>(i)), false);
  if (!record)
    return nullptr;
  for (const rt::EventBinding& b : record->events) {
    if (b.event != event)
      continue;
    const void* slot = rt::detail::handler_address(b.handler);
    if (!slot)
      return nullptr;
    rt::EventHandler routine;
    std::memcpy(&routine, slot, sizeof routine);
    return routine;
  }
  return nullptr;
}

class AppWindows : public testing::Test {
 protected:
  void SetUp() override { start_once(); }
  void TearDown() override {
    for (uint32_t id : {kPlayListWindow, kStartWindow}) {
      if (rt::window_loaded(id))
        windowing::destroy(rt::unit_native_window(id, 0));
    }
    rt::detail::loop_state().quit_posted = false;
  }
};

TEST_F(AppWindows, TemplatesHoldBothWindowsWithEveryBindingRewritten) {
  const auto windows = rt::decode_templates({kTemplateData, kTemplateLength});
  ASSERT_TRUE(windows);
  ASSERT_EQ(windows->size(), 2u);
  EXPECT_EQ((*windows)[0].id, kStartWindow);
  EXPECT_EQ((*windows)[0].units.count(), 12u);
  EXPECT_EQ((*windows)[1].id, kPlayListWindow);
  EXPECT_EQ((*windows)[1].units.count(), 4u);
  // In the registry each binding names the slot of the routine the template names.
  struct Binding {
    uint32_t window, unit;
    int32_t event;
    rt::EventHandler routine;
  };
  const Binding expected[] = {
      {kStartWindow, kOwnUnit, 0, &on_start_window_created},
      {kStartWindow, kOwnUnit, 4, &on_start_window_resized},
      {kStartWindow, start::kSearchButton, 0, &on_search_click},
      {kStartWindow, start::kSearchBox, 1, &on_search_enter},
      {kStartWindow, start::kOnlinePlayButton, 0, &on_online_play_click},
      {kStartWindow, start::kResultsList, 4, &on_result_click},
      {kPlayListWindow, kOwnUnit, 0, &on_play_list_created},
      {kPlayListWindow, kOwnUnit, 2, &on_play_list_closing},
      {kPlayListWindow, play_list::kEpisodeList, 4, &on_episode_click},
  };
  for (const Binding& b : expected) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << b.window << " " << b.unit << std::dec << " event " << b.event);
    EXPECT_EQ(bound_routine(b.window, b.unit, b.event), b.routine);
  }
  int bindings = 0;
  for (uint32_t id : {kStartWindow, kPlayListWindow}) {
    rt::detail::WindowEntry* w = rt::detail::registry().find(id);
    ASSERT_NE(w, nullptr);
    for (uint32_t i = 0; i < w->working.count(); ++i) {
      auto r = rt::decode_unit_record(w->working.record(i), false);
      ASSERT_TRUE(r);
      bindings += static_cast<int>(r->events.size());
    }
  }
  EXPECT_EQ(bindings, 9) << "no binding beyond those";
}

struct UnitExpectation {
  uint32_t id;
  int left, top, width, height;
  bool visible, disabled;
  const char* text;  // property 8 or the button caption (10); null: not checked
};

TEST_F(AppWindows, StartWindowAsTheTemplateDescribesIt) {
  rt::load_start_window(kStartWindow);
  save_screenshot(kStartWindow, "start_window.png");
  const UnitExpectation units_expected[] = {
      {start::kOnlinePlayButton, 224, 208, 88, 32, true, true, nullptr},
      {start::kNoticeLabel, 328, 208, 336, 24, true, false, "切勿商业化使用，本软件完全免费。"},
      {start::kPosterStatusLabel, 4, 97, 152, 32, true, false, ""},
      {start::kSearchStatusLabel, 208, 88, 192, 32, false, false, ""},
      {start::kDownloadBox, 7, 17, 480, 206, true, true, ""},
      {start::kPoster, 4, 16, 163, 211, true, false, nullptr},
      {start::kPosterFrame, 496, 240, 171, 232, true, false, "图片框"},
      {start::kDownloadFrame, 1, 241, 495, 231, true, false, "下载地址"},
      {start::kSearchBox, 104, 208, 112, 32, true, false, nullptr},
      {start::kSearchButton, 7, 208, 88, 32, true, false, nullptr},
      {start::kResultsList, 0, 8, 664, 192, true, false, nullptr},
  };
  for (const UnitExpectation& u : units_expected) {
    SCOPED_TRACE(testing::Message() << std::hex << u.id);
    EXPECT_EQ(get_int(kStartWindow, u.id, 0), u.left);
    EXPECT_EQ(get_int(kStartWindow, u.id, 1), u.top);
    EXPECT_EQ(get_int(kStartWindow, u.id, 2), u.width);
    EXPECT_EQ(get_int(kStartWindow, u.id, 3), u.height);
    EXPECT_EQ(get_int(kStartWindow, u.id, kPropVisible), u.visible ? 1 : 0);
    EXPECT_EQ(get_int(kStartWindow, u.id, kPropDisabled), u.disabled ? 1 : 0);
    if (u.text) {
      EXPECT_EQ(get_text(kStartWindow, u.id, kPropText).view(), u.text);
    }
  }
  EXPECT_EQ(
      get_text(kStartWindow, start::kOnlinePlayButton, units::button_property::kCaption).view(),
      "在线播放");
  EXPECT_EQ(get_text(kStartWindow, start::kSearchButton, units::button_property::kCaption).view(),
            "搜索");
  EXPECT_FALSE(get_text(kStartWindow, start::kSearchBox, kPropText).empty());
  const rt::Text caption = get_text(kStartWindow, kOwnUnit, kPropText);
  EXPECT_TRUE(caption.view().ends_with(" V1.1")) << caption.c_str();
  EXPECT_EQ(get_int(kStartWindow, kOwnUnit, 2), 678);
  EXPECT_EQ(get_int(kStartWindow, kOwnUnit, kPropAlwaysOnTop), 0);
  EXPECT_EQ(get_int(kStartWindow, start::kResultsList, kPropCurrentRow), -1);
  EXPECT_GT(get_bytes(kStartWindow, start::kPoster, kPropPicture).size(), 1000u)
      << "the placeholder";

  const rt::Bytes columns =
      get_bytes(kStartWindow, start::kResultsList, units::list_property::kColumns);
  const auto decoded = units::decode_columns(columns.view());
  ASSERT_TRUE(decoded);
  const std::vector<std::pair<std::string, int>> expected = {{"序号", 50},  {"集数(清晰度)", 150},
                                                             {"名称", 180}, {"地址", 0},
                                                             {"主演", 279}, {"图片地址", 0}};
  ASSERT_EQ(decoded->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ((*decoded)[i].title, expected[i].first);
    EXPECT_EQ((*decoded)[i].width, expected[i].second);
  }
}

TEST_F(AppWindows, PlayListOpensModallyOverAHiddenStartWindow) {
  rt::load_start_window(kStartWindow);
  rt::set_property(kStartWindow, start::kOnlinePlayButton, kPropDisabled, -1, 0, 0);
  auto* start = static_cast<QWidget*>(rt::unit_native_window(kStartWindow, 0));
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    rt::detail::WindowEntry* entry = rt::detail::registry().find(kPlayListWindow);
    if (seen || !entry || !entry->initialised)
      return;  // still loading
    seen = true;
    EXPECT_FALSE(start->isVisible()) << "hidden while the play list is open";
    EXPECT_FALSE(start->isEnabled()) << "and disabled by the modal window";
    EXPECT_EQ(get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop), 1);
    EXPECT_EQ(get_text(kPlayListWindow, kOwnUnit, kPropText).view(), "播放列表");
    EXPECT_EQ(get_text(kPlayListWindow, play_list::kFrame, kPropText).view(),
              "在线播放（单击所选集数）");
    EXPECT_EQ(get_int(kPlayListWindow, play_list::kEpisodeList, 0), 6);
    EXPECT_EQ(get_int(kPlayListWindow, play_list::kEpisodeList, 3), 337);
    const rt::Bytes columns =
        get_bytes(kPlayListWindow, play_list::kEpisodeList, units::list_property::kColumns);
    const auto decoded = units::decode_columns(columns.view());
    EXPECT_TRUE(decoded && decoded->size() == 4 && (*decoded)[1].title == "集数" &&
                (*decoded)[1].width == 105 && (*decoded)[3].width == 0);
    save_screenshot(kPlayListWindow, "play_list_window.png");
    static_cast<QWidget*>(rt::unit_native_window(kPlayListWindow, 0))->close();
  });
  poll.start(5);
  // The online-play button's handler loads the window modally and returns once it is closed.
  rt::raise_unit_event(kStartWindow, start::kOnlinePlayButton, 0);
  EXPECT_TRUE(seen);
  EXPECT_FALSE(rt::window_loaded(kPlayListWindow));
  EXPECT_TRUE(start->isVisible());
  EXPECT_TRUE(start->isEnabled());
  EXPECT_EQ(get_int(kStartWindow, start::kOnlinePlayButton, kPropDisabled), 1);
}

TEST_F(AppWindows, ResultsListFromAWorker) {
  rt::load_start_window(kStartWindow);
  const rt::Cell list{kStartWindow, start::kResultsList, kKindListView};
  std::atomic<bool> done = false;
  std::thread worker([&] {
    for (int row = 0; row < 3; ++row) {
      const int32_t k = app::insert_row(list);
      app::set_cell_text(list, k, 0, std::to_string(k + 1).c_str());
      app::set_cell_text(list, k, 2, "名称");
    }
    done = true;
  });
  while (!done) QApplication::processEvents();
  worker.join();
  EXPECT_EQ(app::cell_text(list, 2, 0).view(), "3");
  EXPECT_EQ(app::cell_text(list, 1, 2).view(), "名称");
  rt::set_property(kStartWindow, start::kResultsList, kPropCurrentRow, -1, 1, 0);
  EXPECT_EQ(get_int(kStartWindow, start::kResultsList, kPropCurrentRow), 1);
  rt::set_property(kStartWindow, start::kResultsList, kPropCurrentRow, -1,
                   static_cast<uint32_t>(-5), 0);
  EXPECT_EQ(get_int(kStartWindow, start::kResultsList, kPropCurrentRow), -1);
  save_screenshot(kStartWindow, "start_window_with_rows.png");
}

// The windows as the program's template data makes them, with rows and a status text written
// as the flows write them, for a look by eye (screenshots/) and for checks that the pictures
// show what matters: a status label's letters over a list, and the rows.
class TemplateScreens : public AppWindows {
 protected:
  // Loaded with events held back: no handler runs, and so no worker starts.
  static void load_quietly(uint32_t window) {
    rt::suppress_events();
    const bool loaded = rt::load_window(window, nullptr, false);
    rt::resume_events();
    ASSERT_TRUE(loaded);
  }

  static QImage picture(uint32_t window) {
    QElapsedTimer clock;
    clock.start();
    while (units::pictures_pending() && clock.elapsed() < 5000) QApplication::processEvents();
    QApplication::processEvents();
    return static_cast<QWidget*>(rt::unit_native_window(window, 0))->grab().toImage();
  }

  static void set_text(uint32_t window, uint32_t unit, const char* text) {
    const auto p = reinterpret_cast<uintptr_t>(text);
    rt::set_property(window, unit, kPropText, -1, static_cast<uint32_t>(p),
                     static_cast<uint32_t>(p >> 32));
  }

  // Pixels of a rectangle that differ between two pictures of the same window.
  static int differing(const QImage& a, const QImage& b, QRect r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) n += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
    }
    return n;
  }

  // Dark pixels of a rectangle: letters on a light ground.
  static int dark(const QImage& image, QRect r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) n += qGray(image.pixel(x, y)) < 110 ? 1 : 0;
    }
    return n;
  }
};

TEST_F(TemplateScreens, StartWindowWithResultsAndTheSearchStatusOverTheList) {
  load_quietly(kStartWindow);
  const rt::Cell list{kStartWindow, start::kResultsList, kKindListView};
  const char* names[] = {"大话西游之大圣娶亲", "功夫",   "少林足球", "喜剧之王",
                         "唐伯虎点秋香",       "美人鱼", "食神"};
  for (const char* name : names) {
    const int32_t k = app::insert_row(list);
    app::set_cell_text(list, k, 0, std::to_string(k + 1).c_str());
    app::set_cell_text(list, k, 1, k % 2 ? "HD国语" : "第01集(高清)");
    app::set_cell_text(list, k, 2, name);
    app::set_cell_text(list, k, 4, "周星驰 吴孟达 朱茵");
  }
  rt::set_property(kStartWindow, start::kResultsList, kPropCurrentRow, -1, 2, 0);
  rt::set_property(kStartWindow, start::kSearchStatusLabel, kPropVisible, -1, 1, 0);
  const QImage quiet = picture(kStartWindow);
  set_text(kStartWindow, start::kSearchStatusLabel, "搜索中，请耐心等待......");
  const QImage searching = picture(kStartWindow);
  save_screenshot(kStartWindow, "start_window_searching.png");
  ASSERT_EQ(searching.size(), QSize(678, 505));
  // The label lies over the list (label 208,88 192x32; list 0,8 664x192, rows from about 30).
  EXPECT_GT(differing(quiet, searching, QRect(208, 88, 192, 32)), 40) << "the label's letters";
  EXPECT_EQ(differing(quiet, searching, QRect(0, 8, 200, 60)), 0) << "and nothing else";
  EXPECT_GT(dark(searching, QRect(60, 40, 300, 40)), 50) << "the rows' texts";
}

TEST_F(TemplateScreens, PlayListWindowWithItsEpisodesUnderTheStatus) {
  load_quietly(kPlayListWindow);
  const rt::Cell list{kPlayListWindow, play_list::kEpisodeList, kKindListView};
  for (int i = 0; i < 12; ++i) {
    const int32_t k = app::insert_row(list);
    app::set_cell_text(list, k, 0, std::to_string(k + 1).c_str());
    app::set_cell_text(list, k, 1, ("第" + std::to_string(k + 1) + "集").c_str());
    app::set_cell_text(list, k, 3, "/play/1-1-1.html");
  }
  const QImage quiet = picture(kPlayListWindow);
  set_text(kPlayListWindow, play_list::kStatusLabel, "加载中......");
  const QImage loading = picture(kPlayListWindow);
  save_screenshot(kPlayListWindow, "play_list_window_loading.png");
  ASSERT_EQ(loading.size(), QSize(192, 408));
  EXPECT_EQ(get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop), 1);
  // The label (8,156 152x32 in the frame at 3,4) over the episode rows.
  EXPECT_GT(differing(quiet, loading, QRect(11, 160, 152, 32)), 30) << "the label's letters";
  EXPECT_GT(dark(loading, QRect(15, 40, 150, 100)), 50) << "the episode rows";
}

void print_at_exit(int32_t index) {
  std::fprintf(stderr, "exit routine %d\n", index);
}

TEST(AppProgramDeathTest, ClosingTheStartWindowEndsTheProgram) {
  EXPECT_EXIT(
      {
        rt::register_at_exit(&print_at_exit);
        windowing::start_application();
        QTimer::singleShot(
            50, [] { static_cast<QWidget*>(rt::unit_native_window(kStartWindow, 0))->close(); });
        init_program();
        std::fprintf(stderr, "init returned\n");
        rt::end_program(0);
      },
      testing::ExitedWithCode(0), "init returned\nexit routine 0\n$");
}

TEST(AppProgramDeathTest, EndingFromAWorker) {
  EXPECT_EXIT(
      {
        windowing::start_application();
        QTimer::singleShot(50, [] { std::thread([] { rt::end_program(3); }).detach(); });
        init_program();
      },
      testing::ExitedWithCode(3), "");
}

}  // namespace
