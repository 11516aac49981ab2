#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "fake_kinds.h"
#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/events.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"
#include "support/fatal_capture.h"

namespace {

using fake::record;

constexpr uint32_t kMain = 0x52010001;
constexpr uint32_t kDialog = 0x52010002;
constexpr uint32_t kNeverLoaded = 0x52010003;
constexpr uint32_t kFragile = 0x52010004;  // its boxes fail to be made when a test says so
constexpr uint32_t kHiddenDialog = 0x52010005;
constexpr uint32_t kFragileFirst = 0x1601000A;
constexpr uint32_t kFragileSecond = 0x1601000B;
constexpr uint32_t kMainUnit = 0x06010000;
constexpr uint32_t kBoxA = 0x16010002;
constexpr uint32_t kBoxB = 0x16010003;
constexpr uint32_t kBoxLinked = 0x16010004;
constexpr uint32_t kSilent = 0x16010005;

std::vector<std::string> g_log;

rt::HandlerResult log_event(const char* what) {
  g_log.push_back(what);
  return {};
}

bool g_destroy_on_create = false;
int32_t g_close_answer = -1;  // -1: no result

rt::HandlerResult on_created(const int64_t*, int32_t) {
  const bool visible = windowing::is_visible(rt::unit_native_window(kMain, 0));
  g_log.push_back(visible ? "created(visible)" : "created(hidden)");
  if (g_destroy_on_create)
    windowing::destroy(rt::unit_native_window(kMain, 0));
  return {};
}
rt::HandlerResult on_moved(const int64_t*, int32_t) {
  return log_event("moved");
}
rt::HandlerResult on_resized(const int64_t*, int32_t) {
  return log_event("resized");
}
rt::HandlerResult on_close_query(const int64_t*, int32_t) {
  g_log.push_back("close?");
  if (g_close_answer < 0)
    return {};
  return {true, g_close_answer};
}
rt::HandlerResult on_box_event(const int64_t* args, int32_t count) {
  uint32_t window = 0, unit = 0;
  rt::current_event_source(&window, &unit);
  g_log.push_back("box " + std::to_string(unit) + " args " + std::to_string(count) + " first " +
                  std::to_string(count ? args[0] : -1));
  return {true, 5};
}
rt::HandlerResult on_dialog_destroying(const int64_t*, int32_t) {
  return log_event("dialog destroying");
}

// The application's routine table: templates name handlers by byte offset into it.
const rt::EventHandler kRoutines[] = {&on_created,     &on_moved,     &on_resized,
                                      &on_close_query, &on_box_event, &on_dialog_destroying};
int32_t offset_of(int index) {
  return index * static_cast<int32_t>(sizeof(rt::EventHandler));
}

std::vector<uint8_t> build_templates() {
  auto table = [](std::vector<std::pair<uint32_t, rt::UnitRecord>> units) {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
    for (auto& [id, r] : units) records.emplace_back(id, rt::encode_unit_record(r));
    rt::UnitTable t;
    t.assign_records(records);
    return t;
  };
  std::vector<rt::WindowTemplate> windows(5);
  windows[0].id = kMain;
  windows[0].units = table({
      {kMainUnit,
       record(
           fake::kWindowKind, "main", 50, 60, 400, 300, rt::kUnitVisible, 0,
           {{0, offset_of(0)}, {3, offset_of(1)}, {4, offset_of(2)}, {1, offset_of(3)}, {9, -1}})},
      {kBoxA,
       record(fake::kBoxKind, "A", 10, 20, 100, 50, rt::kUnitVisible, 0, {{0, offset_of(4)}})},
      {kBoxB,
       record(fake::kBoxKind, "B", 5, 5, 30, 20, rt::kUnitVisible | rt::kUnitDisabled, kBoxA)},
      {kBoxLinked, record(fake::kBoxKind, "linked", 200, 20, 50, 50, 0)},
      {kSilent, record(fake::kSilentKind, "silent", 300, 20, 50, 50, rt::kUnitVisible)},
  });
  {
    // The linked box borrows the handlers of box A.
    auto r = record(fake::kBoxKind, "linked", 200, 20, 50, 50, 0);
    r.link = kBoxA;
    windows[0].units.replace_record(3, rt::encode_unit_record(r));
  }
  windows[1].id = kDialog;
  windows[1].units = table({
      {0x06010001, record(fake::kWindowKind, "dialog", 80, 80, 200, 100, rt::kUnitVisible, 0,
                          {{2, offset_of(5)}})},
  });
  windows[2].id = kNeverLoaded;
  windows[2].units = table({
      {0x06010002, record(fake::kWindowKind, "never", 1, 2, 3, 4, 0)},
      {0x16010009, record(fake::kBoxKind, "x", 7, 8, 9, 10, rt::kUnitVisible)},
  });
  windows[3].id = kFragile;
  windows[3].units = table({
      {0x06010003, record(fake::kWindowKind, "fragile", 10, 10, 200, 100, rt::kUnitVisible)},
      {kFragileFirst, record(fake::kBoxKind, "first", 11, 12, 13, 14, rt::kUnitVisible)},
      {kFragileSecond, record(fake::kBoxKind, "second", 21, 22, 23, 24, rt::kUnitVisible)},
  });
  windows[4].id = kHiddenDialog;
  windows[4].units = table({
      {0x06010004, record(fake::kWindowKind, "hidden", 90, 90, 120, 80, 0)},
  });
  return rt::encode_templates(windows);
}

const std::vector<uint8_t>& template_data() {
  static const std::vector<uint8_t> data = build_templates();
  return data;
}

class WindowCore : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool started = false;
    if (started)
      return;
    started = true;
    static const rt::UnitLibrary* const kLibraries[] = {&fake::library()};
    static rt::ProgramInfo info;
    info.unit_library_count = 1;
    info.unit_libraries = kLibraries;
    info.code_base = kRoutines;
    info.template_data = template_data().data();
    info.template_length = template_data().size();
    rt::startup(info);
  }
  void SetUp() override {
    g_log.clear();
    g_destroy_on_create = false;
    g_close_answer = -1;
    fake::counters().refuse.clear();
    fake::counters().native_watch = nullptr;
    fake::counters().close_deletes_later = false;
  }
  void TearDown() override {
    for (uint32_t id : {kMain, kDialog, kFragile, kHiddenDialog}) {
      if (rt::window_loaded(id))
        windowing::destroy(rt::unit_native_window(id, 0));
    }
    // Closing the last window posts the quit message; each test starts without one.
    rt::detail::loop_state().quit_posted = false;
  }
  static int32_t get_int(uint32_t window, uint32_t unit, int32_t index) {
    return static_cast<int32_t>(rt::get_property(window, unit, index, -1));
  }
  static rt::Text get_text(uint32_t window, uint32_t unit, int32_t index) {
    return rt::Text::adopt(reinterpret_cast<char*>(rt::get_property(window, unit, index, -1)));
  }
  static void set_int(uint32_t window, uint32_t unit, int32_t index, int32_t v) {
    rt::set_property(window, unit, index, -1, static_cast<uint32_t>(v), 0);
  }
  static void set_text(uint32_t window, uint32_t unit, int32_t index, const char* text) {
    const auto p = reinterpret_cast<uintptr_t>(text);
    rt::set_property(window, unit, index, -1, static_cast<uint32_t>(p),
                     static_cast<uint32_t>(p >> 32));
  }
};

