#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
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
  if (g_destroy_on_create) windowing::destroy(rt::unit_native_window(kMain, 0));
  return {};
}
rt::HandlerResult on_moved(const int64_t*, int32_t) { return log_event("moved"); }
rt::HandlerResult on_resized(const int64_t*, int32_t) { return log_event("resized"); }
rt::HandlerResult on_close_query(const int64_t*, int32_t) {
  g_log.push_back("close?");
  if (g_close_answer < 0) return {};
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
const rt::EventHandler kRoutines[] = {&on_created,   &on_moved,       &on_resized,
                                      &on_close_query, &on_box_event, &on_dialog_destroying};
int32_t offset_of(int index) { return index * static_cast<int32_t>(sizeof(rt::EventHandler)); }

std::vector<uint8_t> build_templates() {
  auto table = [](std::vector<std::pair<uint32_t, rt::UnitRecord>> units) {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
    for (auto& [id, r] : units) records.emplace_back(id, rt::encode_unit_record(r));
    rt::UnitTable t;
    t.assign_records(records);
    return t;
  };
  std::vector<rt::WindowTemplate> windows(3);
  windows[0].id = kMain;
  windows[0].units = table({
      {kMainUnit, record(fake::kWindowKind, "main", 50, 60, 400, 300, rt::kUnitVisible, 0,
                         {{0, offset_of(0)}, {3, offset_of(1)}, {4, offset_of(2)},
                          {1, offset_of(3)}, {9, -1}})},
      {kBoxA, record(fake::kBoxKind, "A", 10, 20, 100, 50, rt::kUnitVisible, 0,
                     {{0, offset_of(4)}})},
      {kBoxB, record(fake::kBoxKind, "B", 5, 5, 30, 20, rt::kUnitVisible | rt::kUnitDisabled,
                     kBoxA)},
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
    if (started) return;
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
  }
  void TearDown() override {
    for (uint32_t id : {kMain, kDialog}) {
      if (rt::window_loaded(id)) windowing::destroy(rt::unit_native_window(id, 0));
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
  EXPECT_EQ(rt::registered_window_count(), 3);
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
  rt::Bytes back = rt::Bytes::adopt(reinterpret_cast<uint8_t*>(rt::get_property(kMain, kBoxA, 12, -1)));
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
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!rt::window_loaded(kDialog) || checked) return;  // still being created
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

TEST_F(WindowCore, PropertiesFromAWorkerRunOnTheWindowThread) {
  rt::load_start_window(kMain);
  std::atomic<bool> done = false;
  std::thread worker([&] {
    set_text(kMain, kBoxA, 8, "from worker");
    set_int(kMain, kBoxA, 5, 0);
    done = get_text(kMain, kBoxA, 8).view() == "from worker";
  });
  while (!done && worker.joinable()) {
    QApplication::processEvents();
    if (done) break;
  }
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(windowing::is_visible(rt::unit_native_window(kMain, kBoxA)));
}

TEST_F(WindowCore, IdleCallbacksOfDestroyedWindowsAreDropped) {
  rt::load_start_window(kMain);
  static int calls = 0;
  struct Callback {
    rt::NativeWindow window;
    void (*routine)(intptr_t);
    intptr_t argument;
  } callback{rt::unit_native_window(kMain, kBoxA), [](intptr_t) { ++calls; }, 0};
  rt::runtime_service(1012, reinterpret_cast<intptr_t>(&callback), 0);
  // The loop runs idle work until the window goes.
  QTimer::singleShot(20, [] { windowing::destroy(rt::unit_native_window(kMain, 0)); });
  rt::run_message_loop();
  EXPECT_GT(calls, 0);
  EXPECT_FALSE(rt::window_loaded(kMain));
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

void print_at_exit(int32_t index) { std::fprintf(stderr, "at-exit %d\n", index); }

TEST_F(WindowCoreDeathTest, ClosingTheLastWindowEndsTheLoop) {
  EXPECT_EXIT(
      {
        rt::register_at_exit(&print_at_exit);
        rt::load_start_window(kMain);
        QTimer::singleShot(10, [] {
          static_cast<QWidget*>(rt::unit_native_window(kMain, 0))->close();
        });
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
