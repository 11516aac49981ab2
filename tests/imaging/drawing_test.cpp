// The drawing wrappers over the graphics stand-in, reached through the program's library table:
// the shapes of their results, the encoders, and the shadow and mask pictures they build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <QDir>
#include <QImage>

#include "decoders/picture.h"
#include "imaging/drawing.h"
#include "imaging/window_shadow.h"
#include "runtime/runtime.h"

namespace {

using namespace imaging;

class Drawing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(start_graphics_library()); }
};

TEST_F(Drawing, StartingTwiceStartsOnce) {
  const uintptr_t token = graphics_token();
  EXPECT_NE(token, 0u);
  EXPECT_TRUE(start_graphics_library());
  EXPECT_EQ(graphics_token(), token);
}

// Deleting what was never made calls nothing and answers false; deleting what was made
// answers true once.
TEST_F(Drawing, DeletesOfEmptyWrappersAnswerFalse) {
  SolidBrush brush;
  Graphics graphics;
  Effect effect;
  Region region;
  Image image;
  EXPECT_FALSE(brush.remove());
  EXPECT_FALSE(graphics.remove());
  EXPECT_FALSE(effect.remove());
  EXPECT_FALSE(region.remove());
  EXPECT_FALSE(image.dispose());
  ASSERT_TRUE(brush.create(0x80102030));
  ASSERT_TRUE(image.create_bitmap(4, 4));
  ASSERT_TRUE(graphics.from_image(image));
  ASSERT_TRUE(effect.create_blur());
  ASSERT_TRUE(region.create_rect(0, 0, 2, 2));
  EXPECT_TRUE(brush.remove());
  EXPECT_TRUE(graphics.remove());
  EXPECT_TRUE(effect.remove());
  EXPECT_TRUE(region.remove());
  EXPECT_TRUE(image.dispose());
  EXPECT_FALSE(brush.remove());
  EXPECT_EQ(brush.handle(), 0u);
}

TEST_F(Drawing, BrushColourRoundTripsAndStatusIsKept) {
  SolidBrush brush;
  ASSERT_TRUE(brush.create(0x11223344));
  EXPECT_EQ(brush.colour(), 0x11223344u);
  EXPECT_TRUE(brush.set_colour(0xFF00FF00));
  EXPECT_EQ(brush.colour(), 0xFF00FF00u);
  Image image;
  EXPECT_FALSE(image.create_bitmap(0, 10));
  EXPECT_EQ(last_status(), raster::kInvalidParameter);
  EXPECT_EQ(image.handle(), 0u);
}

// A bitmap made without a format is 32-bit with alpha: a half-transparent fill reads back as
// it was given.
TEST_F(Drawing, DefaultBitmapKeepsAlpha) {
  Image image;
  SolidBrush brush;
  Graphics g;
  ASSERT_TRUE(image.create_bitmap(10, 10));
  ASSERT_TRUE(brush.create(0x80FF8000));
  ASSERT_TRUE(g.from_image(image));
  ASSERT_TRUE(g.fill_rectangle(brush, 2, 2, 4, 4));
  EXPECT_EQ(image.pixel(0, 0), 0u);
  EXPECT_EQ(image.pixel(3, 3), 0x80FF8000u);
  EXPECT_EQ(image.pixel(6, 6), 0u);  // the rectangle ends before x = 6
}

struct SaveCase {
  const char* name;
  std::optional<std::string_view> format;
  bool ok;
  imaging::PictureKind kind;
};

class Save : public ::testing::TestWithParam<SaveCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(start_graphics_library()); }
};