TEST_F(WindowCore, TemplatesReadAndBindingsRewritten) {
  EXPECT_EQ(rt::registered_window_count(), 5);
  // Offsets became the addresses of the routine table's slots; -1 became no handler.
  // Offsets became handler numbers naming the routine table's slots; -1 became no handler.
  rt::detail::WindowEntry* main = rt::detail::registry().find(kMain);
  ASSERT_NE(main, nullptr);
  auto own = rt::decode_unit_record(main->working.record(0), false);
  ASSERT_TRUE(own);
  ASSERT_EQ(own->events.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rt::detail::handler_address(own->events[static_cast<size_t>(i)].handler),
              &kRoutines[i]);
  }
  EXPECT_EQ(own->events[4].handler, 0);
  EXPECT_FALSE(rt::window_loaded(kMain));
}

TEST_F(WindowCore, EventsOnLoadRunInOrderBeforeTheWindowShows) {
  rt::load_start_window(kMain);
  EXPECT_EQ(g_log, (std::vector<std::string>{"created(hidden)", "moved", "resized"}));
  EXPECT_TRUE(windowing::is_visible(rt::unit_native_window(kMain, 0)));
  // Box B is disabled by its template, the linked box hidden.
  EXPECT_EQ(get_int(kMain, kBoxB, 6), 1);
  EXPECT_EQ(get_int(kMain, kBoxLinked, 5), 0);
  EXPECT_EQ(get_int(kMain, kBoxA, 5), 1);
  // Box B lives inside box A: its position is relative to A.
  EXPECT_EQ(windowing::parent_of(rt::unit_native_window(kMain, kBoxB)),
            rt::unit_native_window(kMain, kBoxA));
  EXPECT_EQ(get_int(kMain, kBoxB, 0), 5);
}

TEST_F(WindowCore, CreatedHandlerThatDestroysTheWindowStopsTheRest) {
  g_destroy_on_create = true;
  rt::load_window(kMain, nullptr, false);
  EXPECT_EQ(g_log, (std::vector<std::string>{"created(hidden)"}));
  EXPECT_FALSE(rt::window_loaded(kMain));
}

TEST_F(WindowCore, LoadingALoadedWindowCreatesNothing) {
  rt::load_start_window(kMain);
  const int before = fake::counters().created;
  EXPECT_TRUE(rt::load_window(kMain, nullptr, false));
  EXPECT_EQ(fake::counters().created, before);
}

