// The unit kinds under the real core: a window loaded from template data, its units driven by
// property get and set, the list view's commands found through the registry, re-creation, events
// reaching the application's handlers, and the window's end.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableView>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>
#include <utility>

#include "platform/windowing/native_window.h"
#include "runtime/command.h"
#include "runtime/events.h"
#include "runtime/startup.h"
#include "runtime/template_data.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"
#include "unit_test_support.h"
#include "units/list_view_commands.h"

// While a FreedBlocksKept scope lives, blocks its thread deletes are filled with 0xA5 and kept,
// so that a read through a deleted object finds garbage rather than a block already in use
// again: the sanitizers' quarantine, for builds without them. Other threads free as usual.
namespace {
thread_local bool g_keep_freed = false;
void* g_kept[4096];
size_t g_kept_count = 0;
}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
void operator delete(void* p) noexcept {
  if (p && g_keep_freed && g_kept_count < std::size(g_kept)) {
    std::memset(p, 0xA5, malloc_usable_size(p));
    g_kept[g_kept_count++] = p;
    return;
  }
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}
#endif

namespace {

struct FreedBlocksKept {
  FreedBlocksKept() { g_keep_freed = true; }
  ~FreedBlocksKept() {
    g_keep_freed = false;
    for (size_t i = 0; i < g_kept_count; ++i) std::free(g_kept[i]);
    g_kept_count = 0;
  }
  FreedBlocksKept(const FreedBlocksKept&) = delete;
  FreedBlocksKept& operator=(const FreedBlocksKept&) = delete;
};

namespace lp = units::list_property;

constexpr uint32_t kWindow = 0x52010001;
constexpr uint32_t kOwn = 0x06010000;
constexpr uint32_t kList = 0x16010002;
constexpr uint32_t kLabel = 0x160121F3;
constexpr uint32_t kButton = 0x16010003;
constexpr uint32_t kBox = 0x16010004;

std::vector<std::string> g_log;

rt::HandlerResult on_list_click(const int64_t*, int32_t) {
  const auto row = static_cast<int32_t>(rt::get_property(kWindow, kList, lp::kCurrentRow, -1));
  g_log.push_back("click row " + std::to_string(row));
  return {};
}
rt::HandlerResult on_button(const int64_t*, int32_t) {
  g_log.push_back("button");
  return {};
}
rt::HandlerResult on_destroying(const int64_t*, int32_t) {
  const bool list_alive = rt::unit_native_window(kWindow, kList) != nullptr;
  g_log.push_back(list_alive ? "destroying, list alive" : "destroying");
  return {};
}

// Switches the edit box to multi-line (1) or back (0) from inside its own change handler when
// asked; -1 leaves it.
int g_multi_line_on_change = -1;
rt::HandlerResult on_box_changed(const int64_t*, int32_t) {
  g_log.push_back("changed");
  const int multi_line = std::exchange(g_multi_line_on_change, -1);
  if (multi_line >= 0) {
    rt::set_property(kWindow, kBox, units::edit_property::kMultiLine, -1,
                     static_cast<uint32_t>(multi_line), 0);
  }
  return {};
}

// Re-creates the list from inside its own activation handler when asked.
bool g_recreate_on_activation = false;
rt::HandlerResult on_list_activated(const int64_t*, int32_t) {
  g_log.push_back("activated");
  if (std::exchange(g_recreate_on_activation, false))
    rt::set_property(kWindow, kList, lp::kView, -1, 3, 0);
  return {};
}

const rt::EventHandler kRoutines[] = {&on_list_click, &on_button, &on_destroying, &on_box_changed,
                                      &on_list_activated};
int32_t offset_of(int index) {
  return index * static_cast<int32_t>(sizeof(rt::EventHandler));
}

rt::UnitRecord record(const units::PropertyValues& values, const char* name,
                      unit_test::Placement at, int32_t flags,
                      std::vector<rt::EventBinding> events = {}) {
  rt::UnitRecord r;
  r.kind = values.kind();
  r.name = name;
  r.left = at.left;
  r.top = at.top;
  r.width = at.width;
  r.height = at.height;
  r.flags = flags;
  r.cursor_data = {0, 0, 0, 0};
  r.events = std::move(events);
  r.property_data = values.encode();
  return r;
}

std::vector<uint8_t> build_templates() {
  const unit_test::StartWindowValues start;
  units::PropertyValues status = units::PropertyValues::defaults(units::kKindTransLabel);
  const int32_t visible = rt::kUnitVisible;
  const int32_t tab = rt::kUnitTabStop;
  std::vector<std::pair<uint32_t, rt::UnitRecord>> units = {
      {kOwn, record(start.window, "start", {50, 50, 678, 505}, visible, {{2, offset_of(2)}})},
      {kLabel, record(status, "label", {208, 88, 192, 32}, 0)},
      {kButton,
       record(start.search_button, "button", {7, 208, 88, 32}, visible | tab, {{0, offset_of(1)}})},
      {kList, record(start.results, "list", {0, 8, 664, 192}, visible | tab,
                     {{4, offset_of(0)}, {1, offset_of(4)}})},
      {kBox,
       record(start.search_box, "box", {104, 208, 110, 32}, visible | tab, {{0, offset_of(3)}})},
  };
  for (auto& [id, r] : units) {
    if (id != kOwn)
      units[0].second.children.push_back(id);
  }
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
  for (auto& [id, r] : units) records.emplace_back(id, rt::encode_unit_record(r));
  std::vector<rt::WindowTemplate> windows(1);
  windows[0].id = kWindow;
  windows[0].units.assign_records(records);
  return rt::encode_templates(windows);
}

void start_once() {
  static bool started = false;
  if (started)
    return;
  started = true;
  static const std::vector<uint8_t> data = build_templates();
  static const rt::UnitLibrary* const kLibraries[] = {&units::core_unit_library(),
                                                      &units::extended_unit_library()};
  static rt::ProgramInfo info;
  info.unit_library_count = 2;
  info.unit_libraries = kLibraries;
  info.code_base = kRoutines;
  info.template_data = data.data();
  info.template_length = data.size();
  rt::startup(info);
}

class WithCore : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_once(); }
  void SetUp() override {
    g_log.clear();
    ASSERT_TRUE(rt::load_window(kWindow, nullptr, false));
  }
  void TearDown() override {
    if (rt::window_loaded(kWindow))
      windowing::destroy(rt::unit_native_window(kWindow, 0));
    unit_test::settle();
    rt::detail::loop_state().quit_posted = false;
  }

  static rt::Cell ref() { return rt::UnitRef{kWindow, kList, units::kKindListView}.cell(); }
  static int32_t get_int(uint32_t unit, int32_t index) {
    return static_cast<int32_t>(rt::get_property(kWindow, unit, index, -1));
  }
  static void set_int(uint32_t unit, int32_t index, int32_t v) {
    rt::set_property(kWindow, unit, index, -1, static_cast<uint32_t>(v), 0);
  }
  static rt::Text get_text(uint32_t unit, int32_t index) {
    return rt::Text::adopt(reinterpret_cast<char*>(rt::get_property(kWindow, unit, index, -1)));
  }
  static void set_text(uint32_t unit, int32_t index, const char* text) {
    const auto p = reinterpret_cast<uintptr_t>(text);
    rt::set_property(kWindow, unit, index, -1, static_cast<uint32_t>(p),
                     static_cast<uint32_t>(p >> 32));
  }
  static QTableView* table() {
    return qobject_cast<QTableView*>(static_cast<QWidget*>(rt::unit_native_window(kWindow, kList)));
  }
};

