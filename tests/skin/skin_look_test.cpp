// The skin on real windows: the start window built from the unit kinds, pictured without and
// with the skin that the mapped engine applies. Pictures are saved under screenshots/ in the
// program directory for a look by eye.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <memory>

#include "skin/engine/skin_format.h"
#include "skin/skin.h"
#include "units/list_view_commands.h"
#include "units/unit_test_support.h"

namespace {

using namespace unit_test;
namespace sf = skin_format;

constexpr uint32_t kStartWindow = 0x52010001;

// The skin's named colour after the program's shift.
QColor skin_colour(const char* name) {
  auto s = std::make_unique<sf::Skin>();
  const auto data = skin::resource();
  if (sf::read_skin(data.data(), data.size(), s.get()) != sf::Status::kOk)
    return {};
  for (int i = 0; i < s->colour_count; ++i) {
    if (std::string_view(s->colours[i].name) == name) {
      const sf::Colour c =
          sf::shift(s->colours[i].colour, skin::kHue, skin::kSaturation, skin::kBrightness);
      return QColor(c.red, c.green, c.blue);
    }
  }
  return {};
}

int differing_pixels(const QImage& a, const QImage& b) {
  int n = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
  }
  return n;
}

bool close_to(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6 &&
         std::abs(a.blue() - b.blue()) <= 6;
}

class SkinLook : public ::testing::Test {
 protected:
  void TearDown() override {
    delete top;
    settle();
    library.unload();
  }

  // The start window's units, created the way the core loads a window.
  void load_start_window() {
    struct Entry {
      uint32_t id;
      const units::PropertyValues* values;
      Placement at;
      uint32_t parent;
      uint32_t style;
    };
    const uint32_t tab = rt::kStyleTabStop;
    const Entry table[] = {
        {0x16012209, &start.play_button, {224, 208, 88, 32}, 0, rt::kStyleDisabled | tab},
        {0x16012204, &start.notice, {328, 208, 336, 24}, 0, 0},
        {0x160121E3, &start.address_box, {7, 17, 480, 206}, 0x160121DF, tab},
        {0x160121E2, &start.poster, {4, 16, 163, 211}, 0x160121E1, 0},
        {0x160121E1, &start.poster_frame, {496, 240, 171, 232}, 0, 0},
        {0x160121DF, &start.address_frame, {1, 241, 495, 231}, 0, 0},
        {0x16010004, &start.search_box, {104, 208, 112, 32}, 0, tab},
        {0x16010003, &start.search_button, {7, 208, 88, 32}, 0, tab},
        {0x16010002, &start.results, {0, 8, 664, 192}, 0, tab},
    };
    rt::UnitObject* w = create_unit(units::kKindWindow, start.window.encode(), nullptr,
                                    {50, 50, 678, 505}, 0x06010000, kStartWindow);
    ASSERT_NE(w, nullptr);
    top = widget_of(w);
    std::map<uint32_t, rt::UnitObject*> by_id;
    for (auto e = std::rbegin(table); e != std::rend(table); ++e) {
      rt::UnitObject* u = create_unit(e->values->kind(), e->values->encode(), top, e->at, e->id,
                                      kStartWindow, e->style);
      ASSERT_NE(u, nullptr);
      core.add(u);
      by_id[e->id] = u;
    }
    for (const Entry& e : table) {
      if (e.parent == 0)
        continue;
      widget_of(by_id[e.id])->setParent(widget_of(by_id[e.parent]));
      widget_of(by_id[e.id])->move(e.at.left, e.at.top);
    }
    for (auto e = std::rbegin(table); e != std::rend(table); ++e) {
      widget_of(by_id[e->id])->raise();
      widget_of(by_id[e->id])->show();
    }
    const rt::Cell results = rt::UnitRef{kStartWindow, 0x16010002, units::kKindListView}.cell();
    for (int i = 0; i < 5; ++i) {
      const int32_t k = rt::call_int(units::insert_row, results);
      rt::call(units::set_cell_text, results, k, 0, std::to_string(k + 1).c_str());
      rt::call(units::set_cell_text, results, k, 1, "第01集(高清)");
      rt::call(units::set_cell_text, results, k, 2, "大话西游之大圣娶亲");
      rt::call(units::set_cell_text, results, k, 4, "周星驰 吴孟达 朱茵");
    }
    set_int(by_id[0x16010002], units::list_property::kCurrentRow, 1);
    top->show();
    settle();
  }

  QImage picture(const char* name) {
    settle();
    return QImage(QString::fromStdString(save_screenshot(top, name)));
  }

  FakeCore core;
  StartWindowValues start;
  QWidget* top = nullptr;
  bridges::EmbeddedLibrary library;
};

TEST_F(SkinLook, TheStartWindowChangesWhenTheSkinIsApplied) {
  load_start_window();
  const QImage plain = picture("skin_start_window_plain");
  ASSERT_EQ(plain.size(), QSize(678, 505));

  ASSERT_TRUE(skin::load_engine(library));
  ASSERT_TRUE(skin::apply(library));
  const QImage skinned = picture("skin_start_window_skinned");
  ASSERT_EQ(skinned.size(), plain.size());

  EXPECT_GT(differing_pixels(plain, skinned), 678 * 505 / 4) << "the look changed visibly";
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), skin_colour("window"));
  // The window's own ground, right of the buttons, in the skin's window colour.
  EXPECT_TRUE(close_to(skinned.pixelColor(320, 236), skin_colour("window")))
      << skinned.pixelColor(320, 236).name().toStdString();
  // The chosen row stays marked in the accent colour although the list has no focus.
  int accent = 0;
  for (int x = 5; x < 660; ++x)
    accent += close_to(skinned.pixelColor(x, 62), skin_colour("accent"));
  EXPECT_GT(accent, 200) << "selected row visible";
}

TEST_F(SkinLook, AnEngineWithoutItsAttachStepRefuses) {
  load_start_window();
  const QColor before = QApplication::palette().color(QPalette::Window);
  ASSERT_TRUE(library.load(skin::engine_image(), {}, bridges::Attach::kMapOnly));
  EXPECT_FALSE(skin::apply(library));
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), before);
}

TEST_F(SkinLook, TheEngineRefusesDataThatIsNotASkin) {
  load_start_window();
  const QColor before = QApplication::palette().color(QPalette::Window);
  ASSERT_TRUE(skin::load_engine(library));
  const auto attach = reinterpret_cast<skin::AttachRes>(library.export_by_name(skin::kAttachName));
  ASSERT_NE(attach, nullptr);
  std::vector<uint8_t> data(skin::resource().begin(), skin::resource().end());
  const auto call = [&](const uint8_t* p, size_t n) {
    return attach(p, static_cast<int32_t>(n), nullptr, 0, 0, -5);
  };
  EXPECT_EQ(call(nullptr, data.size()), 0);
  EXPECT_EQ(call(data.data(), 0), 0);
  EXPECT_EQ(call(data.data(), data.size() - 1), 0);
  data[0] = 'x';
  EXPECT_EQ(call(data.data(), data.size()), 0);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), before);
}

TEST(Skin, ApplyWithoutALoadedEngineIsFalse) {
  bridges::EmbeddedLibrary nothing;
  EXPECT_FALSE(skin::apply(nothing));
}

}  // namespace