TEST_F(WindowCore, CommonPropertyClamps) {
  rt::load_start_window(kMain);
  set_int(kMain, kBoxA, 2, 40000);
  EXPECT_EQ(get_int(kMain, kBoxA, 2), 32627);
  set_int(kMain, kBoxA, 0, -40000);
  EXPECT_EQ(get_int(kMain, kBoxA, 0), -32627);
  set_int(kMain, kBoxA, 3, -5);
  EXPECT_EQ(get_int(kMain, kBoxA, 3), 0);
  set_int(kMain, kBoxA, 6, 1);
  EXPECT_FALSE(windowing::is_enabled(rt::unit_native_window(kMain, kBoxA)));
  set_text(kMain, kBoxA, 4, "tag");
  EXPECT_EQ(get_text(kMain, kBoxA, 4).view(), "tag");
  set_text(kMain, kBoxA, 4, nullptr);
  EXPECT_TRUE(get_text(kMain, kBoxA, 4).empty());
}

TEST_F(WindowCore, KindPropertiesCrossWithTheirTypes) {
  rt::load_start_window(kMain);
  EXPECT_EQ(get_text(kMain, kBoxA, 8).view(), "A");
  set_text(kMain, kBoxA, 8, "新的文字");
  EXPECT_EQ(get_text(kMain, kBoxA, 8).view(), "新的文字");
  set_int(kMain, kBoxA, 10, 7);  // a bool: any non-zero value is stored as 1
  EXPECT_EQ(get_int(kMain, kBoxA, 10), 1);
  // Fonts: one attribute at a time, the rest read back first; sizes in points.
  rt::set_property(kMain, kBoxA, 11, 5, 12, 0);
  rt::set_property(kMain, kBoxA, 11, 1, 1, 0);
  EXPECT_EQ(rt::get_property(kMain, kBoxA, 11, 5), 12u);
  EXPECT_EQ(rt::get_property(kMain, kBoxA, 11, 1), 1u);
  rt::Text face = rt::Text::adopt(reinterpret_cast<char*>(rt::get_property(kMain, kBoxA, 11, 6)));
  EXPECT_EQ(face.view(), "宋体") << "an unset font starts from the default";
  rt::set_property(kMain, kBoxA, 11, 0, static_cast<uint32_t>(-10), 0);
  EXPECT_EQ(rt::get_property(kMain, kBoxA, 11, 0), 3590u) << "angles reduce into 0..3599";
  // Byte sets cross as their bytes; null is empty.
  rt::Bytes bytes(std::vector<uint8_t>{1, 2, 3});
  const auto p = reinterpret_cast<uintptr_t>(bytes.get());
  rt::set_property(kMain, kBoxA, 12, -1, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32));
  rt::Bytes back =
      rt::Bytes::adopt(reinterpret_cast<uint8_t*>(rt::get_property(kMain, kBoxA, 12, -1)));
  EXPECT_EQ(back.size(), 3u);
}

TEST_F(WindowCore, ReCreationKeepsTheUnitInPlace) {
  rt::load_start_window(kMain);
  set_int(kMain, kBoxA, 0, 33);
  rt::NativeWindow old_native = rt::unit_native_window(kMain, kBoxA);
  set_int(kMain, kBoxA, 9, 4);  // answers re-create
  rt::NativeWindow fresh = rt::unit_native_window(kMain, kBoxA);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, old_native);
  EXPECT_FALSE(windowing::is_window(old_native));
  EXPECT_EQ(get_int(kMain, kBoxA, 9), 4) << "the state carried over";
  EXPECT_EQ(get_int(kMain, kBoxA, 0), 33);
  EXPECT_EQ(get_int(kMain, kBoxA, 5), 1);
  // The contained box moved to the new object.
  EXPECT_EQ(windowing::parent_of(rt::unit_native_window(kMain, kBoxB)), fresh);
}

TEST_F(WindowCore, UnloadedWindowReadsItsTemplate) {
  EXPECT_EQ(get_int(kNeverLoaded, 0x16010009, 0), 7);
  EXPECT_EQ(get_int(kNeverLoaded, 0x16010009, 3), 10);
  EXPECT_EQ(get_int(kNeverLoaded, 0x16010009, 5), 1);
  // Common changes before a load stay in the working table.
  set_int(kNeverLoaded, 0x16010009, 1, 99);
  EXPECT_EQ(get_int(kNeverLoaded, 0x16010009, 1), 99);
}

TEST_F(WindowCore, ReloadStartsFromTheTemplate) {
  set_int(kMain, kBoxA, 1, 44);  // before the load: kept for it
  rt::load_start_window(kMain);
  EXPECT_EQ(get_int(kMain, kBoxA, 1), 44);
  set_int(kMain, kBoxA, 0, 77);  // while loaded: gone with the window
  windowing::destroy(rt::unit_native_window(kMain, 0));
  EXPECT_FALSE(rt::window_loaded(kMain));
  EXPECT_EQ(get_int(kMain, kBoxA, 0), 10);
  EXPECT_EQ(get_int(kMain, kBoxA, 1), 44);
  rt::load_start_window(kMain);
  EXPECT_EQ(get_int(kMain, kBoxA, 0), 10);
}