TEST_F(WithCore, PropertiesCrossTheCoreWithTheirTypes) {
  EXPECT_EQ(get_int(kList, lp::kCurrentRow), -1);
  set_text(kLabel, units::label_property::kCaption, "搜索中，请耐心等待......");
  EXPECT_EQ(get_text(kLabel, units::label_property::kCaption).view(), "搜索中，请耐心等待......");
  set_int(kLabel, 5, 1);
  EXPECT_TRUE(windowing::is_visible(rt::unit_native_window(kWindow, kLabel)));
  EXPECT_EQ(get_text(kOwn, units::window_property::kCaption).view(), "影视资源搜索工具 V1.1");
  set_int(kOwn, units::window_property::kAlwaysOnTop, 1);
  EXPECT_EQ(get_int(kOwn, units::window_property::kAlwaysOnTop), 1);
  EXPECT_TRUE(windowing::is_visible(rt::unit_native_window(kWindow, 0)));
  set_int(kList, lp::kBorder, -4);  // a negative choice reaches the kind as 0
  EXPECT_EQ(get_int(kList, lp::kBorder), 0);
}

TEST_F(WithCore, WorkerFillsTheListAndReadsItBack) {
  std::atomic<bool> done{false};
  std::string back;
  std::thread worker([&] {
    rt::call(units::delete_all_rows, ref());
    for (int r = 0; r < 200; ++r) {
      const int32_t k = rt::call_int(units::insert_row, ref());
      for (int c = 0; c < 6; ++c) {
        rt::call(units::set_cell_text, ref(), k, c, std::to_string(r * 10 + c).c_str());
      }
    }
    set_int(kList, lp::kCurrentRow, 7);
    const int32_t row = get_int(kList, lp::kCurrentRow);
    back = rt::call_text(units::cell_text, ref(), row, 3).c_str();
    done = true;
  });
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  EXPECT_EQ(back, "73");
  EXPECT_EQ(table()->model()->rowCount(), 200);
}

