// Picture decoding: the kind tests, every decoder against ImageMagick's decode of the same file,
// the hand-made cases the generated files do not reach, and the bad-input classes real decoders
// have shipped with.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "costly_pictures.h"
#include "decoders/picture.h"
#include "picture_files.h"

namespace {

using imaging::decode_picture;
using imaging::Picture;
using imaging::PictureKind;
using Bytes = std::vector<uint8_t>;

Bytes padded(Bytes b, size_t to = 8) {
  b.resize(std::max(b.size(), to), 0);
  return b;
}

using costly::compress_jpeg;
using costly::put16;
using costly::put32;
uint32_t get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// ---- kinds ------------------------------------------------------------------------------------

struct KindCase {
  const char* name;
  Bytes first_bytes;
  PictureKind kind;
};

class Kinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(Kinds, FromTheFirstEightBytes) {
  EXPECT_EQ(imaging::picture_kind(GetParam().first_bytes), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, Kinds,
    ::testing::Values(
        KindCase{"bmp", padded({'B', 'M'}), PictureKind::kBmp},
        KindCase{"jpeg", padded({0xFF, 0xD8}), PictureKind::kJpeg},
        KindCase{"png", padded({0x89, 'P', 'N', 'G'}), PictureKind::kPng},
        KindCase{"icon", padded({0, 0, 1, 0, 1, 0}), PictureKind::kIcon},
        KindCase{"icon_count_high_byte", padded({0, 0, 1, 0, 0, 1}), PictureKind::kIcon},
        KindCase{"icon_without_images", padded({0, 0, 1, 0, 0, 0}), PictureKind::kNone},
        KindCase{"cursor", padded({0, 0, 2, 0, 3, 0}), PictureKind::kCursor},
        KindCase{"cursor_without_images", padded({0, 0, 2, 0, 0, 0}), PictureKind::kNone},
        KindCase{"gif87a", padded({'G', 'I', 'F', '8', '7', 'a'}), PictureKind::kGif},
        KindCase{"gif89a", padded({'G', 'I', 'F', '8', '9', 'a'}), PictureKind::kGif},
        KindCase{"gif88a", padded({'G', 'I', 'F', '8', '8', 'a'}), PictureKind::kNone},
        KindCase{"gif89b", padded({'G', 'I', 'F', '8', '9', 'b'}), PictureKind::kNone},
        KindCase{"pcx8_version0", padded({0x0A, 0, 1, 8}), PictureKind::kPcx8},
        KindCase{"pcx8_version5", padded({0x0A, 5, 1, 8}), PictureKind::kPcx8},
        KindCase{"pcx8_version6", padded({0x0A, 6, 1, 8}), PictureKind::kNone},
        KindCase{"pcx8_not_rle", padded({0x0A, 5, 0, 8}), PictureKind::kNone},
        KindCase{"pcx_4bit", padded({0x0A, 5, 1, 4}), PictureKind::kNone},
        KindCase{"pcx1_version3", padded({0x0A, 3, 1, 1}), PictureKind::kPcx1},
        KindCase{"pcx1_version5", padded({0x0A, 5, 1, 1}), PictureKind::kNone},
        KindCase{"bmp_before_everything", padded({'B', 'M', 0x89, 'P'}), PictureKind::kBmp},
        KindCase{"seven_bytes", Bytes{'B', 'M', 0, 0, 0, 0, 0}, PictureKind::kNone},
        KindCase{"html_page", Bytes{'<', 'h', 't', 'm', 'l', '>', '<', 'b', 'o', 'd', 'y'},
                 PictureKind::kNone},
        KindCase{"empty", Bytes{}, PictureKind::kNone}),
    [](const auto& c) { return std::string(c.param.name); });

// ---- against ImageMagick --------------------------------------------------------------------

struct FileCase {
  const char* file;
  const char* reference;  // ImageMagick's RGBA bytes of the shown image
  PictureKind kind;
  int width, height;
  int tolerance;  // per channel; JPEG decoders may round differently
};

std::string case_name(const FileCase& c) {
  std::string n = c.file;
  for (char& ch : n) {
    if (!isalnum(static_cast<unsigned char>(ch)))
      ch = '_';
  }
  return n;
}

// Compares colours where the reference is not fully transparent (under alpha 0 the colour is
// anyone's choice) and alpha everywhere; answers how many pixels differ.
int differing_pixels(const Picture& p, const Bytes& rgba, int tolerance) {
  int bad = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(p.width) + x) * 4;
      const uint32_t c = p.pixel(x, y);
      const int got[4] = {int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF), int(c >> 24)};
      bool same = std::abs(got[3] - rgba[i + 3]) <= tolerance;
      if (rgba[i + 3] != 0) {
        for (int k = 0; k < 3; ++k) same = same && std::abs(got[k] - rgba[i + k]) <= tolerance;
      }
      bad += same ? 0 : 1;
    }
  }
  return bad;
}

class AgainstImageMagick : public ::testing::TestWithParam<FileCase> {};

TEST_P(AgainstImageMagick, SamePixels) {
  const FileCase& c = GetParam();
  const Bytes bytes = picture_files::read(c.file);
  ASSERT_FALSE(bytes.empty()) << c.file;
  EXPECT_EQ(imaging::picture_kind(bytes), c.kind);
  const std::optional<Picture> p = decode_picture(bytes);
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->kind, c.kind);
  ASSERT_EQ(p->width, c.width);
  ASSERT_EQ(p->height, c.height);
  ASSERT_EQ(p->pixels().size(), static_cast<size_t>(c.width * c.height));
  const Bytes rgba = picture_files::read(c.reference);
  ASSERT_EQ(rgba.size(), static_cast<size_t>(c.width * c.height * 4));
  EXPECT_EQ(differing_pixels(*p, rgba, c.tolerance), 0);
}