TEST_F(WindowCore, UnitEventsFindTheirHandlerThroughLinks) {
  rt::load_start_window(kMain);
  int32_t result = 0;
  EXPECT_TRUE(rt::raise_unit_event(kMain, kBoxA, 0, {42}, &result));
  EXPECT_EQ(result, 5);
  EXPECT_TRUE(rt::raise_unit_event(kMain, kBoxLinked, 0, {1, 2}));
  EXPECT_FALSE(rt::raise_unit_event(kMain, kBoxA, 1)) << "no binding for event 1";
  EXPECT_FALSE(rt::raise_unit_event(kMain, 0, 9)) << "a -1 binding is no handler";
  ASSERT_EQ(g_log.size(), 5u);
  EXPECT_EQ(g_log[3], "box " + std::to_string(kBoxA) + " args 1 first 42");
  EXPECT_EQ(g_log[4], "box " + std::to_string(kBoxLinked) + " args 2 first 1")
      << "the source is the raising unit, not the one it borrows from";
  uint32_t w = 1, u = 1;
  EXPECT_FALSE(rt::current_event_source(&w, &u)) << "cleared after the handler";
}

TEST_F(WindowCore, CloseCanBeCancelled) {
  rt::load_start_window(kMain);
  auto* widget = static_cast<QWidget*>(rt::unit_native_window(kMain, 0));
  g_close_answer = 0;
  widget->close();
  EXPECT_TRUE(rt::window_loaded(kMain));
  g_close_answer = -1;  // no result lets it close
  widget->close();
  EXPECT_FALSE(rt::window_loaded(kMain));
}

TEST_F(WindowCore, ModalWindowDisablesTheOthersUntilClosed) {
  rt::load_start_window(kMain);
  auto* main_widget = static_cast<QWidget*>(rt::unit_native_window(kMain, 0));
  bool checked = false;
  int seen_enabled = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!rt::window_loaded(kDialog) || checked)
      return;  // still being created
    // The end of creation processes pending messages before the others are disabled, so a
    // tick may land there; once the modal loop runs, the main window must be disabled.
    if (main_widget->isEnabled() && ++seen_enabled < 100)
      return;
    EXPECT_FALSE(main_widget->isEnabled());
    checked = true;
    static_cast<QWidget*>(rt::unit_native_window(kDialog, 0))->close();
  });
  poll.start(5);
  EXPECT_TRUE(rt::load_window(kDialog, nullptr, true));  // returns once the dialog is closed
  EXPECT_TRUE(checked);
  EXPECT_FALSE(rt::window_loaded(kDialog));
  EXPECT_TRUE(main_widget->isEnabled());
  EXPECT_EQ(g_log.back(), "dialog destroying");
}

// A user (or a timer) closes the modal window in the messages its creation processes, while
// its deletion is still pending (as for widgets deleted on close). The load must not show it
// again, run a modal loop for it or disable the others for it: the user would be left with a
// window that takes no input.
TEST_F(WindowCore, ModalWindowClosedWhileBeingCreatedIsNotShownAgainNorDisablesOthers) {
  fake::counters().close_deletes_later = true;
  rt::load_start_window(kMain);
  auto* main_widget = static_cast<QWidget*>(rt::unit_native_window(kMain, 0));
  bool closed = false;
  // Posted again until a pass of messages finds the dialog loaded: the end of its creation.
  std::function<void()> close_when_loaded = [&] {
    if (closed)
      return;
    if (!rt::window_loaded(kDialog)) {
      windowing::post_to_window_thread(close_when_loaded);
      return;
    }
    closed = true;
    static_cast<QWidget*>(rt::unit_native_window(kDialog, 0))->close();
  };
  windowing::post_to_window_thread(close_when_loaded);
  EXPECT_TRUE(rt::load_window(kDialog, nullptr, true));
  ASSERT_TRUE(closed);
  // No loop ran for it: its deletion is still to come.
  ASSERT_TRUE(rt::window_loaded(kDialog));
  EXPECT_FALSE(windowing::is_visible(rt::unit_native_window(kDialog, 0)));
  EXPECT_TRUE(main_widget->isEnabled());
  for (int i = 0; i < 100 && rt::window_loaded(kDialog); ++i) QApplication::processEvents();
  EXPECT_FALSE(rt::window_loaded(kDialog));
  EXPECT_TRUE(main_widget->isEnabled());
}

