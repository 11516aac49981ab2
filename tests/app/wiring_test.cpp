// What the start window does as it is made and resized: the skin is handed to the engine first,
// with the program's own skin and look, then the shadow goes around the window, and every resize
// fits the shadow again. A stand-in engine mapped the way the real one is reports its call.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/ids.h"
#include "app/list_commands.h"
#include "app/program.h"
#include "bridges/embedded_library.h"
#include "imaging/window_shadow.h"
#include "platform/windowing/layered_window_widget.h"
#include "platform/windowing/native_window.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/value.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"
#include "skin/skin.h"
#include "units/list_view_commands.h"

namespace app_test {
extern const uint8_t kSkinProbeBlock[];
}

namespace {

using namespace app;

struct SkinCall {
  const uint8_t* data;
  int32_t length;
  const char* password;
  int32_t hue, saturation, brightness;
  bool shadow_there;  // whether the window had its shadow when the skin came
};
std::vector<SkinCall> g_skin_calls;

int32_t record_skin_call(const uint8_t* data, int32_t length, const char* password, int32_t hue,
                         int32_t saturation, int32_t brightness) {
  g_skin_calls.push_back({data, length, password, hue, saturation, brightness,
                          imaging::window_shadow(0).window() != nullptr});
  return 1;
}

void* find_recorder(const char* name, void*) {
  return std::string(name) == "ff_skin_probe_record" ? reinterpret_cast<void*>(&record_skin_call)
                                                     : nullptr;
}

QWidget* start_widget() {
  return static_cast<QWidget*>(rt::unit_native_window(kStartWindow, 0));
}

void settle() {
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
}

class StartWindowWiring : public testing::Test {
 protected:
  void SetUp() override {
    static bool started = false;
    if (!started) {
      started = true;
      rt::install_program_info(program_info());
      rt::Cell none{};
      rt::entry_table().runtime_routine(rt::kRoutineStartup, &none, 0, nullptr);
    }
    // Offscreen there is no compositor; the shadow is made all the same.
    imaging::force_translucency(true);
    const std::span<const uint8_t> image = rt::bytes_view(app_test::kSkinProbeBlock);
    g_library_loader = std::make_unique<bridges::EmbeddedLibrary>();
    ASSERT_TRUE(g_library_loader->load(image, {&find_recorder, nullptr}));
    g_skin_calls.clear();
  }
  void TearDown() override {
    if (rt::window_loaded(kStartWindow))
      windowing::destroy(start_widget());
    imaging::release_window_shadows();
    imaging::force_translucency(std::nullopt);
    g_library_loader.reset();
  }
};

// The application names the list-view commands by their library's place in the program
// information and their places in its command table: both must lead to the unit kinds' own.
TEST_F(StartWindowWiring, ListCommandsAreTheListViewsOwn) {
  EXPECT_EQ(list_command(kInsertRow), &units::insert_row);
  EXPECT_EQ(list_command(kSetCellText), &units::set_cell_text);
  EXPECT_EQ(list_command(kCellText), &units::cell_text);
  EXPECT_EQ(list_command(kDeleteAllRows), &units::delete_all_rows);
}

TEST_F(StartWindowWiring, SkinFirstThenAShadowOfForty) {
  rt::load_start_window(kStartWindow);
  settle();

  ASSERT_EQ(g_skin_calls.size(), 1u) << "the skin is handed over once, when the window is made";
  const SkinCall& skin = g_skin_calls[0];
  EXPECT_EQ(skin.data, skin::resource().data()) << "the skin the program carries";
  EXPECT_EQ(skin.length, static_cast<int32_t>(skin::resource().size()));
  EXPECT_EQ(skin.password, nullptr);
  EXPECT_EQ(skin.hue, 0);
  EXPECT_EQ(skin.saturation, 0);
  EXPECT_EQ(skin.brightness, -5);
  EXPECT_FALSE(skin.shadow_there) << "the skin comes before the shadow";

  const imaging::LayeredWindow* shadow = imaging::window_shadow(0).window();
  ASSERT_NE(shadow, nullptr);
  const QRect frame = start_widget()->frameGeometry();
  EXPECT_EQ(shadow->geometry().size(), frame.size() + QSize(80, 80)) << "forty on every side";
  // Under the window's middle the blur leaves the shadow's own alpha: its strength.
  const QImage& content = shadow->content();
  ASSERT_EQ(content.size(), frame.size() + QSize(80, 80));
  EXPECT_NEAR(content.pixelColor(content.width() / 2, content.height() / 2).alpha(), 100, 1);
}

TEST_F(StartWindowWiring, EveryResizeFitsTheShadowAgain) {
  rt::load_start_window(kStartWindow);
  settle();
  ASSERT_NE(imaging::window_shadow(0).window(), nullptr);
  for (const QSize size : {QSize(760, 560), QSize(700, 520)}) {
    start_widget()->resize(size);
    settle();
    const QRect frame = start_widget()->frameGeometry();
    EXPECT_EQ(imaging::window_shadow(0).window()->content().size(), frame.size() + QSize(80, 80))
        << size.width() << "x" << size.height();
  }
  EXPECT_EQ(g_skin_calls.size(), 1u) << "a resize does not hand the skin over again";
}

}  // namespace