// Every prefix of a valid file is a file cut short: no picture, whatever the cut.
TEST_P(AgainstImageMagick, EveryPrefixIsNoPicture) {
  const Bytes bytes = picture_files::read(GetParam().file);
  // Big files: every prefix near the ends and a stride through the middle.
  const size_t step = bytes.size() > 20000 ? 61 : 1;
  for (size_t n = 0; n < bytes.size(); n += (n < 2048 || n + 2048 > bytes.size()) ? 1 : step) {
    const std::span<const uint8_t> prefix(bytes.data(), n);
    ASSERT_FALSE(decode_picture(prefix).has_value()) << "prefix of " << n << " bytes";
  }
}

// Bytes changed anywhere decode or fail, never crash (the sanitizer build checks the reads),
// and a picture that decodes is whole.
TEST_P(AgainstImageMagick, CorruptedBytesNeverCrash) {
  const Bytes original = picture_files::read(GetParam().file);
  std::mt19937 random(1234);
  for (int round = 0; round < 300; ++round) {
    Bytes b = original;
    const int changes = 1 + round % 8;
    for (int i = 0; i < changes; ++i) {
      // Mostly in the headers, where the lengths and offsets are.
      const size_t limit = round % 2 ? std::min<size_t>(b.size(), 200) : b.size();
      b[random() % limit] = static_cast<uint8_t>(random());
    }
    const std::optional<Picture> p = decode_picture(b);
    if (p) {
      ASSERT_FALSE(p->frames.empty());
      ASSERT_EQ(p->pixels().size(), static_cast<size_t>(p->width) * static_cast<size_t>(p->height));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, AgainstImageMagick,
    ::testing::Values(
        FileCase{"bmp_1bit.bmp", "bmp_1bit.rgba", PictureKind::kBmp, 46, 70, 0},
        FileCase{"bmp_4bit.bmp", "bmp_4bit.rgba", PictureKind::kBmp, 46, 70, 0},
        FileCase{"bmp_8bit.bmp", "bmp_8bit.rgba", PictureKind::kBmp, 46, 70, 0},
        FileCase{"bmp_rle8.bmp", "bmp_rle8.rgba", PictureKind::kBmp, 46, 70, 0},
        FileCase{"bmp_16bit_565.bmp", "bmp_16bit_565.rgba", PictureKind::kBmp, 46, 70, 1},
        FileCase{"bmp_16bit_555.bmp", "bmp_16bit_555.rgba", PictureKind::kBmp, 46, 70, 1},
        FileCase{"bmp_24bit.bmp", "bmp_24bit.rgba", PictureKind::kBmp, 46, 70, 0},
        FileCase{"bmp_32bit_alpha.bmp", "bmp_32bit_alpha.rgba", PictureKind::kBmp, 46, 70, 0},
        FileCase{"jpeg_baseline.jpg", "jpeg_baseline.rgba", PictureKind::kJpeg, 46, 70, 2},
        FileCase{"jpeg_progressive.jpg", "jpeg_progressive.rgba", PictureKind::kJpeg, 46, 70, 2},
        FileCase{"jpeg_gray.jpg", "jpeg_gray.rgba", PictureKind::kJpeg, 46, 70, 2},
        FileCase{"png_rgba.png", "png_rgba.rgba", PictureKind::kPng, 46, 70, 0},
        FileCase{"png_palette.png", "png_palette.rgba", PictureKind::kPng, 46, 70, 0},
        FileCase{"png_rgba16.png", "png_rgba16.rgba", PictureKind::kPng, 46, 70, 1},
        FileCase{"gif_89a.gif", "gif_89a.rgba", PictureKind::kGif, 46, 70, 0},
        FileCase{"gif_87a.gif", "gif_87a.rgba", PictureKind::kGif, 46, 70, 0},
        FileCase{"gif_interlaced.gif", "gif_interlaced.rgba", PictureKind::kGif, 46, 70, 0},
        FileCase{"gif_transparent.gif", "gif_transparent.rgba", PictureKind::kGif, 46, 70, 0},
        FileCase{"pcx_8bit.pcx", "pcx_8bit.rgba", PictureKind::kPcx8, 46, 70, 0},
        FileCase{"pcx_24bit.pcx", "pcx_24bit.rgba", PictureKind::kPcx8, 46, 70, 0},
        FileCase{"pcx_1bit.pcx", "pcx_1bit.rgba", PictureKind::kPcx1, 46, 70, 0},
        FileCase{"ico_sizes.ico", "ico_sizes.rgba", PictureKind::kIcon, 16, 16, 0},
        FileCase{"ico_palette.ico", "ico_palette.rgba", PictureKind::kIcon, 48, 48, 0},
        FileCase{"ico_png.ico", "ico_png.rgba", PictureKind::kIcon, 256, 256, 0},
        FileCase{"cur_32.cur", "cur_32.rgba", PictureKind::kCursor, 32, 32, 0}),
    [](const auto& c) { return case_name(c.param); });

// ---- variants the generated files do not reach -----------------------------------------------

// A bottom-up bitmap made top-down (negative height, rows reversed) shows the same pixels.
TEST(Bmp, TopDownRowsGiveTheSamePicture) {
  const Bytes bottom_up = picture_files::read("bmp_24bit.bmp");
  Bytes top_down = bottom_up;
  const int32_t w = static_cast<int32_t>(get32(bottom_up, 18));
  const int32_t h = static_cast<int32_t>(get32(bottom_up, 22));
  put32(top_down, 22, static_cast<uint32_t>(-h));
  const size_t bits = get32(bottom_up, 10);
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  for (int32_t r = 0; r < h; ++r) {
    std::memcpy(&top_down[bits + r * stride], &bottom_up[bits + (h - 1 - r) * stride], stride);
  }
  const auto a = decode_picture(bottom_up), b = decode_picture(top_down);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->pixels(), b->pixels());
}

// A 4 x 3 RLE bitmap with a 3-entry palette: the bytes of a minimal file around the given
// compressed data.
Bytes rle_bitmap(int bpp, int width, int height, const Bytes& data, int palette_entries = 3) {
  Bytes b(14 + 40 + 4 * static_cast<size_t>(palette_entries), 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 10, static_cast<uint32_t>(b.size()));
  put32(b, 14, 40);
  put32(b, 18, static_cast<uint32_t>(width));
  put32(b, 22, static_cast<uint32_t>(height));
  put16(b, 26, 1);
  put16(b, 28, static_cast<uint32_t>(bpp));
  put32(b, 30, bpp == 8 ? 1 : 2);
  put32(b, 46, static_cast<uint32_t>(palette_entries));
  const uint32_t colours[3] = {0x0000FF, 0x00FF00, 0xFF0000};  // blue, green, red (B G R 0)
  for (int i = 0; i < palette_entries; ++i)
    put32(b, 54 + 4 * static_cast<size_t>(i), colours[i % 3]);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

constexpr uint32_t kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kRed = 0xFFFF0000, kBlack = 0xFF000000,
                   kClear = 0;

struct RleCase {
  const char* name;
  int bpp;
  Bytes data;
  std::vector<uint32_t> pixels;  // 4 x 3, top row first; empty: no picture
};

class Rle : public ::testing::TestWithParam<RleCase> {};

TEST_P(Rle, Decodes) {
  const RleCase& c = GetParam();
  const auto p = decode_picture(rle_bitmap(c.bpp, 4, 3, c.data));
  if (c.pixels.empty()) {
    EXPECT_FALSE(p.has_value());
    return;
  }
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->pixels(), c.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Rle,
    ::testing::Values(
        // Bottom row first: a run of 4 red, end of line, literal 0 1 2 1, end of line, run of
        // 4 green, end of bitmap.
        RleCase{
            "rle8_runs_and_literals",
            8,
            {4, 2, 0, 0, 0, 4, 0, 1, 2, 1, 0, 0, 4, 1, 0, 1},
            {kGreen, kGreen, kGreen, kGreen, kBlue, kGreen, kRed, kGreen, kRed, kRed, kRed, kRed}},
        // Nibbles alternate within a run; a literal of 3 pixels takes 2 bytes, padded to 2.
        RleCase{"rle4_runs_and_literals",
                4,
                {4, 0x12, 0, 0, 0, 3, 0x21, 0x00, 0, 1},
                {kClear, kClear, kClear, kClear, kRed, kGreen, kBlue, kClear, kGreen, kRed, kGreen,
                 kRed}},
        // A delta of (2, 1) from the start leaves transparent pixels behind it.
        RleCase{"delta_skips_pixels",
                8,
                {0, 2, 2, 1, 2, 2, 0, 1},
                {kClear, kClear, kClear, kClear, kClear, kClear, kRed, kRed, kClear, kClear, kClear,
                 kClear}},
        // Runs and literals past the end of a row are cut off there.
        RleCase{"run_past_the_row",
                8,
                {200, 1, 0, 1},
                {kClear, kClear, kClear, kClear, kClear, kClear, kClear, kClear, kGreen, kGreen,
                 kGreen, kGreen}},
        RleCase{"literal_past_the_row",
                8,
                {0, 6, 2, 2, 2, 2, 2, 2, 0, 1},
                {kClear, kClear, kClear, kClear, kClear, kClear, kClear, kClear, kRed, kRed, kRed,
                 kRed}},
        // Rows past the top and deltas past the picture draw nothing.
        RleCase{"rows_past_the_top",
                8,
                {0, 0, 0, 0, 0, 0, 4, 1, 0, 0, 4, 1, 0, 2, 255, 255, 4, 1, 0, 1},
                {kClear, kClear, kClear, kClear, kClear, kClear, kClear, kClear, kClear, kClear,
                 kClear, kClear}},
        // Indices past the palette are black.
        RleCase{"index_past_the_palette",
                8,
                {4, 200, 0, 1},
                {kClear, kClear, kClear, kClear, kClear, kClear, kClear, kClear, kBlack, kBlack,
                 kBlack, kBlack}},
        // No end of bitmap: cut short.
        RleCase{"no_end_of_bitmap", 8, {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0}, {}},
        // A literal whose bytes run past the data.
        RleCase{"literal_past_the_data", 8, {0, 40, 1, 1}, {}},
        RleCase{"delta_past_the_data", 8, {0, 2, 1}, {}}),
    [](const auto& c) { return std::string(c.param.name); });

// 32-bit pixels whose fourth byte is zero everywhere are opaque; one non-zero alpha makes the
// fourth byte alpha for every pixel.
TEST(Bmp, ThirtyTwoBitAlphaOnlyWhenAnyIsSet) {
  Bytes b(14 + 40 + 8, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 10, 54);
  put32(b, 14, 40);
  put32(b, 18, 2);
  put32(b, 22, 1);
  put16(b, 26, 1);
  put16(b, 28, 32);
  put32(b, 54, 0x00123456);
  put32(b, 58, 0x00ABCDEF);
  auto p = decode_picture(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{0xFF123456, 0xFFABCDEF}));
  put32(b, 58, 0x80ABCDEF);
  p = decode_picture(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{0x00123456, 0x80ABCDEF}));
}

