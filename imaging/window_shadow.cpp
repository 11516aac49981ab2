#include "imaging/window_shadow.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

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

namespace {

// Fills the width x height rectangle at (size, size) of the bitmap with the colour and blurs the
// whole bitmap by radius `size`, spreading past its edges.
bool fill_and_blur(Image& bitmap, int32_t width, int32_t height, int32_t size, uint32_t argb) {
  SolidBrush brush;
  Effect blur;
  Graphics graphics;
  const raster::BlurParams params{static_cast<float>(size), 1};
  const bool ok = brush.create(argb) && blur.create_blur() &&
                  blur.set_parameters(&params, sizeof params) && graphics.from_image(bitmap) &&
                  graphics.fill_rectangle(brush, static_cast<float>(size), static_cast<float>(size),
                                          static_cast<float>(width), static_cast<float>(height)) &&
                  bitmap.apply_effect(blur);
  brush.remove();
  graphics.remove();
  blur.remove();
  return ok;
}

// How far the blur of a radius reaches: the library's blur is three boxes each way of a third of
// the radius, rounded, so it never reaches more than two pixels past the radius.
int64_t blur_reach(int32_t size) {
  return int64_t{size} + 2;
}

// Along one side of the whole picture (`full` pixels), the coordinate in the small picture whose
// rectangle is `cut` pixels shorter: the first and last `edge` pixels are those of the small
// picture, and every pixel between them is the one at `edge`.
int64_t small_coordinate(int64_t x, int64_t full, int64_t edge, int64_t cut) {
  if (x < edge)
    return x;
  if (x >= full - edge)
    return x - cut;
  return edge;
}

}  // namespace

// The blur reaches `reach` pixels, so a pixel of the shadow depends only on the rectangle's
// pixels within that distance of it. Along a side of the rectangle longer than 2 * reach + 2,
// every pixel more than size + reach from the picture's ends therefore sees the same as its
// neighbours: the shadow is drawn with the rectangle cut to that length, and its middle column
// or row repeated to the full size. The picture is the same pixel for pixel, for a fraction of
// the blur's work.
std::vector<uint8_t> shadow_picture(int32_t width, int32_t height, int32_t size, uint32_t rgb,
                                    uint8_t alpha) {
  start_graphics_library();
  std::vector<uint8_t> png;
  const uint32_t argb = argb_of(rgb, alpha);
  const int64_t reach = blur_reach(size);
  const int64_t keep = 2 * reach + 2;
  const int64_t full_w = int64_t{width} + 2 * int64_t{size};
  const int64_t full_h = int64_t{height} + 2 * int64_t{size};
  // The library's largest bitmap side: past it the plain way fails as the library does.
  constexpr int64_t kLargestSide = 1 << 15;
  if (size < 1 || width < 1 || height < 1 || (width <= keep && height <= keep) ||
      full_w > kLargestSide || full_h > kLargestSide) {
    Image bitmap;
    if (bitmap.create_bitmap(width + 2 * size, height + 2 * size) &&
        fill_and_blur(bitmap, width, height, size, argb)) {
      bitmap.save(kPngFormatId, png);
    }
    return png;
  }

  // The rectangle as drawn small, and what is cut from each of its sides.
  const auto rect_w = static_cast<int32_t>(std::min<int64_t>(width, keep));
  const auto rect_h = static_cast<int32_t>(std::min<int64_t>(height, keep));
  const int64_t small_w = rect_w + 2 * int64_t{size}, small_h = rect_h + 2 * int64_t{size};
  try {
    std::vector<uint32_t> small(static_cast<size_t>(small_w * small_h));
    Image small_bitmap;
    if (!small_bitmap.create_bitmap_over(
            static_cast<int32_t>(small_w), static_cast<int32_t>(small_h),
            static_cast<int32_t>(small_w * 4), reinterpret_cast<uint8_t*>(small.data())) ||
        !fill_and_blur(small_bitmap, rect_w, rect_h, size, argb)) {
      return png;
    }
    small_bitmap.dispose();

    const int64_t edge = size + reach + 1;
    const int64_t cut_w = width - rect_w, cut_h = height - rect_h;
    const auto row_w = static_cast<size_t>(full_w);
    auto pixels = std::make_unique_for_overwrite<uint32_t[]>(row_w * static_cast<size_t>(full_h));
    // Columns [0, head) and [tail, full_w) come from the small rows as they are; those between
    // repeat the small rows' pixel at `edge`.
    const int64_t head = std::min(edge, full_w);
    const int64_t tail = std::max(head, full_w - edge);
    int64_t previous = -1;
    for (int64_t y = 0; y < full_h; ++y) {
      uint32_t* out = pixels.get() + static_cast<size_t>(y) * row_w;
      const int64_t from = small_coordinate(y, full_h, edge, cut_h);
      if (from == previous) {
        std::memcpy(out, out - row_w, row_w * sizeof *out);
        continue;
      }
      previous = from;
      const uint32_t* in = small.data() + static_cast<size_t>(from * small_w);
      std::copy(in, in + head, out);
      if (tail > head)
        std::fill(out + head, out + tail, in[edge]);
      std::copy(in + (tail - cut_w), in + small_w, out + tail);
    }
    Image bitmap;
    if (bitmap.create_bitmap_over(static_cast<int32_t>(full_w), static_cast<int32_t>(full_h),
                                  static_cast<int32_t>(full_w * 4),
                                  reinterpret_cast<uint8_t*>(pixels.get()))) {
      bitmap.save(kPngFormatId, png);
    }
  } catch (const std::bad_alloc&) {
    png.clear();
  }
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