// A modal window destroyed without being closed (its native window destroyed outright) gives
// the others their state back all the same.
TEST_F(WindowCore, ModalWindowDestroyedWithoutACloseEnablesTheOthers) {
  rt::load_start_window(kMain);
  auto* main_widget = static_cast<QWidget*>(rt::unit_native_window(kMain, 0));
  bool destroyed = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (destroyed || rt::detail::loop_state().modal_window != kDialog)
      return;
    destroyed = true;
    EXPECT_FALSE(main_widget->isEnabled());
    windowing::destroy(rt::unit_native_window(kDialog, 0));
  });
  poll.start(5);
  EXPECT_TRUE(rt::load_window(kDialog, nullptr, true));
  ASSERT_TRUE(destroyed);
  EXPECT_FALSE(rt::window_loaded(kDialog));
  EXPECT_TRUE(main_widget->isEnabled());
}

TEST_F(WindowCore, PropertiesFromAWorkerRunOnTheWindowThread) {
  rt::load_start_window(kMain);
  const std::thread::id window_thread = std::this_thread::get_id();
  std::atomic<bool> finished = false;
  std::thread::id worker_id, set_ran_on, get_ran_on;
  std::string read_back;
  std::thread worker([&] {
    worker_id = std::this_thread::get_id();
    set_text(kMain, kBoxA, 8, "from worker");
    set_ran_on = fake::counters().property_thread;
    set_int(kMain, kBoxA, 5, 0);
    read_back = get_text(kMain, kBoxA, 8).c_str();
    get_ran_on = fake::counters().property_thread;
    finished = true;
  });
  while (!finished) QApplication::processEvents();
  worker.join();
  EXPECT_EQ(read_back, "from worker");
  EXPECT_NE(worker_id, window_thread);
  EXPECT_EQ(set_ran_on, window_thread) << "the kind's set ran on the window thread";
  EXPECT_EQ(get_ran_on, window_thread) << "and so did its get";
  EXPECT_FALSE(windowing::is_visible(rt::unit_native_window(kMain, kBoxA)));
}

