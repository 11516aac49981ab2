// Why a decode gives no picture: one representative bad input per reason, and every prefix of a
// valid file reported as cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "costly_pictures.h"
#include "decoders/picture.h"
#include "picture_files.h"

namespace {

using imaging::decode_picture_with_reason;
using imaging::DecodeFailure;
using Bytes = std::vector<uint8_t>;

using costly::put16;
using costly::put32;

// A valid 2 x 2 24-bit bitmap, one field changed.
Bytes bmp_with(size_t at, uint32_t value, int width = 4) {
  Bytes b(14 + 40 + 16, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 10, 54);
  put32(b, 14, 40);
  put32(b, 18, 2);
  put32(b, 22, 2);
  put16(b, 26, 1);
  put16(b, 28, 24);
  if (width == 2)
    put16(b, at, value);
  else
    put32(b, at, value);
  return b;
}

// A 4 x 1 8-bit PCX with its palette, one header byte changed.
Bytes pcx_with(size_t at, uint8_t value) {
  Bytes b(128, 0);
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = 1;
  b[3] = 8;
  put16(b, 8, 3);
  b[65] = 1;
  put16(b, 66, 4);
  b.insert(b.end(), 4, 0x05);
  b.push_back(0x0C);
  b.resize(b.size() + 768, 0x7F);
  b[at] = value;
  return b;
}

// A 1 x 1 GIF of `images` image records, each one pixel coded as clear, 0, end.
Bytes gif_of(size_t images, uint8_t first_code = 0x44) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  for (size_t i = 0; i < images; ++i) {
    const uint8_t image[] = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, first_code, 0x01, 0};
    b.insert(b.end(), std::begin(image), std::end(image));
  }
  b.push_back(0x3B);
  return b;
}

// The baseline JPEG with its frame header claiming a size past the caps.
Bytes oversized_jpeg() {
  Bytes b = picture_files::read("jpeg_baseline.jpg");
  const uint8_t sof[] = {0xFF, 0xC0};
  const auto at = std::search(b.begin(), b.end(), std::begin(sof), std::end(sof)) - b.begin();
  const size_t height = static_cast<size_t>(at) + 5;
  b[height] = 0x13;  // 5000 rows
  b[height + 1] = 0x88;
  return b;
}

Bytes prefix(const char* file, size_t n) {
  Bytes b = picture_files::read(file);
  b.resize(std::min(n, b.size()));
  return b;
}

struct ReasonCase {
  const char* name;
  Bytes bytes;
  DecodeFailure failure;
};

class Reason : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(Reason, IsReportedBesideNoPicture) {
  const imaging::DecodeResult r = decode_picture_with_reason(GetParam().bytes);
  EXPECT_FALSE(r.picture.has_value());
  EXPECT_EQ(r.failure, GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    OnePerCause, Reason,
    ::testing::Values(
        ReasonCase{"html_page", Bytes{'<', 'h', 't', 'm', 'l', '>', '<', 'b', 'o', 'd', 'y'},
                   DecodeFailure::kUnknownFormat},
        ReasonCase{"seven_bytes", Bytes{'B', 'M', 0, 0, 0, 0, 0}, DecodeFailure::kUnknownFormat},
        ReasonCase{"bmp_header_cut", prefix("bmp_24bit.bmp", 30), DecodeFailure::kTruncated},
        ReasonCase{"bmp_rows_past_the_file", bmp_with(22, 3), DecodeFailure::kTruncated},
        ReasonCase{"pcx_header_cut", prefix("pcx_8bit.pcx", 100), DecodeFailure::kTruncated},
        ReasonCase{"bmp_header_size_odd", bmp_with(14, 20), DecodeFailure::kBadHeader},
        ReasonCase{"bmp_zero_width", bmp_with(18, 0), DecodeFailure::kBadHeader},
        ReasonCase{"bmp_bits_offset_inside_the_header", bmp_with(10, 20),
                   DecodeFailure::kBadHeader},
        ReasonCase{"pcx_bytes_per_line_zero", pcx_with(66, 0), DecodeFailure::kBadHeader},
        ReasonCase{"bmp_width_past_the_cap", bmp_with(18, 4097), DecodeFailure::kTooLarge},
        ReasonCase{"bmp_pixels_past_the_cap",
                   [] {
                     Bytes b = bmp_with(18, 4096);
                     put32(b, 22, 4097);
                     return b;
                   }(),
                   DecodeFailure::kTooLarge},
        ReasonCase{"jpeg_rows_past_the_cap", oversized_jpeg(), DecodeFailure::kTooLarge},
        ReasonCase{"bmp_bits_per_pixel_7", bmp_with(28, 7, 2), DecodeFailure::kUnsupported},
        ReasonCase{"bmp_jpeg_inside", bmp_with(30, 4), DecodeFailure::kUnsupported},
        ReasonCase{"pcx_eight_bits_two_planes", pcx_with(65, 2), DecodeFailure::kUnsupported},
        ReasonCase{"pcx_without_palette_marker", pcx_with(128 + 4, 0), DecodeFailure::kCorruptData},
        ReasonCase{"gif_code_before_its_entry", gif_of(1, 0x74), DecodeFailure::kCorruptData},
        ReasonCase{"gif_of_10001_images", gif_of(10001), DecodeFailure::kTooManyFrames}),
    [](const auto& c) { return std::string(c.param.name); });

// The GIF builder above makes pictures: the cases fail for the reason they name.
TEST(Reason, DecodedPictureHasNone) {
  const imaging::DecodeResult gif = decode_picture_with_reason(gif_of(3));
  ASSERT_TRUE(gif.picture.has_value());
  EXPECT_EQ(gif.failure, DecodeFailure::kNone);
  EXPECT_EQ(decode_picture_with_reason(pcx_with(0, 0x0A)).failure, DecodeFailure::kNone);
}

// Every prefix of a valid file past the kind's eight bytes is cut short, for every kind whose
// end is known (an 8-bit PCX keeps its palette at the end, so a prefix of it reads as a missing
// palette instead).
TEST(Reason, EveryPrefixIsTruncated) {
  for (const char* file : {"bmp_8bit.bmp", "bmp_rle8.bmp", "jpeg_progressive.jpg", "png_rgba.png",
                           "gif_interlaced.gif", "pcx_1bit.pcx", "ico_palette.ico"}) {
    const Bytes bytes = picture_files::read(file);
    ASSERT_FALSE(bytes.empty()) << file;
    const size_t step = bytes.size() > 4000 ? 7 : 1;
    for (size_t n = 8; n < bytes.size(); n += step) {
      const imaging::DecodeResult r =
          decode_picture_with_reason(std::span<const uint8_t>(bytes.data(), n));
      ASSERT_EQ(r.failure, DecodeFailure::kTruncated) << file << ", " << n << " bytes";
    }
  }
}

}  // namespace
