#include "imaging/window_shadow.h"

#include <algorithm>
#include <array>

#include "imaging/drawing.h"
#include "imaging/picture_shape.h"

namespace imaging {
namespace {

constexpr uint32_t kMaskKey = 0xFFFF00FFu;  // magenta: the target's rectangle in the mask

// A platform colour (red in the low byte) with alpha, as the library's ARGB.
uint32_t argb_of(uint32_t rgb, uint8_t alpha) {
  return static_cast<uint32_t>(alpha) << 24 | (rgb & 0xFF) << 16 | (rgb & 0xFF00) |
         (rgb >> 16 & 0xFF);
}

}  // namespace

void show_picture_on_layered_window(LayeredWindow* window, std::span<const uint8_t> picture) {
  start_graphics_library();
  Image image;
  float w = 0, h = 0;
  if (!image.load(picture) || !image.dimension(w, h)) {
    windowing::set_layered_content(window, 0, 0, {});
    return;
  }
  const int32_t width = static_cast<int32_t>(w), height = static_cast<int32_t>(h);
  // The library draws straight into the window's content: a bitmap over its rows.
  std::vector<uint32_t> content(
      static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)), 0u);
  Image canvas;
  Graphics graphics;
  if (canvas.create_bitmap_over(width, height, width * 4,
                                reinterpret_cast<uint8_t*>(content.data())) &&
      graphics.from_image(canvas)) {
    graphics.draw_image(image, 0, 0, w, h);
  }
  graphics.remove();
  canvas.dispose();
  image.dispose();
  windowing::set_layered_content(window, width, height, content);
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

// ---- the shadow --------------------------------------------------------------------------------

// The shadow window and what it follows.
class ShadowRecord {
 public:
  ShadowRecord() {
    follower_.on_target_closed([this] { created_ = 0; });
  }

  void create(windowing::Handle target, int32_t size, int32_t strength) {
    if (created_ != 0 || !target || !translucency_available())
      return;
    size_ = std::max(size, 20);
    strength_ = std::max(strength, 30);
    if (!follower_.open(target, size_))
      return;
    rebuild();
    follower_.follow();
    ++created_;
  }

  void refresh(std::optional<int32_t> size) {
    if (size) {
      size_ = *size;
      follower_.set_margin(size_);
    }
    if (!follower_.is_open())
      return;
    rebuild();
  }

  void close() {
    follower_.close();
    created_ = 0;
  }

  LayeredWindow* window() const { return follower_.window(); }
  int32_t creations() const { return created_; }

 private:
  void rebuild() {
    const windowing::Rect r = follower_.target_frame();
    const std::vector<uint8_t> shadow =
        shadow_picture(r.width, r.height, size_, 0, static_cast<uint8_t>(strength_ & 0xFF));
    mask_ = mask_picture(r.width, r.height, size_);
    follower_.place();
    show_picture_on_layered_window(follower_.window(), shadow);
    follower_.move(r.left - size_, r.top - size_);
    const PictureShape shape = picture_shape(mask_, kMaskKey);
    if (shape.width > 0 && shape.height > 0)
      follower_.resize(shape.width, shape.height);
    follower_.set_shape(shape.runs);
    follower_.show_below();
  }

  windowing::LayeredFollower follower_;
  std::vector<uint8_t> mask_;
  int32_t size_ = 20;
  int32_t strength_ = 30;
  int32_t created_ = 0;
};

WindowShadow::WindowShadow() : record_(std::make_unique<ShadowRecord>()) {}
WindowShadow::~WindowShadow() = default;

void WindowShadow::attach(windowing::Handle target, int32_t size, int32_t strength) {
  size_ = std::max(size, 20);
  record_->create(target, size_, strength);
}

void WindowShadow::refresh() {
  record_->refresh(size_);
}
void WindowShadow::close() {
  record_->close();
}
LayeredWindow* WindowShadow::window() const {
  return record_->window();
}
int32_t WindowShadow::creations() const {
  return record_->creations();
}

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
