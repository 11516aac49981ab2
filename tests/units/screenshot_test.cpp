// Pictures of windows built from the unit kinds the way the core loads them (creation from the
// last table entry to the first, so the first entry ends on top; group boxes take their units),
// saved under screenshots/ in the program directory for a look by eye. The checks make sure the
// pictures show what matters: the label's text drawn over the list, and the rows.
#include <gtest/gtest.h>

#include <QImage>

#include "runtime/command.h"
#include "unit_test_support.h"
#include "units/list_view_commands.h"

namespace {

using namespace unit_test;

constexpr uint32_t kStartWindow = 0x52010001;

struct Entry {
  uint32_t id;
  const units::PropertyValues* values;
  Placement at;
  uint32_t parent;  // 0: the window
  bool visible;
  uint32_t style;
};

class Screens : public ::testing::Test {
 protected:
  FakeCore core;
  StartWindowValues start;
  units::PropertyValues status = units::PropertyValues::defaults(units::kKindTransLabel);
  units::PropertyValues poster_status = units::PropertyValues::defaults(units::kKindTransLabel);
  QWidget* top = nullptr;
  std::map<uint32_t, rt::UnitObject*> units_by_id;

  void TearDown() override {
    delete top;
    settle();
  }

  // Loads a window the way the core does, from its unit table in table order.
  void load(uint32_t window_id, const units::PropertyValues& window, Placement at,
            const std::vector<Entry>& table) {
    rt::UnitObject* w =
        create_unit(units::kKindWindow, window.encode(), nullptr, at, 0x06010000, window_id);
    ASSERT_NE(w, nullptr);
    top = widget_of(w);
    for (auto e = table.rbegin(); e != table.rend(); ++e) {
      rt::UnitObject* u = create_unit(e->values->kind(), e->values->encode(), top, e->at, e->id,
                                      window_id, e->style);
      ASSERT_NE(u, nullptr) << std::hex << e->id;
      core.add(u);
      units_by_id[e->id] = u;
    }
    for (const Entry& e : table) {
      if (e.parent == 0)
        continue;
      QWidget* child = widget_of(units_by_id[e.id]);
      child->setParent(widget_of(units_by_id[e.parent]));
      child->move(e.at.left, e.at.top);
    }
    for (auto e = table.rbegin(); e != table.rend(); ++e) {
      widget_of(units_by_id[e->id])->raise();  // table order is top-to-bottom
      widget_of(units_by_id[e->id])->setVisible(e->visible);
    }
    top->show();
    settle();
  }

  rt::Cell ref(uint32_t window_id, uint32_t id) const {
    return rt::UnitRef{window_id, id, units::kKindListView}.cell();
  }

  // Dark pixels inside a rectangle of a picture: letters on a light ground.
  static int dark_pixels(const QImage& image, QRect r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) {
        if (qGray(image.pixel(x, y)) < 110)
          ++n;
      }
    }
    return n;
  }
};

