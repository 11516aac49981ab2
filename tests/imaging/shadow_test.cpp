// The window shadow over real Qt windows. Offscreen there is no compositor, so the shadow's
// geometry and behaviour are tested with translucency forced on, and shown to do nothing
// without it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QWidget>

#include "decoders/picture.h"
#include "imaging/window_shadow.h"
#include "platform/windowing/layered_window_widget.h"
#include "platform/windowing/window_thread.h"
#include "runtime/runtime.h"

namespace {

using imaging::WindowShadow;

void settle() {
  for (int i = 0; i < 3; ++i) {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

class Shadow : public ::testing::Test {
 protected:
  QWidget* target = nullptr;

  void SetUp() override {
    windowing::start_application();
    imaging::force_translucency(true);
    target = new QWidget;
    target->show();
    settle();
    place_frame(QRect(100, 100, 640, 480));
  }

  // The window's outer rectangle, frame included, as the shadow measures it.
  void place_frame(QRect outer) {
    const QRect f = target->frameGeometry(), g = target->geometry();
    target->setGeometry(outer.adjusted(g.left() - f.left(), g.top() - f.top(),
                                       g.right() - f.right(), g.bottom() - f.bottom()));
    settle();
    ASSERT_EQ(target->frameGeometry(), outer);
  }
  void TearDown() override {
    imaging::force_translucency(std::nullopt);
    delete target;
    settle();
  }
};

TEST_F(Shadow, SurroundsTheWindowBySizeOnEverySide) {
  WindowShadow shadow;
  shadow.attach(target, 40, 100);
  settle();
  ASSERT_NE(shadow.window(), nullptr);
  EXPECT_EQ(shadow.window()->geometry(), QRect(60, 60, 720, 560));
  EXPECT_TRUE(shadow.window()->isVisible());
  EXPECT_TRUE(shadow.window()->testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_TRUE(shadow.window()->windowFlags() & Qt::WindowTransparentForInput);
  EXPECT_EQ(shadow.window()->content().size(), QSize(720, 560));
  // The mask leaves out the window's own rectangle and keeps the frame around it.
  const QRegion mask = shadow.window()->mask();
  EXPECT_TRUE(mask.contains(QPoint(10, 10)));
  EXPECT_TRUE(mask.contains(QPoint(39, 300)));
  EXPECT_FALSE(mask.contains(QPoint(40, 40)));
  EXPECT_FALSE(mask.contains(QPoint(679, 519)));
  EXPECT_TRUE(mask.contains(QPoint(680, 519)));
  // A look at the shadow around a window drawn the way the start window sits on it.
  QImage look = shadow.window()->content().copy();
  QPainter(&look).fillRect(40, 40, 640, 480, QColor(0xEC, 0xE9, 0xD8));
  const std::string dir = rt::program_directory() + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  look.save(QString::fromStdString(dir + "/shadow_around_window.png"));
}

TEST_F(Shadow, SizeAndStrengthHaveFloors) {
  WindowShadow shadow;
  shadow.attach(target, 10, 10);
  settle();
  EXPECT_EQ(shadow.size(), 20);
  ASSERT_NE(shadow.window(), nullptr);
  EXPECT_EQ(shadow.window()->geometry(), QRect(80, 80, 680, 520));
  // Strength 10 becomes alpha 30 in the middle of the shadow.
  EXPECT_EQ(qAlpha(shadow.window()->content().pixel(340, 260)), 30);
}

TEST_F(Shadow, FollowsMovesAndRebuildsOnRefresh) {
  WindowShadow shadow;
  shadow.attach(target, 40, 100);
  settle();
  target->move(300, 250);
  settle();
  EXPECT_EQ(shadow.window()->geometry(), QRect(260, 210, 720, 560));
  place_frame(QRect(300, 250, 500, 300));
  shadow.refresh();  // what the window's size-changed event does
  settle();
  EXPECT_EQ(shadow.window()->geometry(), QRect(260, 210, 580, 380));
  EXPECT_EQ(shadow.window()->content().size(), QSize(580, 380));
  EXPECT_FALSE(shadow.window()->mask().contains(QPoint(539, 339)));
  EXPECT_TRUE(shadow.window()->mask().contains(QPoint(540, 339)));
}

TEST_F(Shadow, SecondAttachCreatesNothing) {
  WindowShadow shadow;
  shadow.attach(target, 40, 100);
  settle();
  imaging::LayeredWindow* first = shadow.window();
  shadow.attach(target, 60, 200);
  settle();
  EXPECT_EQ(shadow.window(), first);
  EXPECT_EQ(shadow.creations(), 1);
  int layered = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    layered += dynamic_cast<imaging::LayeredWindow*>(w) ? 1 : 0;
  EXPECT_EQ(layered, 1);
}

TEST_F(Shadow, ClosingTheWindowClosesTheShadowAndAllowsANewOne) {
  WindowShadow shadow;
  shadow.attach(target, 40, 100);
  settle();
  target->close();
  settle();
  EXPECT_EQ(shadow.window(), nullptr);
  EXPECT_EQ(shadow.creations(), 0);
  target->show();
  shadow.attach(target, 40, 100);
  settle();
  EXPECT_NE(shadow.window(), nullptr);
}

TEST_F(Shadow, WithoutTranslucencyNothingIsCreated) {
  imaging::force_translucency(false);
  WindowShadow shadow;
  shadow.attach(target, 40, 100);
  shadow.refresh();
  settle();
  EXPECT_EQ(shadow.window(), nullptr);
  EXPECT_EQ(shadow.creations(), 0);
  imaging::force_translucency(std::nullopt);
  EXPECT_FALSE(imaging::translucency_available());  // offscreen has no compositor
}

// A 300 x 200 PNG on a layered window: the window takes the picture's size where it stands, and
// the picture's alpha.
TEST_F(Shadow, LayeredWindowTakesThePicturesSizeAndAlpha) {
  imaging::LayeredWindow window(nullptr);
  window.move(30, 40);
  const std::vector<uint8_t> png = imaging::shadow_picture(260, 160, 20, 0xFF, 200);
  imaging::show_picture_on_layered_window(&window, png);
  EXPECT_EQ(window.size(), QSize(300, 200));
  EXPECT_EQ(window.pos(), QPoint(30, 40));
  const QColor middle = window.content().pixelColor(150, 100);
  EXPECT_EQ(middle.alpha(), 200);
  EXPECT_EQ(middle.red(), 255);  // 0xFF is red in the platform's colour order
  EXPECT_EQ(qAlpha(window.content().pixel(0, 0)), 0);
  imaging::show_picture_on_layered_window(&window, std::vector<uint8_t>{1, 2, 3});
  EXPECT_EQ(window.size(), QSize(0, 0));
}

}  // namespace