// A bitmap file around an info header, the tables after it (masks or palette) and the pixel
// rows, its bits offset just past the tables.
Bytes bitmap_file(const Bytes& header, const Bytes& tables, const Bytes& rows) {
  Bytes b(14, 0);
  b[0] = 'B';
  b[1] = 'M';
  b.insert(b.end(), header.begin(), header.end());
  b.insert(b.end(), tables.begin(), tables.end());
  put32(b, 10, static_cast<uint32_t>(b.size()));
  b.insert(b.end(), rows.begin(), rows.end());
  put32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

// The 12-byte header of the oldest bitmaps: 16-bit width and height, no compression field.
Bytes core_header(uint16_t width, uint16_t height, uint16_t bpp) {
  Bytes h(12, 0);
  put32(h, 0, 12);
  put16(h, 4, width);
  put16(h, 6, height);
  put16(h, 8, 1);
  put16(h, 10, bpp);
  return h;
}

Bytes info_header(int32_t width, int32_t height, uint16_t bpp, uint32_t compression) {
  Bytes h(40, 0);
  put32(h, 0, 40);
  put32(h, 4, static_cast<uint32_t>(width));
  put32(h, 8, static_cast<uint32_t>(height));
  put16(h, 12, 1);
  put16(h, 14, bpp);
  put32(h, 16, compression);
  return h;
}

// A core palette: three bytes an entry (blue, green, red), 2^bpp entries, no count anywhere.
// Unnamed entries are zero.
Bytes core_palette(int bpp, std::initializer_list<std::pair<size_t, uint32_t>> entries) {
  Bytes p(3 * (size_t{1} << bpp), 0);
  for (const auto& [index, rgb] : entries) {
    p[3 * index] = static_cast<uint8_t>(rgb);
    p[3 * index + 1] = static_cast<uint8_t>(rgb >> 8);
    p[3 * index + 2] = static_cast<uint8_t>(rgb >> 16);
  }
  return p;
}

// Core bitmaps are bottom-up: the first row in the file is the picture's last. Entries of
// three bytes put every colour after the first at another place than four-byte entries would.
TEST(Bmp, CoreHeaderPaletteBitmaps) {
  // 4 bits, 3 x 2, rows padded to 4 bytes.
  const Bytes four =
      bitmap_file(core_header(3, 2, 4),
                  core_palette(4, {{1, 0x102030}, {2, 0xC08040}, {5, 0x00FFEE}, {15, 0xFEDCBA}}),
                  {0x50, 0x10, 0, 0,    // bottom row: 5 0 1
                   0x12, 0xF0, 0, 0});  // top row: 1 2 15
  auto p = decode_picture(four);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 3);
  EXPECT_EQ(p->height, 2);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{0xFF102030, 0xFFC08040, 0xFFFEDCBA, 0xFF00FFEE,
                                                kBlack, 0xFF102030}));

  // 1 bit, 10 x 2: a row spans two bytes.
  const Bytes one =
      bitmap_file(core_header(10, 2, 1), core_palette(1, {{0, 0x204060}, {1, 0xFFEEDD}}),
                  {0x00, 0x40, 0, 0,    // bottom: x = 9 set
                   0x81, 0x80, 0, 0});  // top: x = 0, 7, 8 set
  p = decode_picture(one);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->width, 10);
  const uint32_t o = 0xFF204060, l = 0xFFFFEEDD;
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{l, o, o, o, o, o, o, l, l, o,  //
                                                o, o, o, o, o, o, o, o, o, l}));

  // 8 bits: all 256 entries of the palette come before the rows.
  const Bytes eight = bitmap_file(
      core_header(2, 2, 8), core_palette(8, {{3, 0x0A0B0C}, {200, 0x112233}, {255, 0xF0E0D0}}),
      {255, 3, 0, 0, 200, 0, 0, 0});
  p = decode_picture(eight);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{0xFF112233, kBlack, 0xFFF0E0D0, 0xFF0A0B0C}));
}