TEST_P(Save, EncodesWithTheFormatsEncoder) {
  Image image;
  ASSERT_TRUE(image.create_bitmap(3, 2));
  {
    SolidBrush brush;
    Graphics g;
    ASSERT_TRUE(brush.create(0xC0112233) && g.from_image(image));
    ASSERT_TRUE(g.fill_rectangle(brush, 0, 0, 1, 1));
  }
  std::vector<uint8_t> out = {1, 2, 3};
  EXPECT_EQ(image.save(GetParam().format, out), GetParam().ok);
  if (!GetParam().ok) {
    EXPECT_TRUE(out.empty());
    return;
  }
  const auto p = decode_picture(out);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, GetParam().kind);
  EXPECT_EQ(p->width, 3);
  EXPECT_EQ(p->pixel(0, 0), 0xC0112233u);
  EXPECT_EQ(p->pixel(2, 1), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Save,
    ::testing::Values(SaveCase{"png", kPngFormatId, true, PictureKind::kPng},
                      SaveCase{"bmp", kBmpFormatId, true, PictureKind::kBmp},
                      SaveCase{"lower_case_png", "{b96b3caf-0728-11d3-9d7b-0000f81ef32e}", true,
                               PictureKind::kPng},
                      SaveCase{"jpeg_has_no_encoder", "{B96B3CAE-0728-11D3-9D7B-0000F81EF32E}",
                               false, PictureKind::kNone},
                      SaveCase{"not_a_guid", "PNG", false, PictureKind::kNone},
                      // A bitmap made in memory has no encoder of its own format.
                      SaveCase{"own_format", std::nullopt, false, PictureKind::kNone}),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(Drawing, LoadedImageSavesInItsOwnFormat) {
  const std::vector<uint8_t> png = shadow_picture(10, 10, 20);
  Image image;
  ASSERT_TRUE(image.load(png));
  EXPECT_EQ(image.raw_format(), kPngFormatId);
  float w = 0, h = 0;
  ASSERT_TRUE(image.dimension(w, h));
  EXPECT_EQ(w, 50.0f);
  EXPECT_EQ(h, 50.0f);
  std::vector<uint8_t> again;
  EXPECT_TRUE(image.save(std::nullopt, again));
  EXPECT_EQ(picture_kind(again), PictureKind::kPng);
}

// The shadow picture: the target's size plus the shadow's on each side, transparent at the
// border, the strength's alpha in the middle, falling off smoothly across the edge.
TEST_F(Drawing, ShadowPictureIsBlurredInsideATransparentBorder) {
  const std::vector<uint8_t> png = shadow_picture(678, 505, 40, 0, 100);
  const auto p = decode_picture(png);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->width, 758);
  ASSERT_EQ(p->height, 585);
  auto alpha = [&](int x, int y) { return static_cast<int>(p->pixel(x, y) >> 24); };
  for (int x : {0, 379, 757}) {
    EXPECT_LE(alpha(x, 0), 2) << x;
    EXPECT_LE(alpha(x, 584), 2) << x;
  }
  EXPECT_LE(alpha(0, 292), 2);
  EXPECT_EQ(alpha(379, 292), 100);
  EXPECT_EQ(p->pixel(379, 292) & 0xFFFFFF, 0u);  // black
  // Across the left edge of the rectangle (x = 40) alpha rises steadily, half-way at the edge.
  int previous = -1;
  for (int x = 0; x <= 80; x += 8) {
    EXPECT_GE(alpha(x, 292), previous) << x;
    previous = alpha(x, 292);
  }
  EXPECT_NEAR(alpha(40, 292), 50, 8);
  const std::string dir = rt::program_directory() + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  QImage::fromData(png.data(), static_cast<int>(png.size()))
      .save(QString::fromStdString(dir + "/shadow_picture.png"));
}

TEST_F(Drawing, MaskPictureMarksTheTargetsRectangle) {
  const auto p = decode_picture(mask_picture(100, 60, 20));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, PictureKind::kBmp);
  ASSERT_EQ(p->width, 140);
  ASSERT_EQ(p->height, 100);
  EXPECT_EQ(p->pixel(19, 20), 0xFFFFFFFFu);
  EXPECT_EQ(p->pixel(20, 20), 0xFFFF00FFu);
  EXPECT_EQ(p->pixel(119, 79), 0xFFFF00FFu);
  EXPECT_EQ(p->pixel(120, 79), 0xFFFFFFFFu);
  EXPECT_EQ(p->pixel(50, 80), 0xFFFFFFFFu);
}

TEST_F(Drawing, MemoryStreamsHoldTheirBytes) {
  const std::vector<uint8_t> bytes = {9, 8, 7, 6};
  MemoryStream with;
  kernel::Stream* s = with.create(std::span<const uint8_t>(bytes));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(with.size(), 4u);
  EXPECT_EQ(with.bytes(), bytes);
  uint8_t two[2] = {};
  uint32_t done = 0;
  EXPECT_EQ(s->functions->read(s, two, 2, &done), kernel::kOk);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(two[1], 8);
  MemoryStream empty;
  s = empty.create(std::nullopt);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(s->functions->write(s, bytes.data(), 4, &done), kernel::kOk);
  EXPECT_EQ(empty.bytes(), bytes);
}