TEST_F(WithCore, RecreationOnAViewChangeKeepsTheRows) {
  for (int i = 0; i < 3; ++i) rt::call(units::insert_row, ref(), -1, std::to_string(i).c_str());
  set_int(kList, lp::kCurrentRow, 2);
  void* before = rt::unit_native_window(kWindow, kList);
  set_int(kList, lp::kTextColour, units::colour(0, 0, 255));
  EXPECT_EQ(rt::unit_native_window(kWindow, kList), before) << "a colour applies at once";
  set_int(kList, lp::kView, 3);
  unit_test::settle();
  void* after = rt::unit_native_window(kWindow, kList);
  EXPECT_NE(after, before) << "the view re-creates the list";
  EXPECT_FALSE(windowing::is_window(before));
  EXPECT_TRUE(windowing::is_visible(after));
  EXPECT_EQ(get_int(kList, lp::kCurrentRow), 2);
  EXPECT_EQ(get_int(kList, lp::kTextColour), units::colour(0, 0, 255));
  EXPECT_EQ(rt::call_text(units::cell_text, ref(), 1).view(), "1");
}

// A handler may re-create the very unit whose event it is handling: the old unit's widget is
// still inside its own event handling, so it must outlive the handler.
TEST_F(WithCore, AnEditBoxReCreatedInsideItsOwnChangeHandler) {
  auto* line =
      qobject_cast<QLineEdit*>(static_cast<QWidget*>(rt::unit_native_window(kWindow, kBox)));
  ASSERT_NE(line, nullptr);
  g_multi_line_on_change = 1;
  // A typed key: the line edit is still inside its key handling when the change handler runs.
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Exclam, Qt::NoModifier, "!");
  QApplication::sendEvent(line, &key);
  EXPECT_EQ(g_log, std::vector<std::string>{"changed"});
  unit_test::settle();
  QWidget* fresh = static_cast<QWidget*>(rt::unit_native_window(kWindow, kBox));
  EXPECT_EQ(qobject_cast<QLineEdit*>(fresh), nullptr) << "now multi-line";
  EXPECT_TRUE(fresh->isVisible());
  EXPECT_EQ(get_text(kBox, units::edit_property::kContent).view(), "周星驰!");
}

TEST_F(WithCore, ClicksReachTheBoundHandlers) {
  for (int i = 0; i < 2; ++i) rt::call(units::insert_row, ref(), -1, "row");
  unit_test::settle();
  QWidget* viewport = table()->viewport();
  auto click = [&](QPoint at) {
    const QPointF global = viewport->mapToGlobal(QPointF(at));
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QApplication::sendEvent(viewport, &release);
  };
  click(table()->visualRect(table()->model()->index(1, 0)).center());
  click(QPoint(20, viewport->height() - 4));
  qobject_cast<QAbstractButton*>(static_cast<QWidget*>(rt::unit_native_window(kWindow, kButton)))
      ->click();
  EXPECT_EQ(g_log, (std::vector<std::string>{"click row 1", "click row -1", "button"}));
}