TEST(Bmp, CoreHeaderTrueColour) {
  // 24 bits, 2 x 2: blue, green, red bytes; rows of 6 bytes padded to 8.
  const Bytes b = bitmap_file(core_header(2, 2, 24), {},
                              {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0, 0,    // bottom
                               0xFF, 0x00, 0x00, 0x10, 0x80, 0xF0, 0, 0});  // top
  const auto p = decode_picture(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{0xFF0000FF, 0xFFF08010, 0xFF030201, 0xFF060504}));
}

Bytes le32_bytes(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words) {
    b.resize(b.size() + 4);
    put32(b, b.size() - 4, w);
  }
  return b;
}

// With a 40-byte header, bit-field masks are the three words after it; the pixels follow them.
TEST(Bmp, BitFieldsAfterTheInfoHeader) {
  // 16 bits, 5-6-5, 3 x 2 bottom-up, rows of 6 bytes padded to 8.
  Bytes rows(16, 0);
  const uint16_t bottom[3] = {0xFFFF, 0x0000, 0x8410}, top[3] = {0xF800, 0x07E0, 0x001F};
  for (size_t x = 0; x < 3; ++x) {
    put16(rows, 2 * x, bottom[x]);
    put16(rows, 8 + 2 * x, top[x]);
  }
  auto p = decode_picture(
      bitmap_file(info_header(3, 2, 16, 3), le32_bytes({0xF800, 0x07E0, 0x001F}), rows));
  ASSERT_TRUE(p);
  // 16 of 31 is 132 of 255, 32 of 63 is 130.
  EXPECT_EQ(p->pixels(),
            (std::vector<uint32_t>{kRed, kGreen, kBlue, 0xFFFFFFFF, kBlack, 0xFF848284}));

  // 32 bits, channels in unusual places: red in the second byte, green in the third, blue in
  // the fourth; the low byte belongs to no mask and says nothing about alpha.
  p = decode_picture(bitmap_file(info_header(2, -1, 32, 3),
                                 le32_bytes({0x0000FF00, 0x00FF0000, 0xFF000000}),
                                 le32_bytes({0x11223344, 0xA0B0C000})));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{0xFF332211, 0xFFC0B0A0}));

  // 32 bits, 10-10-10 with the top two bits unused (set here), bottom-up.
  p = decode_picture(
      bitmap_file(info_header(2, 2, 32, 3), le32_bytes({0x3FF00000, 0x000FFC00, 0x000003FF}),
                  le32_bytes({0xC0000000 | 1023u << 20 | 512u, 0xC0000000 | 512u << 10,  // bottom
                              0u, 0xFFFFFFFF})));                                        // top
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{kBlack, 0xFFFFFFFF, 0xFFFF0080, 0xFF008000}));
}

// ---- four-component JPEG -----------------------------------------------------------------------

