#include "platform/windowing/font_size.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <cstdlib>

namespace windowing {
namespace {

constexpr int kPointsPerInch = 72;
constexpr int kFallbackDpi = 96;

}  // namespace

int vertical_dpi(Handle h) {
  int dpi = 0;
  if (is_window(h)) {
    // The widget's own answer follows the screen it is on, as its fonts do.
    dpi = static_cast<QWidget*>(h)->logicalDpiY();
  } else if (const QScreen* screen = qGuiApp ? QGuiApplication::primaryScreen() : nullptr) {
    dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
  }
  return dpi > 0 ? dpi : kFallbackDpi;
}

int font_pixels(double points, Handle h) {
  return static_cast<int>(std::lround(points * vertical_dpi(h) / kPointsPerInch));
}

int font_points(int pixels, Handle h) {
  const int dpi = vertical_dpi(h);
  return static_cast<int>(std::lround(std::abs(pixels) * double{kPointsPerInch} / dpi));
}

}  // namespace windowing