// A worker's queued writes run on the window thread in the order of all its calls, queued or
// waiting, without the worker waiting for them; a write queued for a window that has been closed
// meanwhile does not run and says so; and a worker that queues faster than the window thread runs
// its calls is held back instead of growing the queue without end.
TEST_F(WindowCore, QueuedWritesKeepTheirOrderWithoutWaiting) {
  rt::load_start_window(kMain);
  const uint32_t generation = rt::window_generation(kMain);
  const std::thread::id window_thread = std::this_thread::get_id();
  std::vector<int> order;  // written on the window thread only
  bool all_on_window_thread = true;
  const auto note = [&](int step) {
    return [&, step] {
      all_on_window_thread = all_on_window_thread && std::this_thread::get_id() == window_thread;
      order.push_back(step);
    };
  };
  auto gone = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> queued_all = false, finished = false;
  std::thread worker([&] {
    for (int step = 0; step < 3; ++step)
      rt::queue_while_window_loaded(kMain, generation, note(step), gone);
    queued_all = true;  // before the window thread has taken a single message
    rt::with_window_loaded(kMain, generation, note(3));
    rt::queue_while_window_loaded(kMain, generation, note(4), gone);
    rt::with_window_loaded(kMain, generation, note(5));
    finished = true;
  });
  for (int i = 0; i < 400 && !queued_all; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(queued_all) << "queuing waited for the window thread";
  while (!finished) QApplication::processEvents();
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(all_on_window_thread);
  EXPECT_FALSE(gone->load());

  // Closed, and loaded again: the write queued for the first load finds it gone.
  windowing::destroy(rt::unit_native_window(kMain, 0));
  rt::load_start_window(kMain);
  bool ran = false;
  finished = false;
  std::thread late([&] {
    rt::queue_while_window_loaded(
        kMain, generation, [&ran] { ran = true; }, gone);
    rt::on_window_thread([] {});
    finished = true;
  });
  while (!finished) QApplication::processEvents();
  late.join();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(gone->load());
}

TEST_F(WindowCore, AQueuingWorkerIsHeldBackWhileTheWindowThreadIsBusy) {
  rt::load_start_window(kMain);
  const uint32_t generation = rt::window_generation(kMain);
  constexpr int kWrites = 20000;
  auto gone = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int> queued = 0;
  std::vector<int> order;
  std::atomic<bool> finished = false;
  std::thread worker([&] {
    for (int i = 0; i < kWrites; ++i) {
      rt::queue_while_window_loaded(
          kMain, generation, [&order, i] { order.push_back(i); }, gone);
      ++queued;
    }
    rt::on_window_thread([] {});
    finished = true;
  });
  // The window thread takes no message for a while: the worker stops well short of the end.
  int seen = -1;
  for (int i = 0; i < 100 && seen != queued.load(); ++i) {
    seen = queued.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_LT(queued.load(), kWrites / 2);
  while (!finished) QApplication::processEvents();
  worker.join();
  ASSERT_EQ(order.size(), static_cast<size_t>(kWrites));
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

// A worker queuing its writes while the window thread runs earlier ones: once they have all run,
// the window thread is free at once, with no drain left over for each write to sit waiting for
// calls that never come (that held the window up for a quarter of a second after a long list).
TEST_F(WindowCore, TheWindowThreadIsFreeOnceAWorkersQueuedWritesHaveRun) {
  rt::load_start_window(kMain);
  const uint32_t generation = rt::window_generation(kMain);
  constexpr int kWrites = 500;
  const auto busy = [] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    while (std::chrono::steady_clock::now() < until) {
    }
  };
  auto gone = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int> ran = 0;
  std::atomic<bool> finished = false;
  std::chrono::steady_clock::time_point written, free_again;
  std::thread worker([&] {
    for (int i = 0; i < kWrites; ++i) {
      rt::queue_while_window_loaded(
          kMain, generation,
          [&] {
            busy();
            ++ran;
          },
          gone);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    rt::on_window_thread([] {});  // after every queued write
    written = std::chrono::steady_clock::now();
    windowing::post_to_window_thread([&] {
      free_again = std::chrono::steady_clock::now();
      finished = true;
    });
  });
  while (!finished) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  worker.join();
  EXPECT_EQ(ran.load(), kWrites);
  EXPECT_LT(free_again - written, std::chrono::milliseconds(150));
}

TEST_F(WindowCore, IdleCallbacksOfDestroyedWindowsAreDropped) {
  rt::load_start_window(kMain);
  rt::load_window(kDialog, nullptr, false);  // keeps the loop running once the main window goes
  static int calls = 0;
  static int calls_after_destroy = -1;
  calls = 0;
  calls_after_destroy = -1;
  const rt::detail::LoopState::IdleCallback callback{rt::unit_native_window(kMain, kBoxA),
                                                     [](intptr_t) { ++calls; }, 0};
  const auto registered = [window = callback.window] {
    const auto& idle = rt::detail::loop_state().idle;
    return std::any_of(idle.begin(), idle.end(),
                       [window](const auto& c) { return c.window == window; });
  };
  rt::runtime_service(1012, reinterpret_cast<intptr_t>(&callback), 0);
  ASSERT_TRUE(registered());
  bool kept_after_destroy = true;
  QTimer::singleShot(20, [] {
    windowing::destroy(rt::unit_native_window(kMain, 0));
    calls_after_destroy = calls;
  });
  // Idle passes run after the main window has gone; then the dialog ends the loop.
  QTimer::singleShot(80, [&] {
    kept_after_destroy = registered();
    windowing::destroy(rt::unit_native_window(kDialog, 0));
  });
  rt::run_message_loop();
  EXPECT_GT(calls_after_destroy, 0) << "called while its window lived";
  EXPECT_EQ(calls, calls_after_destroy) << "never called once its window was gone";
  EXPECT_FALSE(kept_after_destroy) << "and dropped from the idle lists";
}

TEST_F(WindowCore, LoadWindowCommandAndUnitHandle) {
  rt::Cell window{kMain, 0, fake::kWindowKind};
  const rt::Cell args[] = {window, rt::Cell{}, rt::Cell::of_bool(false)};
  EXPECT_EQ(rt::call_command(&rt::cmd::load_window, 3, args).low, 1u);
  const rt::Cell unit{kMain, kBoxA, fake::kBoxKind};
  EXPECT_EQ(rt::call_command(&rt::cmd::unit_handle, 1, &unit).pointer<void>(),
            rt::unit_native_window(kMain, kBoxA));
  const rt::Cell missing{kMain, 0x16019999, fake::kBoxKind};
  EXPECT_EQ(rt::call_command(&rt::cmd::unit_handle, 1, &missing).payload(), 0u);
  // A parent that cannot be found makes the load fail.
  const rt::Cell with_parent[] = {rt::Cell{kDialog, 0, fake::kWindowKind},
                                  rt::Cell{kNeverLoaded, 0x16010009, fake::kBoxKind},
                                  rt::Cell::of_bool(false)};
  EXPECT_EQ(rt::call_command(&rt::cmd::load_window, 3, with_parent).low, 0u);
}

// A load that fails part way returns the window to its template: it can be read, and loaded
// again once its units can be made.
TEST_F(WindowCore, AFailedLoadLeavesTheTemplateInPlace) {
  fake::counters().refuse = "first";  // made after "second": the load fails half done
  const int created_before = fake::counters().created;
  EXPECT_FALSE(rt::load_window(kFragile, nullptr, false));
  EXPECT_GT(fake::counters().created, created_before) << "something was made and taken back";
  EXPECT_FALSE(rt::window_loaded(kFragile));
  EXPECT_EQ(get_int(kFragile, kFragileFirst, 0), 11);
  EXPECT_EQ(get_int(kFragile, kFragileSecond, 3), 24);
  EXPECT_EQ(get_int(kFragile, kFragileSecond, 5), 1);
  EXPECT_FALSE(rt::load_window(kFragile, nullptr, false)) << "failing again, not crashing";
  fake::counters().refuse.clear();
  ASSERT_TRUE(rt::load_window(kFragile, nullptr, false));
  EXPECT_EQ(get_int(kFragile, kFragileFirst, 1), 12);
  EXPECT_EQ(get_text(kFragile, kFragileSecond, 8).view(), "second");
}

// Indices past the kind's property table have no type to carry a value by: they are refused,
// whatever the value and whatever the kind would answer.
TEST_F(WindowCore, PropertiesPastTheKindsTableAreRefused) {
  rt::load_start_window(kMain);
  for (int32_t index : {13, 14, 40}) {
    SCOPED_TRACE(index);
    set_int(kMain, kBoxA, index, 12345);
    EXPECT_EQ(rt::get_property(kMain, kBoxA, index, -1), 0u);
  }
  EXPECT_EQ(get_text(kMain, kBoxA, 8).view(), "A") << "the kind's own properties are untouched";
  EXPECT_EQ(get_int(kMain, kBoxA, 9), 0);
}

// A modal window that starts hidden has nothing a user could close: its loop waits until it is
// shown, and the load returns at once.
TEST_F(WindowCore, HiddenModalWindowRunsItsLoopOnlyOnceShown) {
  rt::load_start_window(kMain);
  auto* main_widget = static_cast<QWidget*>(rt::unit_native_window(kMain, 0));
  // Should the load hold on to the caller, this lets it go so that the test can say so.
  QTimer rescue;
  rescue.setSingleShot(true);
  QObject::connect(&rescue, &QTimer::timeout, [] {
    if (auto* w = static_cast<QWidget*>(rt::unit_native_window(kHiddenDialog, 0)))
      w->close();
  });
  rescue.start(2000);
  EXPECT_TRUE(rt::load_window(kHiddenDialog, nullptr, true));
  rescue.stop();
  ASSERT_TRUE(rt::window_loaded(kHiddenDialog)) << "the load waited for the window to close";
  EXPECT_FALSE(windowing::is_visible(rt::unit_native_window(kHiddenDialog, 0)));
  EXPECT_FALSE(main_widget->isEnabled()) << "modal all the same";
  // Shown, it runs the modal loop until closed.
  QTimer::singleShot(
      20, [] { static_cast<QWidget*>(rt::unit_native_window(kHiddenDialog, 0))->close(); });
  set_int(kHiddenDialog, 0, 5, 1);
  EXPECT_FALSE(rt::window_loaded(kHiddenDialog));
  EXPECT_TRUE(main_widget->isEnabled());
}

TEST_F(WindowCore, ModalLoadDisablesOnlyWindowsWithoutAParent) {
  rt::load_start_window(kMain);
  const rt::Cell load_under_main[] = {rt::Cell{kDialog, 0, fake::kWindowKind},
                                      rt::Cell{kMain, 0, fake::kWindowKind},
                                      rt::Cell::of_bool(false)};
  ASSERT_EQ(rt::call_command(&rt::cmd::load_window, 3, load_under_main).low, 1u);
  auto* main_widget = static_cast<QWidget*>(rt::unit_native_window(kMain, 0));
  auto* dialog = static_cast<QWidget*>(rt::unit_native_window(kDialog, 0));
  ASSERT_EQ(dialog->parentWidget(), main_widget);
  bool checked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    // Still being created until its modal loop runs.
    if (rt::detail::loop_state().modal_window != kFragile || checked)
      return;
    checked = true;
    EXPECT_FALSE(main_widget->isEnabled());
    // The dialog follows its owner; it is not disabled in its own right.
    EXPECT_TRUE(dialog->isEnabledTo(main_widget));
    static_cast<QWidget*>(rt::unit_native_window(kFragile, 0))->close();
  });
  poll.start(5);
  EXPECT_TRUE(rt::load_window(kFragile, nullptr, true));
  EXPECT_TRUE(checked);
  EXPECT_TRUE(main_widget->isEnabled());
  EXPECT_TRUE(dialog->isEnabled());
}

// A worker loads a window under a unit that the window thread closes as soon as it has been
// found. Found and used in one call, and checked again after the messages that loading
// processes, the parent is never used after it was freed: the load fails instead.
TEST_F(WindowCore, ParentClosedWhileAWorkerLoadsUnderIt) {
  rt::load_start_window(kMain);
  // When the worker's load asks for box A's native window, close the main window as soon as
  // the window thread takes its messages again, and make that call long enough that the window
  // thread ends its burst of calls (and runs what was posted) before a next call of the worker.
  fake::counters().native_watch = [](const fake::FakeUnit& unit) {
    if (unit.unit_id != kBoxA || !windowing::on_window_thread())
      return false;
    windowing::post_to_window_thread([] {
      if (rt::window_loaded(kMain))
        windowing::destroy(rt::unit_native_window(kMain, 0));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
  };
  std::atomic<bool> finished = false;
  bool loaded = false;
  std::thread worker([&] {
    const rt::Cell args[] = {rt::Cell{kDialog, 0, fake::kWindowKind},
                             rt::Cell{kMain, kBoxA, fake::kBoxKind}, rt::Cell::of_bool(false)};
    loaded = rt::call_command(&rt::cmd::load_window, 3, args).low == 1;
    finished = true;
  });
  while (!finished) QApplication::processEvents();
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(fake::counters().native_watch, nullptr) << "the worker's load asked for the parent";
  EXPECT_FALSE(loaded) << "the parent was gone before it could be used";
  EXPECT_FALSE(rt::window_loaded(kMain));
  EXPECT_FALSE(rt::window_loaded(kDialog));
}

// Service 2005 names the parent by its unit object, which may be gone: it is checked against
// the live units before it is followed.
TEST_F(WindowCore, LoadServiceRefusesAParentThatIsGone) {
  rt::load_start_window(kMain);
  rt::LoadWindowRequest request{kDialog, rt::find_unit_object(kMain, kBoxA), 0};
  ASSERT_NE(request.parent, nullptr);
  windowing::destroy(rt::unit_native_window(kMain, 0));
  EXPECT_EQ(rt::runtime_service(2005, reinterpret_cast<intptr_t>(&request), 0), -1);
  EXPECT_FALSE(rt::window_loaded(kDialog));
  rt::load_start_window(kMain);
  request.parent = rt::find_unit_object(kMain, kBoxA);
  EXPECT_EQ(rt::runtime_service(2005, reinterpret_cast<intptr_t>(&request), 0), 0);
  EXPECT_TRUE(rt::window_loaded(kDialog));
}

using WindowCoreDeathTest = WindowCore;

TEST_F(WindowCoreDeathTest, FatalCases) {
  using testsupport::expected_report;
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        get_int(0x52999999, 0, 0);
      },
      testing::ExitedWithCode(255), expected_report("未载入欲访问窗口组件所在的窗口", 0));
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        get_int(kNeverLoaded, 0x16010009, 8);
      },
      testing::ExitedWithCode(255), expected_report("指定窗口尚未载入", 0));
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::load_start_window(0x52999999);
      },
      testing::ExitedWithCode(255), expected_report("载入启动窗口失败", 0));
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::load_start_window(kMain);
        rt::raise_unit_event(kMain, kSilent, 0);
      },
      testing::ExitedWithCode(255), expected_report("引发事件的窗口组件无效", 0));
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::raise_unit_event(kMain, 0x16017777, 0);
      },
      testing::ExitedWithCode(255), expected_report("未找到引发事件的窗口组件", 0));
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::runtime_service(2007, kMain, 0x16017777);
      },
      testing::ExitedWithCode(255), expected_report("指定窗口或窗口组件不存在或尚未载入", 0));
}