// A JPEG of 8 x 8 blocks of flat CMYK samples (as stored: Adobe's inverted values, 255 = no
// ink), 4:4:4 at quality 100, written as CMYK or converted to YCCK by libjpeg, with the Adobe
// marker that says which.
Bytes four_component_jpeg(J_COLOR_SPACE stored, int blocks_across,
                          const std::vector<std::array<uint8_t, 4>>& blocks) {
  const int blocks_down = static_cast<int>(blocks.size()) / blocks_across;
  const int width = 8 * blocks_across;
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * 4);
  return compress_jpeg(
      width, 8 * blocks_down, 4, JCS_CMYK,
      [stored](jpeg_compress_struct& info) {
        jpeg_set_colorspace(&info, stored);
        jpeg_set_quality(&info, 100, TRUE);
        for (int i = 0; i < info.num_components; ++i) {
          info.comp_info[i].h_samp_factor = 1;
          info.comp_info[i].v_samp_factor = 1;
        }
        info.write_Adobe_marker = TRUE;
      },
      [&](JDIMENSION y) {
        const size_t block_row = y / 8 * static_cast<size_t>(blocks_across);
        for (size_t x = 0; x < static_cast<size_t>(width); ++x)
          std::memcpy(&row[4 * x], blocks[block_row + x / 8].data(), 4);
        return row.data();
      });
}

// The transform byte of the file's Adobe marker; -1 without one.
int adobe_transform(const Bytes& jpeg) {
  const Bytes tag = {0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e'};
  const auto at = std::search(jpeg.begin(), jpeg.end(), tag.begin(), tag.end());
  if (at == jpeg.end() || jpeg.end() - at < 16)
    return -1;
  return at[15];
}

struct FourComponentCase {
  const char* name;
  J_COLOR_SPACE stored;
  int transform;  // the Adobe marker's: 0 CMYK as it is, 2 YCCK
};

class FourComponentJpeg : public ::testing::TestWithParam<FourComponentCase> {};

// Stored samples s give red, green and blue s_c * s_k / 255, s_m * s_k / 255, s_y * s_k / 255:
// full samples are white, a zero K black whatever the rest.
TEST_P(FourComponentJpeg, InvertedInksGiveTheirColours) {
  const std::vector<std::array<uint8_t, 4>> blocks = {{255, 255, 255, 255}, {0, 255, 255, 255},
                                                      {255, 0, 255, 255},   {255, 255, 0, 255},
                                                      {200, 100, 50, 128},  {90, 160, 230, 0}};
  const uint32_t expected[] = {0xFFFFFF, 0x00FFFF, 0xFF00FF, 0xFFFF00, 0x643219, 0x000000};
  const Bytes jpeg = four_component_jpeg(GetParam().stored, 3, blocks);
  ASSERT_EQ(adobe_transform(jpeg), GetParam().transform);
  const auto p = decode_picture(jpeg);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, PictureKind::kJpeg);
  ASSERT_EQ(p->width, 24);
  ASSERT_EQ(p->height, 16);
  constexpr int kTolerance = 3;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 24; ++x) {
      const uint32_t want = expected[y / 8 * 3 + x / 8], got = p->pixel(x, y);
      ASSERT_EQ(got >> 24, 0xFFu) << x << "," << y;
      for (int shift : {16, 8, 0}) {
        const int a = static_cast<int>(got >> shift & 0xFF),
                  b = static_cast<int>(want >> shift & 0xFF);
        ASSERT_LE(std::abs(a - b), kTolerance) << std::hex << "at " << std::dec << x << "," << y
                                               << ": got " << std::hex << got << ", want " << want;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AdobeMarker, FourComponentJpeg,
                         ::testing::Values(FourComponentCase{"cmyk", JCS_CMYK, 0},
                                           FourComponentCase{"ycck", JCS_YCCK, 2}),
                         [](const auto& c) { return std::string(c.param.name); });

// ---- icons -----------------------------------------------------------------------------------

TEST(Icon, FirstThirtyTwoPixelEntryWithSixteenColoursOrMoreWins) {
  Bytes b = picture_files::read("ico_sizes.ico");
  b[6 + 16 + 2] = 16;  // the second entry (32 pixels) now claims 16 colours
  const auto p = decode_picture(b);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->width, 32);
  EXPECT_EQ(differing_pixels(*p, picture_files::read("ico_sizes_32.rgba"), 0), 0);
  b[6 + 16 + 2] = 15;  // 15 colours is not enough: the last entry again
  EXPECT_EQ(decode_picture(b)->width, 16);
}

TEST(Icon, EmbeddedHeaderWinsOverTheDirectory) {
  Bytes b = picture_files::read("ico_palette.ico");
  b[6] = 16;  // the entry claims 16 x 16; the bitmap inside is 48 x 48
  b[7] = 16;
  const auto p = decode_picture(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 48);
  EXPECT_EQ(p->height, 48);
}

// The type byte is all that tells an icon file from a cursor file: an icon's bytes with the
// cursor type decode as a cursor of the same picture.
TEST(Icon, CursorTypeOnAnIconDecodesAsACursor) {
  Bytes b = picture_files::read("ico_palette.ico");
  const auto icon = decode_picture(b);
  ASSERT_TRUE(icon);
  b[2] = 2;
  EXPECT_EQ(imaging::picture_kind(b), PictureKind::kCursor);
  const auto cursor = decode_picture(b);
  ASSERT_TRUE(cursor);
  EXPECT_EQ(cursor->kind, PictureKind::kCursor);
  EXPECT_EQ(cursor->pixels(), icon->pixels());
  b = picture_files::read("cur_32.cur");
  EXPECT_EQ(decode_picture(b)->kind, PictureKind::kCursor);
}

// ---- bad input ---------------------------------------------------------------------------------

// A valid 2 x 2 24-bit bitmap to break one field at a time.
Bytes small_bmp() {
  Bytes b(14 + 40 + 16, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 10, 54);
  put32(b, 14, 40);
  put32(b, 18, 2);
  put32(b, 22, 2);
  put16(b, 26, 1);
  put16(b, 28, 24);
  return b;
}

