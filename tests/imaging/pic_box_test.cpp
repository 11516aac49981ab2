// The picture unit over real Qt widgets: every write of its picture property decodes the bytes
// and the box paints them as its display mode says; bytes that do not decode leave it empty.
// The posters of every kind are saved under screenshots/ for a look by eye.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include <set>

#include "imaging/picture.h"
#include "picture_files.h"
#include "units/unit_test_support.h"

namespace {

using namespace unit_test;
namespace pp = units::picture_property;

constexpr uint32_t kPoster = 0x160121E2;
constexpr int kFrameWidth = 163, kFrameHeight = 211;
constexpr QRgb kBackground = 0xFFF0F0F0;

class PicBox : public ::testing::Test {
 protected:
  FakeCore core;
  QWidget* top = nullptr;

  void SetUp() override {
    top = new QWidget;
    top->resize(kFrameWidth, kFrameHeight);
  }
  void TearDown() override {
    delete top;
    settle();
  }

  rt::UnitObject* make(int32_t display_mode, const std::vector<uint8_t>& picture, bool animate,
                       QWidget* parent = nullptr, Placement at = {0, 0, kFrameWidth,
                                                                  kFrameHeight}) {
    units::PropertyValues v = units::PropertyValues::defaults(units::kKindPicBox);
    v.set_word(pp::kBorder, units::kBorderNone);
    v.set_word(pp::kBackgroundColour, units::colour(0xF0, 0xF0, 0xF0));
    v.set_word(pp::kDisplayMode, display_mode);
    v.set_word(pp::kAnimate, animate ? 1 : 0);
    v.set_bytes(pp::kPicture, picture);
    rt::UnitObject* u = create_unit(units::kKindPicBox, v.encode(), parent ? parent : top, at,
                                    kPoster);
    EXPECT_NE(u, nullptr);
    core.add(u);
    widget_of(u)->show();
    top->show();
    settle();
    return u;
  }

  static QImage look(rt::UnitObject* u) {
    return widget_of(u)->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  }
};

bool near(QRgb a, QRgb b, int tolerance = 12) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A 230 x 306 poster of each kind, scaled into the 163 x 211 frame: the top left corner shows
// the poster's top left colour, the bottom right its bottom right colour, nothing of the
// background shows, and the picture of every box goes into one screenshot.
TEST_F(PicBox, PostersOfEveryKindFillTheFrameScaled) {
  const char* files[] = {"poster.jpg", "poster.png", "poster.bmp", "poster.gif", "poster.pcx"};
  const std::vector<uint8_t> reference = picture_files::read("poster.png");
  const auto decoded = imaging::decode_picture(reference);
  ASSERT_TRUE(decoded);
  QWidget sheet;
  sheet.resize(5 * (kFrameWidth + 8) + 8, kFrameHeight + 16);
  sheet.setAutoFillBackground(true);
  int left = 8;
  for (const char* file : files) {
    rt::UnitObject* u = make(1, picture_files::read(file), false, &sheet,
                             {left, 8, kFrameWidth, kFrameHeight});
    left += kFrameWidth + 8;
    sheet.show();
    settle();
    const QImage shown = look(u);
    ASSERT_EQ(shown.size(), QSize(kFrameWidth, kFrameHeight));
    EXPECT_TRUE(near(shown.pixel(1, 1), decoded->pixel(1, 1))) << file;
    EXPECT_TRUE(near(shown.pixel(kFrameWidth - 2, kFrameHeight - 2), decoded->pixel(228, 304)))
        << file;
    // The middle: the rose, scaled by 163 / 230 and 211 / 306.
    EXPECT_TRUE(near(shown.pixel(81, 105), decoded->pixel(115, 153), 40)) << file;
  }
  save_screenshot(&sheet, "poster_kinds");
}

// Display modes on the 46 x 70 test picture in the 163 x 211 frame.
TEST_F(PicBox, DisplayModesPlaceThePicture) {
  const std::vector<uint8_t> bytes = picture_files::read("bmp_24bit.bmp");
  const auto p = imaging::decode_picture(bytes);
  ASSERT_TRUE(p);
  struct Case {
    int mode;
    QPoint inside, at;  // a point of the box and the picture's pixel expected there
    QPoint outside;     // a point showing the background (x < 0: none)
  };
  const Case cases[] = {
      {0, {45, 69}, {45, 69}, {46, 0}},       // top left, actual size
      {1, {162, 210}, {45, 69}, {-1, -1}},    // scaled to the frame
      {2, {58, 70}, {0, 0}, {57, 69}},        // centred: (163 - 46) / 2 = 58, (211 - 70) / 2
      {3, {13, 1}, {0, 0}, {11, 100}},       // aspect kept: 139 x 211 at x 12
      {4, {46 + 5, 70 + 6}, {5, 6}, {-1, -1}},  // tiled
  };
  for (const Case& c : cases) {
    rt::UnitObject* u = make(c.mode, bytes, false);
    const QImage shown = look(u);
    EXPECT_TRUE(near(shown.pixel(c.inside), p->pixel(c.at.x(), c.at.y()), 16))
        << "mode " << c.mode;
    if (c.outside.x() >= 0) {
      EXPECT_EQ(shown.pixel(c.outside), kBackground) << "mode " << c.mode;
    }
    delete widget_of(u);
    settle();
  }
}

// Writes that clear the picture or do not decode leave the background, silently; a good
// picture after them shows again.
TEST_F(PicBox, BadOrEmptyBytesLeaveNoPicture) {
  const std::vector<uint8_t> good = picture_files::read("poster.jpg");
  rt::UnitObject* u = make(1, good, false);
  ASSERT_NE(look(u).pixel(80, 100), kBackground);
  std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(good.size() / 2));
  const std::string html = "<html><body>404 Not Found</body></html>";
  const std::vector<std::vector<uint8_t>> bad = {
      {}, {0xFF, 0xD8, 0xFF}, cut, std::vector<uint8_t>(html.begin(), html.end())};
  for (const auto& bytes : bad) {
    set_bytes(u, pp::kPicture, good);
    settle();
    ASSERT_NE(look(u).pixel(80, 100), kBackground);
    set_bytes(u, pp::kPicture, bytes);
    settle();
    EXPECT_EQ(look(u).pixel(80, 100), kBackground) << bytes.size() << " bytes";
    // The bytes are kept as written, whatever they hold.
    EXPECT_EQ(get_text(u, pp::kPicture), std::string(bytes.begin(), bytes.end()));
  }
  EXPECT_TRUE(QApplication::topLevelWidgets().size() <= 2);  // no message box appeared
}

// With the animation setting on, a GIF's frames follow each other; with it off, the first
// frame stays.
TEST_F(PicBox, AnimationPlaysOnlyWhenOn) {
  const std::vector<uint8_t> gif = picture_files::read("gif_animated.gif");
  for (bool animate : {true, false}) {
    rt::UnitObject* u = make(0, gif, animate);
    std::set<QRgb> seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 700) {
      seen.insert(look(u).pixel(10, 10));
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (animate)
      EXPECT_EQ(seen, (std::set<QRgb>{0xFFFF0000, 0xFF00FF00, 0xFF0000FF}));
    else
      EXPECT_EQ(seen, (std::set<QRgb>{0xFFFF0000}));
    delete widget_of(u);
    settle();
  }
}

}  // namespace