TEST_F(Screens, StartWindowWithResultsAndTheSearchStatusOverTheList) {
  status.set_word(units::label_property::kAlignment, 1);
  status.set_word(units::label_property::kVerticalAlignment, 1);
  status.set_word(units::label_property::kTextColour, units::colour(200, 0, 0));
  constexpr uint32_t kTab = rt::kStyleTabStop;
  load(kStartWindow, start.window, {50, 50, 678, 505},
       {
           {0x16012209, &start.play_button, {224, 208, 88, 32}, 0, true, rt::kStyleDisabled | kTab},
           {0x16012204, &start.notice, {328, 208, 336, 24}, 0, true, 0},
           {0x160121F5, &poster_status, {4, 97, 152, 32}, 0x160121E2, true, 0},
           {0x160121F3, &status, {208, 88, 192, 32}, 0, true, 0},
           {0x160121E3, &start.address_box, {7, 17, 480, 206}, 0x160121DF, true, kTab},
           {0x160121E2, &start.poster, {4, 16, 163, 211}, 0x160121E1, true, 0},
           {0x160121E1, &start.poster_frame, {496, 240, 171, 232}, 0, true, 0},
           {0x160121DF, &start.address_frame, {1, 241, 495, 231}, 0, true, 0},
           {0x16010004, &start.search_box, {104, 208, 112, 32}, 0, true, kTab},
           {0x16010003, &start.search_button, {7, 208, 88, 32}, 0, true, kTab},
           {0x16010002, &start.results, {0, 8, 664, 192}, 0, true, kTab},
       });
  const rt::Cell results = ref(kStartWindow, 0x16010002);
  const char* names[] = {"大话西游之大圣娶亲", "功夫",   "少林足球", "喜剧之王",
                         "唐伯虎点秋香",       "美人鱼", "食神"};
  for (int i = 0; i < 7; ++i) {
    const int32_t k = rt::call_int(units::insert_row, results);
    rt::call(units::set_cell_text, results, k, 0, std::to_string(k + 1).c_str());
    rt::call(units::set_cell_text, results, k, 1, i % 2 ? "HD国语" : "第01集(高清)");
    rt::call(units::set_cell_text, results, k, 2, names[i]);
    rt::call(units::set_cell_text, results, k, 4, "周星驰 吴孟达 朱茵");
  }
  set_int(units_by_id[0x16010002], units::list_property::kCurrentRow, 2);
  set_text(units_by_id[0x160121F3], units::label_property::kCaption, "搜索中，请耐心等待......");
  rt::UnitObject* box = units_by_id[0x160121E3];
  widget_of(box)->setEnabled(true);
  set_text(
      box, units::edit_property::kContent,
      "第01集$http://example.test/v/1/index.m3u8\r\n第02集$http://example.test/v/2/index.m3u8\r\n");
  settle();

  const std::string path = save_screenshot(top, "units_start_window");
  const QImage image(QString::fromStdString(path));
  ASSERT_FALSE(image.isNull()) << path;
  ASSERT_EQ(image.size(), QSize(678, 505));
  // The status label's letters show on top of the list (label 208,88 192x32 in the window).
  const QRect label_core(240, 96, 128, 16);
  EXPECT_GT(dark_pixels(image, label_core) + 0, 0);
  int red = 0;
  for (int y = label_core.top(); y <= label_core.bottom(); ++y) {
    for (int x = label_core.left(); x <= label_core.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 90 && c.blue() < 90)
        ++red;
    }
  }
  EXPECT_GT(red, 20) << "the label's red text is drawn over the list";
  // Row texts in the first rows of the list (list at 0,8; rows below the header).
  EXPECT_GT(dark_pixels(image, QRect(60, 40, 300, 40)), 50);
}

TEST_F(Screens, PlayListWindowOnTopWithItsEpisodeList) {
  units::PropertyValues window = units::PropertyValues::defaults(units::kKindWindow);
  window.set_text(units::window_property::kCaption, "播放列表");
  window.set_word(units::window_property::kAlwaysOnTop, 1);
  units::PropertyValues frame = units::PropertyValues::defaults(units::kKindGroupBox);
  frame.set_text(units::group_property::kCaption, "在线播放（单击所选集数）");
  units::PropertyValues episodes = units::PropertyValues::defaults(units::kKindListView);
  episodes.set_bytes(units::list_property::kColumns,
                     units::encode_columns(std::vector<units::ListColumn>{
                         {"序号", 50, 0}, {"集数", 105, 0}, {"播放地址", 0, 0}, {"地址", 0, 0}}));
  status.set_text(units::label_property::kCaption, "加载中......");
  status.set_word(units::label_property::kAlignment, 1);
  constexpr uint32_t kPlayList = 0x5201220C;
  load(kPlayList, window, {50, 50, 192, 408},
       {
           {0x1601224A, &status, {8, 156, 152, 32}, 0x1601220D, true, 0},
           {0x1601220E, &episodes, {6, 19, 160, 337}, 0x1601220D, true, rt::kStyleTabStop},
           {0x1601220D, &frame, {3, 4, 173, 364}, 0, true, 0},
       });
  const rt::Cell list = ref(kPlayList, 0x1601220E);
  for (int i = 0; i < 12; ++i) {
    const int32_t k = rt::call_int(units::insert_row, list);
    rt::call(units::set_cell_text, list, k, 0, std::to_string(k + 1).c_str());
    const std::string name = "第" + std::to_string(k + 1) + "集";
    rt::call(units::set_cell_text, list, k, 1, name.c_str());
    rt::call(units::set_cell_text, list, k, 3, "/play/1-1-1.html");
  }
  settle();
  EXPECT_TRUE(top->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  const std::string path = save_screenshot(top, "units_play_list_window");
  const QImage image(QString::fromStdString(path));
  ASSERT_EQ(image.size(), QSize(192, 408));
  EXPECT_GT(dark_pixels(image, QRect(15, 160, 150, 30)), 30) << "label over the episode rows";
}

}  // namespace