Bytes small_pcx(uint8_t version, uint8_t bits, uint16_t width, uint16_t bytes_per_line) {
  Bytes b(128, 0);
  b[0] = 0x0A;
  b[1] = version;
  b[2] = 1;
  b[3] = bits;
  put16(b, 8, width - 1u);
  put16(b, 10, 0);
  b[65] = 1;
  put16(b, 66, bytes_per_line);
  // One line of width bytes as runs of 1, then the palette.
  for (size_t i = 0; i < bytes_per_line; ++i) b.push_back(0x05);
  if (bits == 8) {
    b.push_back(0x0C);
    b.resize(b.size() + 768, 0x7F);
  }
  return b;
}

Bytes small_icon(uint32_t size, uint32_t offset) {
  Bytes b(6 + 16, 0);
  b[2] = 1;
  b[4] = 1;
  put32(b, 6 + 8, size);
  put32(b, 6 + 12, offset);
  b.resize(64, 0);
  return b;
}

struct BadCase {
  const char* name;
  Bytes bytes;
};

class BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInput, IsNoPicture) {
  EXPECT_FALSE(decode_picture(GetParam().bytes).has_value());
}

Bytes with32(Bytes b, size_t at, uint32_t v) {
  put32(b, at, v);
  return b;
}
Bytes with16(Bytes b, size_t at, uint32_t v) {
  put16(b, at, v);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Classes, BadInput,
    ::testing::Values(
        BadCase{"bmp_width_past_the_cap", with32(small_bmp(), 18, 16385)},
        BadCase{"bmp_width_negative", with32(small_bmp(), 18, static_cast<uint32_t>(-2))},
        BadCase{"bmp_width_times_height_overflows",
                with32(with32(small_bmp(), 18, 0x10000), 22, 0x10000)},
        BadCase{"bmp_pixels_past_the_cap", with32(with32(small_bmp(), 18, 16384), 22, 16384)},
        BadCase{"bmp_height_int_min", with32(small_bmp(), 22, 0x80000000u)},
        BadCase{"bmp_zero_width", with32(small_bmp(), 18, 0)},
        BadCase{"bmp_zero_height", with32(small_bmp(), 22, 0)},
        BadCase{"bmp_rows_past_the_file", with32(small_bmp(), 22, 3)},
        BadCase{"bmp_bits_offset_past_the_file", with32(small_bmp(), 10, 71)},
        BadCase{"bmp_bits_offset_wraps", with32(small_bmp(), 10, 0xFFFFFFF0u)},
        BadCase{"bmp_header_size_past_the_file", with32(small_bmp(), 14, 124)},
        BadCase{"bmp_header_size_odd", with32(small_bmp(), 14, 20)},
        BadCase{"bmp_bits_per_pixel_7", with16(small_bmp(), 28, 7)},
        BadCase{"bmp_rle8_on_24_bits", with32(small_bmp(), 30, 1)},
        BadCase{"bmp_jpeg_inside", with32(small_bmp(), 30, 4)},
        BadCase{"bmp_rle_top_down", with32(rle_bitmap(8, 4, 3, {0, 1}), 22,
                                           static_cast<uint32_t>(-3))},
        BadCase{"bmp_palette_past_the_file", with32(rle_bitmap(8, 4, 3, {0, 1}), 46, 200)},
        BadCase{"bmp_bitfields_all_zero", with32(with16(small_bmp(), 28, 32), 30, 3)},
        BadCase{"pcx_bytes_per_line_below_width", small_pcx(5, 8, 10, 9)},
        BadCase{"pcx_bytes_per_line_zero", small_pcx(5, 8, 10, 0)},
        BadCase{"pcx1_bytes_per_line_below_width", small_pcx(3, 1, 17, 2)},
        BadCase{"pcx_x_max_below_x_min", with16(small_pcx(5, 8, 4, 4), 4, 9)},
        BadCase{"pcx_without_palette_marker", [] {
                  Bytes b = small_pcx(5, 8, 4, 4);
                  b[b.size() - 769] = 0;
                  return b;
                }()},
        BadCase{"pcx_eight_bits_two_planes", [] {
                  Bytes b = small_pcx(5, 8, 4, 4);
                  b[65] = 2;
                  return b;
                }()},
        BadCase{"icon_entry_past_the_file", small_icon(40, 60)},
        BadCase{"icon_entry_offset_plus_size_wraps", small_icon(0xFFFFFFF0u, 0x20)},
        BadCase{"icon_entry_offset_past_the_file", small_icon(4, 0xFFFFFFFFu)},
        BadCase{"icon_directory_past_the_file", [] {
                  Bytes b = small_icon(4, 22);
                  b[4] = 200;
                  return b;
                }()},
        BadCase{"icon_dib_height_one", [] {
                  // A 1 x 1 bitmap of doubled height 1: no colour rows at all.
                  Bytes b = small_icon(48, 22);
                  put32(b, 22, 40);
                  put32(b, 26, 1);
                  put32(b, 30, 1);
                  put16(b, 34, 1);
                  put16(b, 36, 32);
                  return b;
                }()},
        BadCase{"gif_screen_of_no_size_and_empty_frame",
                Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 0, 0,
                      0, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B}}),
    [](const auto& c) { return std::string(c.param.name); });

// A PCX whose lines are exactly as long as they must be decodes, so the cases above fail for the
// reason they name.
TEST(Pcx, SmallValidFilesDecode) {
  auto p = decode_picture(small_pcx(5, 8, 4, 4));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixel(3, 0), 0xFF7F7F7Fu);
  // 0x05 is a literal byte: bits 00000101, white where set.
  p = decode_picture(small_pcx(3, 1, 16, 2));
  ASSERT_TRUE(p);
  const uint32_t k = kBlack, w = 0xFFFFFFFFu;
  EXPECT_EQ(p->pixels(), (std::vector<uint32_t>{k, k, k, k, k, w, k, w, k, k, k, k, k, w, k, w}));
}

TEST(Bmp, SmallValidFileDecodes) {
  const auto p = decode_picture(small_bmp());
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pixels(), std::vector<uint32_t>(4, kBlack));
}

