// The shadow picture pixel for pixel: what shadow_picture encodes is exactly what filling the
// whole bitmap and blurring it with the graphics library gives, for windows far larger than the
// shadow, about as large as its reach, and smaller than the shadow itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "decoders/picture.h"
#include "imaging/drawing.h"
#include "imaging/window_shadow.h"

namespace {

using namespace imaging;

class ShadowPixels : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(start_graphics_library()); }
};

struct Case {
  int32_t width, height, size;
  uint32_t rgb;
  uint8_t alpha;
};

// The picture built the plain way: the whole rectangle filled, the whole bitmap blurred.
std::vector<uint32_t> plain_shadow(const Case& c) {
  const int32_t w = c.width + 2 * c.size, h = c.height + 2 * c.size;
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
  Image bitmap;
  SolidBrush brush;
  Graphics graphics;
  Effect blur;
  const raster::BlurParams params{static_cast<float>(c.size), 1};
  const uint32_t argb =
      uint32_t{c.alpha} << 24 | (c.rgb & 0xFF) << 16 | (c.rgb & 0xFF00) | (c.rgb >> 16 & 0xFF);
  const bool made =
      bitmap.create_bitmap_over(w, h, w * 4, reinterpret_cast<uint8_t*>(pixels.data())) &&
      brush.create(argb) && graphics.from_image(bitmap) && blur.create_blur() &&
      blur.set_parameters(&params, sizeof params) &&
      graphics.fill_rectangle(brush, static_cast<float>(c.size), static_cast<float>(c.size),
                              static_cast<float>(c.width), static_cast<float>(c.height)) &&
      bitmap.apply_effect(blur);
  EXPECT_TRUE(made);
  return pixels;
}

// FNV-1a over the pixels' bytes.
uint64_t checksum(const std::vector<uint32_t>& pixels) {
  uint64_t h = 0xCBF29CE484222325u;
  for (uint32_t p : pixels) {
    for (int i = 0; i < 4; ++i) h = (h ^ (p >> (8 * i) & 0xFF)) * 0x100000001B3u;
  }
  return h;
}

std::vector<uint32_t> shadow_pixels(const Case& c) {
  const auto p = decode_picture(shadow_picture(c.width, c.height, c.size, c.rgb, c.alpha));
  if (!p)
    return {};
  EXPECT_EQ(p->width, c.width + 2 * c.size);
  EXPECT_EQ(p->height, c.height + 2 * c.size);
  return {p->pixels().begin(), p->pixels().end()};
}

// Wide, tall, about the blur's reach, at the edge of it, and smaller than the shadow; black
// and coloured, faint and opaque, the smallest and a large size.
TEST_F(ShadowPixels, SameAsTheWholeBitmapBlurred) {
  const std::vector<Case> cases = {
      {678, 505, 40, 0, 100},   {640, 480, 20, 0, 30},       {300, 12, 40, 0x3366CC, 200},
      {12, 300, 40, 0xFF, 255}, {86, 87, 40, 0, 100},        {87, 86, 40, 0x102030, 77},
      {85, 200, 40, 0, 100},    {10, 10, 20, 0, 100},        {1, 1, 40, 0, 255},
      {0, 0, 20, 0, 100},       {1, 500, 20, 0xABCDEF, 1},   {500, 3, 21, 0, 254},
      {400, 350, 1, 0, 100},    {400, 350, 2, 0xFFFFFF, 50}, {900, 700, 130, 0x00FF00, 180},
  };
  for (const Case& c : cases) {
    const std::vector<uint32_t> expected = plain_shadow(c);
    const std::vector<uint32_t> got = shadow_pixels(c);
    ASSERT_EQ(got.size(), expected.size()) << c.width << " x " << c.height << " size " << c.size;
    size_t differ = 0, first = got.size();
    for (size_t i = 0; i < got.size(); ++i) {
      if (got[i] != expected[i]) {
        ++differ;
        first = std::min(first, i);
      }
    }
    EXPECT_EQ(differ, 0u) << c.width << " x " << c.height << " size " << c.size << ": first at "
                          << first;
  }
}

// The start window's shadow and two others, as the graphics library made them when these were
// written down: a change of the blur or the fill shows here even when both ways change alike.
TEST_F(ShadowPixels, KnownPictures) {
  for (const auto& [c, sum] : std::vector<std::tuple<Case, uint64_t>>{
           {{678, 505, 40, 0, 100}, 0x6507E6552F406685u},
           {{10, 10, 20, 0, 100}, 0x33CB0C4D0C95A045u},
           {{300, 12, 40, 0x3366CC, 200}, 0x2F65466867FCFA95u},
       }) {
    EXPECT_EQ(checksum(shadow_pixels(c)), sum) << c.width << " x " << c.height;
  }
}

// Sizes no bitmap can have give no picture, as before.
TEST_F(ShadowPixels, ImpossibleSizesGiveNothing) {
  EXPECT_TRUE(shadow_picture(-100, 50, 20).empty());
  EXPECT_TRUE(shadow_picture(50, -100, 20).empty());
  EXPECT_TRUE(shadow_picture(100, 50, -20).empty());
  EXPECT_TRUE(shadow_picture(40000, 50, 20).empty());
}

}  // namespace
