#include "imaging/window_shadow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <array>
#include <cmath>

#include "bridges/automation_bridge.h"
#include "imaging/drawing.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define FF_HAVE_XCB 1
#endif

namespace imaging {
namespace {

std::optional<bool> g_forced_translucency;

constexpr uint32_t kMaskKey = 0xFFFF00FFu;  // magenta: the target's rectangle in the mask

// A platform colour (red in the low byte) with alpha, as the library's ARGB.
uint32_t argb_of(uint32_t rgb, uint8_t alpha) {
  return static_cast<uint32_t>(alpha) << 24 | (rgb & 0xFF) << 16 | (rgb & 0xFF00) |
         (rgb >> 16 & 0xFF);
}

#ifdef FF_HAVE_XCB
// A compositing manager owns the selection _NET_WM_CM_S<screen>.
bool x11_compositor_running() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection())
    return false;
  xcb_connection_t* c = x11->connection();
  const std::string name = "_NET_WM_CM_S0";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  if (!atom)
    return false;
  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
  const bool running = owner && owner->owner != XCB_NONE;
  free(owner);
  free(atom);
  return running;
}
#endif

}  // namespace

bool translucency_available() {
  if (g_forced_translucency)
    return *g_forced_translucency;
#ifdef FF_HAVE_XCB
  if (QGuiApplication::platformName() == "xcb")
    return x11_compositor_running();
#endif
  return false;
}

void force_translucency(std::optional<bool> answer) { g_forced_translucency = answer; }

// ---- layered window ----------------------------------------------------------------------------

LayeredWindow::LayeredWindow(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                         Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LayeredWindow::set_content(QImage content) {
  content_ = std::move(content);
  update();
}

void LayeredWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(rect(), Qt::transparent);
  if (!content_.isNull())
    p.drawImage(0, 0, content_);
}

void show_picture_on_layered_window(LayeredWindow* window, std::span<const uint8_t> picture) {
  start_graphics_library();
  Image image;
  float w = 0, h = 0;
  if (!image.load(picture) || !image.dimension(w, h)) {
    window->resize(0, 0);
    window->set_content({});
    return;
  }
  const int width = static_cast<int>(w), height = static_cast<int>(h);
  window->resize(width, height);
  // The library draws straight into the window's content: a bitmap over the image's rows.
  QImage content(width, height, QImage::Format_ARGB32);
  content.fill(Qt::transparent);
  Image canvas;
  Graphics graphics;
  if (canvas.create_bitmap_over(width, height, static_cast<int32_t>(content.bytesPerLine()),
                                content.bits()) &&
      graphics.from_image(canvas)) {
    graphics.draw_image(image, 0, 0, w, h);
  }
  graphics.remove();
  canvas.dispose();
  image.dispose();
  window->set_content(std::move(content));
}

// ---- pictures ----------------------------------------------------------------------------------

std::vector<uint8_t> shadow_picture(int32_t width, int32_t height, int32_t size, uint32_t rgb,
                                    uint8_t alpha) {
  start_graphics_library();
  std::vector<uint8_t> png;
  Image bitmap;
  SolidBrush brush;
  Effect blur;
  Graphics graphics;
  const raster::BlurParams params{static_cast<float>(size), 1};
  if (bitmap.create_bitmap(width + 2 * size, height + 2 * size) &&
      brush.create(argb_of(rgb, alpha)) && blur.create_blur() &&
      blur.set_parameters(&params, sizeof params) && graphics.from_image(bitmap) &&
      graphics.fill_rectangle(brush, static_cast<float>(size), static_cast<float>(size),
                              static_cast<float>(width), static_cast<float>(height)) &&
      bitmap.apply_effect(blur)) {
    bitmap.save(kPngFormatId, png);
  }
  brush.remove();
  graphics.remove();
  blur.remove();
  bitmap.dispose();
  return png;
}

std::vector<uint8_t> mask_picture(int32_t width, int32_t height, int32_t size) {
  start_graphics_library();
  std::vector<uint8_t> bmp;
  Image bitmap;
  SolidBrush white, magenta;
  Graphics graphics;
  const int32_t w = width + 2 * size, h = height + 2 * size;
  if (bitmap.create_bitmap(w, h) && white.create(0xFFFFFFFFu) && magenta.create(kMaskKey) &&
      graphics.from_image(bitmap) &&
      graphics.fill_rectangle(white, 0, 0, static_cast<float>(w), static_cast<float>(h)) &&
      graphics.fill_rectangle(magenta, static_cast<float>(size), static_cast<float>(size),
                              static_cast<float>(width), static_cast<float>(height))) {
    bitmap.save(kBmpFormatId, bmp);
  }
  white.remove();
  magenta.remove();
  graphics.remove();
  bitmap.dispose();
  return bmp;
}

