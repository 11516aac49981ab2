// JPEG rows as libjpeg itself gives them: every row of every kind of JPEG (sequential and
// progressive, colour and grey, each chroma sampling, restart markers, odd sizes) lands whole and
// in order, and a file cut anywhere short of its end is no picture.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "costly_pictures.h"
#include "decoders/picture.h"
#include "imaging/picture_files.h"

namespace {

using imaging::DecodeFailure;
using imaging::PictureKind;
using Bytes = std::vector<uint8_t>;
using costly::compress_jpeg;

struct Encoding {
  int width, height;
  J_COLOR_SPACE space;                 // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
  int h_sampling = 2, v_sampling = 2;  // of the first component
  bool progressive = false;
  unsigned restart_rows = 0;
};

// A picture whose every pixel differs from its neighbours in a way of its own, encoded by
// libjpeg.
Bytes encode(const Encoding& e) {
  const int components = e.space == JCS_GRAYSCALE ? 1 : e.space == JCS_CMYK ? 4 : 3;
  std::vector<uint8_t> samples(static_cast<size_t>(e.width) * e.height * components);
  for (int y = 0; y < e.height; ++y)
    for (int x = 0; x < e.width; ++x)
      for (int c = 0; c < components; ++c)
        samples[(static_cast<size_t>(y) * e.width + x) * components + c] =
            static_cast<uint8_t>(x * (3 + c) + y * (7 - c) + (x * y) % 11);
  return compress_jpeg(
      e.width, e.height, components, e.space,
      [&e](jpeg_compress_struct& info) {
        jpeg_set_quality(&info, 90, TRUE);
        info.comp_info[0].h_samp_factor = e.h_sampling;
        info.comp_info[0].v_samp_factor = e.v_sampling;
        info.restart_in_rows = static_cast<int>(e.restart_rows);
        if (e.progressive)
          jpeg_simple_progression(&info);
      },
      [&](JDIMENSION y) { return &samples[static_cast<size_t>(y) * e.width * components]; });
}

// libjpeg's own decode of a valid colour or grey file into blue-green-red-alpha pixels.
std::vector<uint32_t> libjpeg_pixels(const Bytes& jpeg, int* width, int* height) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  std::vector<uint32_t> pixels(static_cast<size_t>(*width) * *height);
  while (info.output_scanline < info.output_height) {
    auto row = reinterpret_cast<JSAMPROW>(&pixels[info.output_scanline * info.output_width]);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return pixels;
}

struct Named {
  std::string name;
  Bytes jpeg;
};

std::vector<Named> colour_and_grey_files() {
  return {
      {"baseline file", picture_files::read("jpeg_baseline.jpg")},
      {"progressive file", picture_files::read("jpeg_progressive.jpg")},
      {"grey file", picture_files::read("jpeg_gray.jpg")},
      {"1 x 1", encode({1, 1, JCS_RGB})},
      {"17 x 9, 4:2:0", encode({17, 9, JCS_RGB})},
      {"333 x 7, 4:2:2", encode({333, 7, JCS_RGB, 2, 1})},
      {"40 x 65, 4:4:4, restarts", encode({40, 65, JCS_RGB, 1, 1, false, 1})},
      {"45 x 33, progressive", encode({45, 33, JCS_RGB, 2, 2, true})},
      {"31 x 200, grey", encode({31, 200, JCS_GRAYSCALE, 1, 1})},
      {"70 x 3, grey, progressive", encode({70, 3, JCS_GRAYSCALE, 1, 1, true})},
  };
}

TEST(JpegRows, EveryRowAsLibjpegDecodesIt) {
  for (const Named& f : colour_and_grey_files()) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(f.jpeg.empty());
    int width = 0, height = 0;
    const std::vector<uint32_t> expected = libjpeg_pixels(f.jpeg, &width, &height);
    const auto p = imaging::decode_picture(f.jpeg);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->kind, PictureKind::kJpeg);
    EXPECT_EQ(p->width, width);
    EXPECT_EQ(p->height, height);
    ASSERT_EQ(p->frames.size(), 1u);
    EXPECT_EQ(p->pixels(), expected);
  }
}

// No cut of a file is a picture: the empty start has no header, every other cut is short.
TEST(JpegRows, EveryCutShortOfTheEndIsTruncated) {
  std::vector<Named> files = colour_and_grey_files();
  files.push_back({"CMYK", encode({24, 20, JCS_CMYK, 1, 1})});
  for (const Named& f : files) {
    SCOPED_TRACE(f.name);
    for (size_t cut = 0; cut < f.jpeg.size(); ++cut) {
      const imaging::DecodeResult r =
          imaging::decode_picture_with_reason(std::span<const uint8_t>(f.jpeg.data(), cut));
      ASSERT_FALSE(r.picture) << cut;
      ASSERT_EQ(r.failure, cut < 8 ? DecodeFailure::kUnknownFormat : DecodeFailure::kTruncated)
          << cut;
    }
    EXPECT_TRUE(imaging::decode_picture(f.jpeg));
  }
}

}  // namespace