// Content set through the core makes a multi-line box raise its change event while the unit is
// still applying the property; a handler that re-creates the box ends that unit.
TEST_F(WithCore, AMultiLineBoxReCreatedByTheChangeOfItsContent) {
  set_int(kBox, units::edit_property::kMultiLine, 1);
  unit_test::settle();
  g_log.clear();
  g_multi_line_on_change = 0;
  {
    const FreedBlocksKept kept;
    set_text(kBox, units::edit_property::kContent, "新的内容");
  }
  EXPECT_EQ(g_log, std::vector<std::string>{"changed"});
  unit_test::settle();
  auto* fresh = static_cast<QWidget*>(rt::unit_native_window(kWindow, kBox));
  EXPECT_NE(qobject_cast<QLineEdit*>(fresh), nullptr) << "single-line again";
  EXPECT_EQ(get_text(kBox, units::edit_property::kContent).view(), "新的内容");
}

// With hot tracking one click activates the row (event 1) before it raises the click (4). An
// activation handler that re-creates the list deletes the unit whose click is being handled:
// the click ends with it.
TEST_F(WithCore, ActivationHandlerReCreatesTheListMidClick) {
  set_int(kList, lp::kHotTracking, 1);
  unit_test::settle();
  for (int i = 0; i < 2; ++i) rt::call(units::insert_row, ref(), -1, "row");
  unit_test::settle();
  void* before = rt::unit_native_window(kWindow, kList);
  QWidget* viewport = table()->viewport();
  const QPoint at = table()->visualRect(table()->model()->index(1, 0)).center();
  const QPointF global = viewport->mapToGlobal(QPointF(at));
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(viewport, &press);
  g_recreate_on_activation = true;
  {
    const FreedBlocksKept kept;
    QApplication::sendEvent(viewport, &release);
  }
  EXPECT_EQ(g_log, std::vector<std::string>{"activated"});
  unit_test::settle();
  EXPECT_NE(rt::unit_native_window(kWindow, kList), before) << "re-created";
  EXPECT_EQ(rt::call_text(units::cell_text, ref(), 1).view(), "row");
}

TEST_F(WithCore, ClosingTheWindowEndsItsUnits) {
  auto* top = static_cast<QWidget*>(rt::unit_native_window(kWindow, 0));
  EXPECT_TRUE(top->close());
  unit_test::settle();
  EXPECT_EQ(g_log, std::vector<std::string>{"destroying, list alive"});
  EXPECT_FALSE(rt::window_loaded(kWindow));
  EXPECT_FALSE(rt::call(units::insert_row, ref()).given()) << "the list is gone";
  // Loaded again, the window starts from its template.
  ASSERT_TRUE(rt::load_window(kWindow, nullptr, false));
  EXPECT_EQ(table()->model()->rowCount(), 0);
  EXPECT_EQ(get_text(kOwn, units::window_property::kCaption).view(), "影视资源搜索工具 V1.1");
}

// Sizes in points become pixels at the screen's real resolution, in the core and in the units
// alike, so a size set through the core shows at that size and reads back unchanged. In a
// process of its own whose screen has 120 pixels per inch, not the usual 96.
TEST(FontSizesDeathTest, FollowTheScreensResolution) {
  EXPECT_EXIT(
      {
        char config[] = "/tmp/ff-screen-XXXXXX.json";
        const int fd = mkstemps(config, 5);
        if (fd < 0)
          std::_Exit(2);
        close(fd);
        std::ofstream(config) << R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1024, )"
                              << R"("height": 768, "logicalDpi": 120, "logicalBaseDpi": 96}]})";
        setenv("QT_QPA_PLATFORM", (std::string("offscreen:configfile=") + config).c_str(), 1);
        setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);  // the resolution as it is, unscaled
        start_once();
        std::remove(config);
        if (!rt::load_window(kWindow, nullptr, false))
          std::_Exit(2);
        auto* list = static_cast<QWidget*>(rt::unit_native_window(kWindow, kList));
        const auto points = [](uint32_t unit, int32_t index) {
          return static_cast<int32_t>(rt::get_property(kWindow, unit, index, 5));
        };
        // A unit without a font of its own shows the application's.
        const int32_t default_points = points(kLabel, units::label_property::kFont);
        rt::set_property(kWindow, kList, lp::kFont, 5, 12, 0);
        const int application_points = QApplication::font().pointSize();
        std::fprintf(stderr, "dpi %d, default %s, set 12: %d pixels, reads %d\n",
                     list->logicalDpiY(),
                     default_points == application_points ? "as the application's" : "other",
                     list->font().pixelSize(), points(kList, lp::kFont));
        std::fflush(nullptr);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0),
      "dpi 120, default as the application's, set 12: 20 pixels, reads 12");
}

}  // namespace