// Many small writes, as an encoder makes them: the block grows with its content. (It once
// doubled its reserve on every write past the content, asking for terabytes within 40 writes.)
long virtual_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0)
      return std::stol(line.substr(7));
  }
  return 0;
}

TEST_F(Drawing, ManySmallWritesGrowTheStreamLinearly) {
  const long before = virtual_kib();
  MemoryStream stream;
  kernel::Stream* s = stream.create(std::nullopt);
  ASSERT_NE(s, nullptr);
  const std::vector<uint8_t> chunk(100, 0x5A);
  for (int i = 0; i < 64; ++i) {
    uint32_t done = 0;
    ASSERT_EQ(s->functions->write(s, chunk.data(), 100, &done), kernel::kOk) << i;
    ASSERT_EQ(done, 100u);
  }
  EXPECT_EQ(stream.size(), 6400u);
  EXPECT_LT(virtual_kib() - before, 64 * 1024) << "the reserve ran ahead of the content";
}

// The blur is three box passes down the columns, then three along the rows, each mean rounded
// in 16.16 fixed point; outside the picture, the edge pixels repeat or (expand edge) nothing
// counts. Checked byte for byte against that written plainly, for small and large radii.
std::vector<uint8_t> reference_blur(std::vector<uint8_t> p, int w, int h, float radius,
                                    bool transparent_edge) {
  const int b = std::max(1, static_cast<int>(std::lround(std::min(radius, 255.0f) / 3)));
  const uint32_t scale = (65536u + static_cast<uint32_t>(b)) / static_cast<uint32_t>(2 * b + 1);
  const auto pass = [&](bool down) {
    std::vector<uint8_t> out(p.size());
    const int along = down ? h : w;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 4; ++c) {
          uint32_t sum = 0;
          for (int d = -b; d <= b; ++d) {
            int i = (down ? y : x) + d;
            if (i < 0 || i >= along) {
              if (transparent_edge)
                continue;
              i = std::clamp(i, 0, along - 1);
            }
            const int sx = down ? x : i, sy = down ? i : y;
            sum += p[(static_cast<size_t>(sy) * w + sx) * 4 + c];
          }
          out[(static_cast<size_t>(y) * w + x) * 4 + c] =
              static_cast<uint8_t>((sum * scale + 32768u) >> 16);
        }
    p = out;
  };
  for (int i = 0; i < 3; ++i) pass(true);
  for (int i = 0; i < 3; ++i) pass(false);
  return p;
}

TEST_F(Drawing, BlurMatchesPlainBoxPasses) {
  std::mt19937 random(11);
  for (const auto& [w, h, radius, transparent] :
       std::vector<std::tuple<int, int, float, bool>>{{37, 23, 1.0f, false},
                                                      {37, 23, 7.0f, true},
                                                      {64, 50, 40.0f, false},
                                                      {64, 50, 40.0f, true},
                                                      {300, 9, 255.0f, false},
                                                      {9, 300, 255.0f, true}}) {
    // Premultiplied input that converts without loss: opaque colours when the edge repeats
    // (alpha stays 255), black of any alpha when the edge is transparent (colour stays 0).
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
      const auto r = static_cast<uint32_t>(random());
      if (transparent) {
        pixels[i + 3] = static_cast<uint8_t>(r);
      } else {
        pixels[i] = static_cast<uint8_t>(r);
        pixels[i + 1] = static_cast<uint8_t>(r >> 8);
        pixels[i + 2] = static_cast<uint8_t>(r >> 16);
        pixels[i + 3] = 255;
      }
    }
    const std::vector<uint8_t> expected = reference_blur(pixels, w, h, radius, transparent);
    Image image;
    Effect blur;
    const raster::BlurParams params{radius, transparent ? 1 : 0};
    ASSERT_TRUE(image.create_bitmap_over(w, h, w * 4, pixels.data()));
    ASSERT_TRUE(blur.create_blur() && blur.set_parameters(&params, sizeof params));
    ASSERT_TRUE(image.apply_effect(blur));
    image.dispose();
    EXPECT_EQ(pixels, expected) << w << " x " << h << " radius " << radius;
  }
}

}  // namespace
