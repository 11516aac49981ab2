// The picture unit over real Qt widgets: every write of its picture property has the bytes
// decoded off the window thread, and the box paints them as its display mode says once they
// are; bytes that do not decode leave it empty. The posters of every kind are saved under
// screenshots/ for a look by eye.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "costly_pictures.h"
#include "decoders/picture.h"
#include "picture_files.h"
#include "units/picture_loader.h"
#include "units/unit_test_support.h"

namespace {

using namespace unit_test;
namespace pp = units::picture_property;

constexpr uint32_t kPoster = 0x160121E2;
constexpr int kFrameWidth = 163, kFrameHeight = 211;
constexpr QRgb kBackground = 0xFFF0F0F0;

// Runs the window thread until every picture written is decoded and shown, and nothing is left
// of a superseded one but its dropped answer.
void wait_for_pictures() {
  QElapsedTimer clock;
  clock.start();
  while (units::pictures_pending() && clock.elapsed() < 20000) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(units::pictures_pending());
  settle();
}

void run_window_thread_for(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

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
                       QWidget* parent = nullptr,
                       Placement at = {0, 0, kFrameWidth, kFrameHeight}) {
    units::PropertyValues v = units::PropertyValues::defaults(units::kKindPicBox);
    v.set_word(pp::kBorder, units::kBorderNone);
    v.set_word(pp::kBackgroundColour, units::colour(0xF0, 0xF0, 0xF0));
    v.set_word(pp::kDisplayMode, display_mode);
    v.set_word(pp::kAnimate, animate ? 1 : 0);
    v.set_bytes(pp::kPicture, picture);
    rt::UnitObject* u =
        create_unit(units::kKindPicBox, v.encode(), parent ? parent : top, at, kPoster);
    EXPECT_NE(u, nullptr);
    core.add(u);
    widget_of(u)->show();
    top->show();
    wait_for_pictures();
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
    rt::UnitObject* u =
        make(1, picture_files::read(file), false, &sheet, {left, 8, kFrameWidth, kFrameHeight});
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
      {0, {45, 69}, {45, 69}, {46, 0}},         // top left, actual size
      {1, {162, 210}, {45, 69}, {-1, -1}},      // scaled to the frame
      {2, {58, 70}, {0, 0}, {57, 69}},          // centred: (163 - 46) / 2 = 58, (211 - 70) / 2
      {3, {13, 1}, {0, 0}, {11, 100}},          // aspect kept: 139 x 211 at x 12
      {4, {46 + 5, 70 + 6}, {5, 6}, {-1, -1}},  // tiled
  };
  for (const Case& c : cases) {
    rt::UnitObject* u = make(c.mode, bytes, false);
    const QImage shown = look(u);
    EXPECT_TRUE(near(shown.pixel(c.inside), p->pixel(c.at.x(), c.at.y()), 16)) << "mode " << c.mode;
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
    wait_for_pictures();
    ASSERT_NE(look(u).pixel(80, 100), kBackground);
    set_bytes(u, pp::kPicture, bytes);
    wait_for_pictures();
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

// ---- decoding off the window thread -------------------------------------------------------

constexpr QRgb kRed = 0xFFE02020, kGreen = 0xFF20C040;

// A flat 4096 x 4096 JPEG of one colour: a third of a second or more to decode here.
std::vector<uint8_t> slow_picture(QRgb colour, costly::Coding coding) {
  costly::JpegShape shape(4096, 4096, 3, coding, {}, costly::Chroma::kQuarter);
  shape.sample = {static_cast<uint8_t>(qRed(colour)), static_cast<uint8_t>(qGreen(colour)),
                  static_cast<uint8_t>(qBlue(colour)), 0};
  return costly::encode_jpeg(shape);
}
const std::vector<uint8_t>& slow_red() {
  static const std::vector<uint8_t> bytes = slow_picture(kRed, costly::Coding::kBaseline);
  return bytes;
}
const std::vector<uint8_t>& slow_green() {
  static const std::vector<uint8_t> bytes = slow_picture(kGreen, costly::Coding::kProgressive);
  return bytes;
}

// The write returns before the decode: the property reads back the bytes at once, the box
// shows what it showed, and the picture follows when it is ready.
TEST_F(PicBox, WrittenBytesReadBackAtOnceAndShowWhenDecoded) {
  rt::UnitObject* u = make(1, {}, false);
  set_bytes(u, pp::kPicture, slow_red());
  EXPECT_EQ(get_text(u, pp::kPicture), std::string(slow_red().begin(), slow_red().end()));
  EXPECT_TRUE(units::pictures_pending());
  EXPECT_EQ(look(u).pixel(80, 100), kBackground);  // grabbing runs no posted answer
  wait_for_pictures();
  EXPECT_TRUE(near(look(u).pixel(80, 100), kRed));
}

// A timer on the window thread keeps its time while a picture decodes.
TEST_F(PicBox, WindowThreadAnswersWhileAPictureDecodes) {
  rt::UnitObject* u = make(1, {}, false);
  const std::vector<uint8_t>& slow = slow_green();
  QElapsedTimer clock;
  qint64 fired_at = -1;
  bool still_decoding = false;
  QTimer::singleShot(10, [&] {
    fired_at = clock.elapsed();
    still_decoding = units::pictures_pending();
  });
  clock.start();
  set_bytes(u, pp::kPicture, slow);
  while (fired_at < 0 && clock.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_GE(fired_at, 0);
  EXPECT_LT(fired_at, 100);
  EXPECT_TRUE(still_decoding) << "the picture decoded too fast for this to prove anything";
  wait_for_pictures();
  EXPECT_TRUE(near(look(u).pixel(80, 100), kGreen));
}

// A write while an earlier picture decodes: the earlier one never shows, neither before the
// later picture nor after an empty byte set, which clears the box at once.
TEST_F(PicBox, LaterWriteSupersedesAnUnfinishedDecode) {
  rt::UnitObject* u = make(1, {}, false);
  set_bytes(u, pp::kPicture, slow_red());
  run_window_thread_for(50);  // the decode thread is at it by now
  ASSERT_EQ(look(u).pixel(80, 100), kBackground) << "the first picture decoded too fast";
  set_bytes(u, pp::kPicture, slow_green());
  bool red_seen = false;
  while (units::pictures_pending()) {
    QApplication::processEvents();
    red_seen = red_seen || near(look(u).pixel(80, 100), kRed);
  }
  settle();
  EXPECT_FALSE(red_seen);
  EXPECT_TRUE(near(look(u).pixel(80, 100), kGreen));

  set_bytes(u, pp::kPicture, slow_red());
  run_window_thread_for(50);
  set_bytes(u, pp::kPicture, {});
  EXPECT_EQ(look(u).pixel(80, 100), kBackground);
  EXPECT_TRUE(units::pictures_pending()) << "the first picture decoded too fast";
  wait_for_pictures();
  EXPECT_EQ(look(u).pixel(80, 100), kBackground);
}

// A unit destroyed with its picture still waiting for the decode thread, or in it: the answer
// goes nowhere (the sanitizer builds see any use of the unit after it is gone).
TEST_F(PicBox, DestroyingTheUnitWhileItsPictureDecodesIsSafe) {
  for (int wait_ms : {0, 50}) {
    rt::UnitObject* u = make(1, {}, false);
    set_bytes(u, pp::kPicture, slow_red());
    run_window_thread_for(wait_ms);
    delete widget_of(u);
    wait_for_pictures();
  }
  rt::UnitObject* u = make(1, picture_files::read("poster.jpg"), false);
  EXPECT_NE(look(u).pixel(80, 100), kBackground);
}

size_t thread_count() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

// However many pictures are written to however many boxes, one thread decodes them, and each
// box shows the last picture written to it.
TEST_F(PicBox, OneDecodeThreadServesEveryWrite) {
  // The thread sanitizer starts a thread of its own beside the process's first other thread.
  std::thread([] {}).join();
  const size_t before = thread_count();
  std::vector<rt::UnitObject*> boxes;
  for (int i = 0; i < 4; ++i) boxes.push_back(make(1, {}, false));
  for (int round = 0; round < 5; ++round) {
    for (rt::UnitObject* u : boxes)
      set_bytes(u, pp::kPicture, round % 2 ? slow_green() : slow_red());
  }
  EXPECT_LE(thread_count(), before + 1);
  wait_for_pictures();
  for (rt::UnitObject* u : boxes) EXPECT_TRUE(near(look(u).pixel(80, 100), kRed));
}

}  // namespace