// A GIF frame that reaches past the logical screen is cut at its edge; one entirely outside
// draws nothing.
TEST(Gif, FramesOutsideTheScreenAreCut) {
  const Bytes original = picture_files::read("gif_89a.gif");
  const Bytes descriptor = {0x2C, 0, 0, 0, 0, 46, 0, 70, 0};  // at (0, 0), 46 x 70
  const auto at =
      std::search(original.begin(), original.end(), descriptor.begin(), descriptor.end());
  ASSERT_NE(at, original.end());
  const size_t left = static_cast<size_t>(at - original.begin()) + 1;
  const auto whole = decode_picture(original);
  ASSERT_TRUE(whole);

  Bytes moved = original;
  put16(moved, left, 40);      // left 40: six columns on the screen
  put16(moved, left + 2, 60);  // top 60: ten rows on the screen
  const auto cut = decode_picture(moved);
  ASSERT_TRUE(cut);
  ASSERT_EQ(cut->width, 46);
  ASSERT_EQ(cut->height, 70);
  for (int y = 0; y < 70; ++y) {
    for (int x = 0; x < 46; ++x) {
      const uint32_t expected = x >= 40 && y >= 60 ? whole->pixel(x - 40, y - 60) : 0u;
      ASSERT_EQ(cut->pixel(x, y), expected) << x << "," << y;
    }
  }
  put16(moved, left, 0xFFFF);
  const auto outside = decode_picture(moved);
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->pixels(), std::vector<uint32_t>(46 * 70, 0u));
}

TEST(Gif, AnimationKeepsEveryFrameOnlyWhenAsked) {
  const Bytes b = picture_files::read("gif_animated.gif");
  const auto first = decode_picture(b, imaging::Frames::kFirstOnly);
  const auto all = decode_picture(b, imaging::Frames::kAll);
  ASSERT_TRUE(first && all);
  EXPECT_EQ(first->frames.size(), 1u);
  ASSERT_EQ(all->frames.size(), 3u);
  EXPECT_EQ(first->pixel(10, 10), kRed);
  // The second frame is an 8 x 8 square drawn over the first.
  const auto at = [&](size_t frame, int x, int y) {
    return all->frames[frame].pixels[static_cast<size_t>(y * all->width + x)];
  };
  EXPECT_EQ(at(1, 10, 10), kGreen);
  EXPECT_EQ(at(1, 2, 2), kRed);
  EXPECT_EQ(at(2, 2, 2), kBlue);
  EXPECT_EQ(all->frames[0].delay_ms, 0);
  EXPECT_EQ(all->frames[1].delay_ms, 100);
  EXPECT_EQ(all->frames[2].delay_ms, 300);
}

struct DisposedFrame {
  uint16_t left, top, width, height;
  int disposal;     // 0 none, 1 keep, 2 restore to background, 3 restore to previous
  int transparent;  // the transparent index, or -1
  std::vector<uint8_t> indices;
};

// An animation over flat_gif's four colours (black, red, green, blue), the background index
// green, each frame after its graphic control extension.
Bytes disposal_gif(uint16_t screen_w, uint16_t screen_h, const std::vector<DisposedFrame>& frames) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0x81, 2, 0};
  put16(b, 6, screen_w);
  put16(b, 8, screen_h);
  b.insert(b.end(), {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF});
  for (const DisposedFrame& f : frames) {
    const uint8_t packed = static_cast<uint8_t>(f.disposal << 2 | (f.transparent >= 0 ? 1 : 0));
    b.insert(b.end(), {0x21, 0xF9, 4, packed, 10, 0,
                       static_cast<uint8_t>(f.transparent >= 0 ? f.transparent : 0), 0});
    const size_t at = b.size();
    b.resize(at + 10, 0);
    b[at] = 0x2C;
    put16(b, at + 1, f.left);
    put16(b, at + 3, f.top);
    put16(b, at + 5, f.width);
    put16(b, at + 7, f.height);
    const Bytes data = costly::lzw(f.indices);
    b.push_back(costly::kGifMinCodeSize);
    b.push_back(static_cast<uint8_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(0);
  }
  b.push_back(0x3B);
  return b;
}

// Each kept frame is the screen after that frame is drawn; what a frame leaves for the next is
// its disposal: kept as drawn, its rectangle cleared to transparent (as browsers do; the
// background index is not painted), or the screen as it was before the frame.
TEST(Gif, DisposalDecidesWhatTheNextFrameDrawsOver) {
  constexpr uint8_t R = 1, G = 2, B = 3;
  const Bytes b =
      disposal_gif(4, 4,
                   {{0, 0, 4, 4, 1, -1, std::vector<uint8_t>(16, R)},
                    // 2 x 2 at (1, 1), its top right pixel transparent; undone afterwards.
                    {1, 1, 2, 2, 3, B, {G, B, G, G}},
                    // 2 x 2 at (2, 2), cleared afterwards.
                    {2, 2, 2, 2, 2, -1, {B, B, B, B}},
                    // One pixel at (0, 0) over what the others left.
                    {0, 0, 1, 1, 0, -1, {G}}});
  const auto p = decode_picture(b, imaging::Frames::kAll);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->width, 4);
  ASSERT_EQ(p->height, 4);
  ASSERT_EQ(p->frames.size(), 4u);
  const uint32_t r = kRed, g = kGreen, u = kBlue, o = kClear;
  const std::vector<uint32_t> expected[4] = {
      std::vector<uint32_t>(16, r),
      {r, r, r, r,  //
       r, g, r, r,  //
       r, g, g, r,  //
       r, r, r, r},
      {r, r, r, r,  //
       r, r, r, r,  //
       r, r, u, u,  //
       r, r, u, u},
      {g, r, r, r,  //
       r, r, r, r,  //
       r, r, o, o,  //
       r, r, o, o},
  };
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(p->frames[i].pixels, expected[i]) << "frame " << i;
}