namespace {

// The window shape from a picture, as a picture object draws it: one-row rectangles for each
// run of pixels that are not the key colour. `size` receives the picture's size in pixels
// (empty when the bytes are no picture).
QRegion shape_of(std::span<const uint8_t> picture, uint32_t key, QSize& size) {
  size = QSize();
  bridges::Object object;
  if (!bridges::create_picture_object(object, rt::Bytes(picture)))
    return {};
  const auto hm_width =
      static_cast<int32_t>(std::lround(bridges::read_number_property(object, "Width")));
  const auto hm_height =
      static_cast<int32_t>(std::lround(bridges::read_number_property(object, "Height")));
  using automation::kHimetricPerInch, automation::kPictureDpi, automation::mul_div;
  const int32_t width = mul_div(hm_width, kPictureDpi, kHimetricPerInch);
  const int32_t height = mul_div(hm_height, kPictureDpi, kHimetricPerInch);
  const automation::HBITMAP bitmap = CreateBitmap(width, height, 1, 32, nullptr);
  if (bitmap == 0)
    return {};
  // The source rectangle upside down: picture objects measure y up from the bottom edge.
  bridges::call_method(object, "Render", static_cast<int32_t>(bitmap), 0, 0, width, height, 0,
                       hm_height, hm_width, -hm_height, 0);
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  const int32_t copied =
      GetBitmapBits(bitmap, static_cast<int32_t>(pixels.size() * 4), pixels.data());
  DeleteObject(bitmap);
  if (copied != static_cast<int32_t>(pixels.size() * 4))
    return {};
  size = QSize(width, height);

  std::vector<QRect> runs;
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    int x = 0;
    while (x < width) {
      while (x < width && row[x] == key) ++x;
      const int start = x;
      while (x < width && row[x] != key) ++x;
      if (x > start)
        runs.emplace_back(start, y, x - start, 1);
    }
  }
  QRegion region;
  region.setRects(runs.data(), static_cast<int>(runs.size()));
  return region;
}

}  // namespace

// ---- the shadow --------------------------------------------------------------------------------

// The shadow window and what it follows; the event filter on the target takes the place of the
// replaced window procedure.
class ShadowRecord : public QObject {
 public:
  void create(QWidget* target, int32_t size, int32_t strength) {
    if (created_ != 0 || !target || !translucency_available())
      return;
    size_ = std::max(size, 20);
    strength_ = std::max(strength, 30);
    target_ = target;
    window_ = new LayeredWindow(target);
    rebuild();
    target->installEventFilter(this);
    ++created_;
  }

  void refresh(std::optional<int32_t> size) {
    if (size)
      size_ = *size;
    if (!window_ || !target_)
      return;
    rebuild();
  }

  void close() {
    if (window_)
      window_->deleteLater();
    window_ = nullptr;
    if (target_)
      target_->removeEventFilter(this);
    created_ = 0;
  }

  LayeredWindow* window() const { return window_.data(); }
  int32_t creations() const { return created_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != target_.data() || !window_)
      return false;
    switch (event->type()) {
      case QEvent::Move:
        place();
        break;
      case QEvent::Close:
        close();
        break;
      case QEvent::Hide:
        window_->hide();
        break;
      case QEvent::Show:
        window_->show();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QRect target_rect() const { return target_->frameGeometry(); }

  void place() {
    const QRect r = target_rect();
    window_->setGeometry(r.left() - size_, r.top() - size_, r.width() + 2 * size_,
                         r.height() + 2 * size_);
  }

  void rebuild() {
    const QRect r = target_rect();
    const std::vector<uint8_t> shadow =
        shadow_picture(r.width(), r.height(), size_, 0, static_cast<uint8_t>(strength_ & 0xFF));
    mask_ = mask_picture(r.width(), r.height(), size_);
    place();
    show_picture_on_layered_window(window_, shadow);
    window_->move(r.left() - size_, r.top() - size_);
    QSize shape_size;
    const QRegion shape = shape_of(mask_, kMaskKey, shape_size);
    if (!shape_size.isEmpty())
      window_->resize(shape_size);
    window_->setMask(shape);
    window_->show();
    window_->lower();
  }

  std::vector<uint8_t> mask_;
  QPointer<QWidget> target_;
  QPointer<LayeredWindow> window_;
  int32_t size_ = 20;
  int32_t strength_ = 30;
  int32_t created_ = 0;
};

WindowShadow::WindowShadow() : record_(std::make_unique<ShadowRecord>()) {}
WindowShadow::~WindowShadow() = default;

void WindowShadow::attach(QWidget* target, int32_t size, int32_t strength) {
  size_ = std::max(size, 20);
  record_->create(target, size_, strength);
}

void WindowShadow::refresh() { record_->refresh(size_); }
void WindowShadow::close() { record_->close(); }
LayeredWindow* WindowShadow::window() const { return record_->window(); }
int32_t WindowShadow::creations() const { return record_->creations(); }

namespace {
constexpr size_t kShadowCount = 999;
std::array<std::unique_ptr<WindowShadow>, kShadowCount>& shadow_table() {
  static std::array<std::unique_ptr<WindowShadow>, kShadowCount> table;
  return table;
}
}  // namespace

WindowShadow& window_shadow(int index) {
  auto& slot = shadow_table()[static_cast<size_t>(std::clamp<int>(index, 0, kShadowCount - 1))];
  if (!slot)
    slot = std::make_unique<WindowShadow>();
  return *slot;
}

void release_window_shadows() {
  for (auto& s : shadow_table()) {
    if (s)
      s->close();
  }
}

}  // namespace imaging