void print_at_exit(int32_t index) {
  std::fprintf(stderr, "at-exit %d\n", index);
}

TEST_F(WindowCoreDeathTest, ClosingTheLastWindowEndsTheLoop) {
  EXPECT_EXIT(
      {
        rt::register_at_exit(&print_at_exit);
        rt::load_start_window(kMain);
        QTimer::singleShot(
            10, [] { static_cast<QWidget*>(rt::unit_native_window(kMain, 0))->close(); });
        rt::run_message_loop();
        std::fprintf(stderr, "loop returned\n");
        rt::end_program(0);
      },
      testing::ExitedWithCode(0), "loop returned\nat-exit 0\n$");
}

TEST_F(WindowCoreDeathTest, EventsStopAfterAFatalError) {
  EXPECT_EXIT(
      {
        rt::load_start_window(kMain);
        rt::set_report_presenter([](const char*) {
          std::fprintf(stderr, "handler ran: %d\n", rt::raise_unit_event(kMain, kBoxA, 0, {1}));
        });
        rt::fatal_error("stop", 0);
      },
      testing::ExitedWithCode(255), "handler ran: 0\n");
}

TEST(TemplateData, CorruptDataIsRefusedWhole) {
  const std::vector<uint8_t>& good = template_data();
  ASSERT_TRUE(rt::decode_templates(good));
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(rt::decode_templates(std::span(good).first(n))) << "prefix " << n;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_FALSE(rt::decode_templates(longer)) << "the data must be consumed exactly";
  // Altered words: every 4-byte word set to a huge and to a negative value in turn.
  int refused = 0;
  for (size_t at = 0; at + 4 <= good.size(); at += 4) {
    for (uint32_t bad : {0x7FFFFFF0u, 0xFFFFFFF0u}) {
      std::vector<uint8_t> altered = good;
      std::memcpy(altered.data() + at, &bad, 4);
      refused += rt::decode_templates(altered) ? 0 : 1;  // must not crash either way
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(TemplateDataDeathTest, CorruptTemplatesAreFatal) {
  std::vector<uint8_t> cut(template_data().begin(), template_data().end() - 3);
  EXPECT_EXIT(
      {
        testsupport::capture_reports();
        rt::read_templates(cut.data(), cut.size(), kRoutines);
      },
      testing::ExitedWithCode(255), testsupport::expected_report("载入窗口模板数据段出错!", 0));
}

}  // namespace