// Restoring to the previous screen goes back past a cleared rectangle too, and a frame that
// restores the screen before it twice in a row keeps going back to the same one.
TEST(Gif, RestoreToPreviousAfterAClearedRectangle) {
  constexpr uint8_t R = 1, G = 2, B = 3;
  const Bytes b = disposal_gif(3, 1,
                               {{0, 0, 3, 1, 1, -1, {R, R, R}},
                                {0, 0, 1, 1, 2, -1, {B}},  // cleared: (0, 0) transparent from here
                                {1, 0, 1, 1, 3, -1, {G}},
                                {2, 0, 1, 1, 3, -1, {B}},
                                {1, 0, 2, 1, 1, -1, {B, B}}});
  const auto p = decode_picture(b, imaging::Frames::kAll);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->frames.size(), 5u);
  const uint32_t r = kRed, g = kGreen, u = kBlue, o = kClear;
  EXPECT_EQ(p->frames[1].pixels, (std::vector<uint32_t>{u, r, r}));
  EXPECT_EQ(p->frames[2].pixels, (std::vector<uint32_t>{o, g, r}));
  EXPECT_EQ(p->frames[3].pixels, (std::vector<uint32_t>{o, r, u}));
  EXPECT_EQ(p->frames[4].pixels, (std::vector<uint32_t>{o, u, u}));
}

// ---- GIF's LZW ---------------------------------------------------------------------------------

// Codes packed as a GIF packs them, lowest bit first, each at the width given.
Bytes pack_codes(std::initializer_list<std::pair<int, int>> codes) {
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  for (const auto& [code, width] : codes) {
    acc |= static_cast<uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0)
    out.push_back(static_cast<uint8_t>(acc));
  return out;
}

constexpr uint32_t kGifColours[4] = {kBlack, kRed, kGreen, kBlue};  // costly::gif_of's

struct LzwCase {
  const char* name;
  uint16_t width;
  Bytes data;
  std::vector<int> indices;  // the row of pixels; empty: no picture
  uint8_t min_code_size = 2;
};

class GifCodes : public ::testing::TestWithParam<LzwCase> {};

TEST_P(GifCodes, DecodeToTheirPixels) {
  const LzwCase& c = GetParam();
  const auto p = decode_picture(costly::gif_of(c.width, 1, c.data, false, c.min_code_size));
  if (c.indices.empty()) {
    EXPECT_FALSE(p.has_value());
    return;
  }
  ASSERT_TRUE(p.has_value());
  std::vector<uint32_t> expected;
  for (int i : c.indices) expected.push_back(kGifColours[i]);
  EXPECT_EQ(p->pixels(), expected);
}

// Two-bit codes: 4 clears, 5 ends, entries from 6; three bits wide, four from entry 8 on.
INSTANTIATE_TEST_SUITE_P(
    Streams, GifCodes,
    ::testing::Values(
        // 1, 2, "12" (entry 6), then entry 8 while it is being defined: "12" and its first.
        LzwCase{"entries_and_the_entry_being_defined",
                7,
                pack_codes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {8, 4}, {5, 4}}),
                {1, 2, 1, 2, 1, 2, 1}},
        LzwCase{"clear_restarts_table_and_width",
                6,
                pack_codes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {4, 4}, {3, 3}, {3, 3}, {5, 3}}),
                {1, 2, 1, 2, 3, 3}},
        LzwCase{"codes_past_the_last_pixel_unread",
                2,
                pack_codes({{4, 3}, {1, 3}, {2, 3}, {7, 3}, {7, 3}}),
                {1, 2}},
        LzwCase{"first_code_after_clear_an_entry", 2, pack_codes({{4, 3}, {6, 3}, {5, 3}}), {}},
        LzwCase{"code_past_the_table", 3, pack_codes({{4, 3}, {1, 3}, {7, 3}, {5, 3}}), {}},
        LzwCase{"end_before_the_last_pixel", 3, pack_codes({{4, 3}, {1, 3}, {2, 3}, {5, 3}}), {}},
        LzwCase{"data_ends_before_the_last_pixel", 3, pack_codes({{4, 3}, {1, 3}}), {}},
        LzwCase{"minimum_code_size_1", 2, pack_codes({{2, 2}, {1, 2}, {1, 2}, {3, 2}}), {}, 1},
        LzwCase{
            "minimum_code_size_9", 2, pack_codes({{512, 10}, {1, 10}, {1, 10}, {513, 10}}), {}, 9}),
    [](const auto& c) { return std::string(c.param.name); });

// Pixels of every colour in no pattern, written with and without clearing a full table, in
// rows and interlaced, come back as they went in.
TEST(Gif, LzwRoundTrips) {
  constexpr uint16_t kWidth = 301, kHeight = 203;
  std::mt19937 random(99);
  std::vector<uint8_t> indices(size_t{kWidth} * kHeight);
  for (uint8_t& i : indices) i = static_cast<uint8_t>(random() % 4 == 0 ? random() % 4 : 1);
  for (const auto full : {costly::FullTable::kClear, costly::FullTable::kKeep}) {
    for (const bool interlaced : {false, true}) {
      // An interlaced frame sends its rows in four passes: every 8th from 0, every 8th from 4,
      // every 4th from 2, every 2nd from 1.
      std::vector<uint8_t> stream;
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
        for (int y = interlaced ? kStart[pass] : 0; y < kHeight; y += interlaced ? kStep[pass] : 1)
          stream.insert(stream.end(), indices.begin() + y * kWidth,
                        indices.begin() + (y + 1) * kWidth);
      }
      const auto p =
          decode_picture(costly::gif_of(kWidth, kHeight, costly::lzw(stream, full), interlaced));
      ASSERT_TRUE(p.has_value());
      std::vector<uint32_t> expected;
      for (uint8_t i : indices) expected.push_back(kGifColours[i]);
      EXPECT_EQ(p->pixels(), expected) << (full == costly::FullTable::kClear ? "clear" : "keep")
                                       << (interlaced ? " interlaced" : "");
    }
  }
}

}  // namespace
