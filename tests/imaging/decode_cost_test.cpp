// The costliest pictures each format allows, at the caps and one past them: each decodes or is
// refused as its case says. Every case prints how long the decode took, in wall-clock time and
// in the thread's processor time (page faults included), which other work on the machine does
// not inflate; the figures that matter come from the optimised build.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "costly_pictures.h"
#include "imaging/picture.h"

namespace {

using costly::Bytes;
using imaging::Frames;

enum class Outcome { kDecodes, kRefused };

struct CostCase {
  const char* name;
  std::function<Bytes()> make;
  Outcome outcome;
  Frames frames = Frames::kFirstOnly;
};

double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

class DecodeCost : public ::testing::TestWithParam<CostCase> {};

TEST_P(DecodeCost, DecodesOrIsRefused) {
  const CostCase& c = GetParam();
  const Bytes bytes = c.make();
  ASSERT_LE(bytes.size(), size_t{8} << 20) << "the case must fit a poster's size cap";
  const double cpu_start = thread_cpu_ms();
  const auto start = std::chrono::steady_clock::now();
  const std::optional<imaging::Picture> p = imaging::decode_picture(bytes, c.frames);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const double cpu_ms = thread_cpu_ms() - cpu_start;
  std::printf("%-40s %9zu bytes %8.1f ms %8.1f ms cpu  %s\n", c.name, bytes.size(), ms, cpu_ms,
              p ? (std::to_string(p->width) + " x " + std::to_string(p->height) + ", " +
                   std::to_string(p->frames.size()) + " frames")
                      .c_str()
                : "refused");
  RecordProperty("milliseconds", static_cast<int>(ms));
  RecordProperty("cpu_milliseconds", static_cast<int>(cpu_ms));
  EXPECT_EQ(p.has_value(), c.outcome == Outcome::kDecodes);
}

// A progressive JPEG whose last scan, a refinement, comes `times` times.
Bytes scan_bomb(int side, size_t times) {
  return costly::repeat_last_scan(
      costly::encode_jpeg(
          {side, side, 3, costly::Coding::kProgressive, {}, costly::Chroma::kQuarter}),
      times);
}

using costly::Coding;
using costly::GifFrame;
constexpr Outcome kDecodes = Outcome::kDecodes, kRefused = Outcome::kRefused;

std::vector<GifFrame> frames_of(size_t n, GifFrame f) {
  return std::vector<GifFrame>(n, f);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeCost,
    ::testing::Values(
        // JPEG: the last refinement scan repeated 1000 times; the largest baseline and the
        // costliest valid progression; scan counts at and past the cap; arithmetic coding.
        CostCase{"jpeg_scan_bomb_5792", [] { return scan_bomb(5792, 1000); }, kRefused},
        CostCase{"jpeg_scan_bomb_4096", [] { return scan_bomb(4096, 1000); }, kRefused},
        // Fewer repeats than the scan cap: refused for the repeat itself.
        CostCase{"jpeg_scan_repeated_50_times_4096", [] { return scan_bomb(4096, 50); }, kRefused},
        // A first scan sent again, which libjpeg accepts, restarting a full round of
        // refinements each time: eight rounds of eleven scans.
        CostCase{"jpeg_refinement_rounds_repeated_4096",
                 [] {
                   const Bytes once = costly::encode_jpeg(
                       {4096, 4096, 1, Coding::kProgressive, costly::refined_scans(1, 10)});
                   return costly::repeat_scans(once, 11, 8);
                 },
                 kRefused},
        CostCase{"jpeg_sequential_scan_repeated_4096",
                 [] {
                   return costly::repeat_last_scan(
                       costly::encode_jpeg({4096, 4096, 3, Coding::kBaseline,
                                            costly::component_scans(3, false),
                                            costly::Chroma::kQuarter}),
                       60);
                 },
                 kRefused},
        CostCase{"jpeg_sequential_three_scans_4096",
                 [] {
                   return costly::encode_jpeg({4096, 4096, 3, Coding::kBaseline,
                                               costly::component_scans(3, false),
                                               costly::Chroma::kQuarter});
                 },
                 kDecodes},
        CostCase{"jpeg_baseline_4096",
                 [] {
                   return costly::encode_jpeg({4096, 4096, 3, Coding::kBaseline});
                 },
                 kDecodes},
        CostCase{"jpeg_baseline_4097_wide",
                 [] {
                   return costly::encode_jpeg({4097, 16, 3, Coding::kBaseline});
                 },
                 kRefused},
        CostCase{"jpeg_baseline_4097_high",
                 [] {
                   return costly::encode_jpeg({16, 4097, 1, Coding::kBaseline});
                 },
                 kRefused},
        CostCase{"jpeg_progressive_420_4096",
                 [] {
                   return costly::encode_jpeg(
                       {4096, 4096, 3, Coding::kProgressive, {}, costly::Chroma::kQuarter});
                 },
                 kDecodes},
        // Full-resolution colour needs more coefficient memory than libjpeg may have.
        CostCase{"jpeg_progressive_444_4096",
                 [] {
                   return costly::encode_jpeg({4096, 4096, 3, Coding::kProgressive});
                 },
                 kRefused},
        CostCase{"jpeg_grey_refined_4096",
                 [] {
                   return costly::encode_jpeg(
                       {4096, 4096, 1, Coding::kProgressive, costly::refined_scans(1, 10)});
                 },
                 kDecodes},
        CostCase{"jpeg_colour_refined_3328",
                 [] {
                   return costly::encode_jpeg(
                       {3328, 3328, 3, Coding::kProgressive, costly::refined_scans(3, 10)});
                 },
                 kDecodes},
        CostCase{"jpeg_cmyk_refined_2880",
                 [] {
                   return costly::encode_jpeg(
                       {2880, 2880, 4, Coding::kProgressive, costly::refined_scans(4, 10)});
                 },
                 kDecodes},
        CostCase{"jpeg_cmyk_refined_4096",
                 [] {
                   return costly::encode_jpeg(
                       {4096, 4096, 4, Coding::kProgressive, costly::refined_scans(4, 10)});
                 },
                 kRefused},
        CostCase{"jpeg_grey_100_scans_4096",
                 [] {
                   return costly::encode_jpeg(
                       {4096, 4096, 1, Coding::kProgressive, costly::many_grey_scans(100)});
                 },
                 kDecodes},
        CostCase{"jpeg_grey_101_scans_64",
                 [] {
                   return costly::encode_jpeg(
                       {64, 64, 1, Coding::kProgressive, costly::many_grey_scans(101)});
                 },
                 kRefused},
        CostCase{"jpeg_arithmetic_4096",
                 [] {
                   return costly::encode_jpeg(
                       {4096, 4096, 3, Coding::kArithmetic, {}, costly::Chroma::kQuarter});
                 },
                 kRefused},
        // PNG: every colour type's costliest depth at the largest size, plain and interlaced.
        CostCase{"png_rgba8_4096", [] { return costly::flat_png(4096, 4096, 6, 8); }, kDecodes},
        CostCase{"png_rgba8_interlaced_4096",
                 [] { return costly::flat_png(4096, 4096, 6, 8, true); }, kDecodes},
        CostCase{"png_grey_alpha16_interlaced_4096",
                 [] { return costly::flat_png(4096, 4096, 4, 16, true); }, kDecodes},
        // Past the cap on raw data: 16-bit colour at the largest size, and at 2896 a side.
        CostCase{"png_rgba16_4096", [] { return costly::flat_png(4096, 4096, 6, 16); }, kRefused},
        CostCase{"png_rgb16_4096", [] { return costly::flat_png(4096, 4096, 2, 16); }, kRefused},
        CostCase{"png_rgba16_2896", [] { return costly::flat_png(2896, 2896, 6, 16); }, kDecodes},
        CostCase{"png_rgba16_2897", [] { return costly::flat_png(2897, 2896, 6, 16); }, kRefused},
        CostCase{"png_palette_trns_4096", [] { return costly::flat_png(4096, 4096, 3, 8); },
                 kDecodes},
        CostCase{"png_grey1_4096", [] { return costly::flat_png(4096, 4096, 0, 1); }, kDecodes},
        CostCase{"png_4097_wide", [] { return costly::flat_png(4097, 16, 6, 8); }, kRefused},
        CostCase{"png_4096_by_4097", [] { return costly::flat_png(4096, 4097, 0, 1); }, kRefused},
        // GIF: the largest frame, interlaced too; animations of many frames, large frames on a
        // small screen, and tiny frames by the hundred thousand.
        CostCase{"gif_4096",
                 [] {
                   return costly::flat_gif(4096, 4096, {{0, 0, 4096, 4096}});
                 },
                 kDecodes},
        CostCase{"gif_4096_interlaced",
                 [] {
                   return costly::flat_gif(4096, 4096, {{0, 0, 4096, 4096, true}});
                 },
                 kDecodes},
        CostCase{"gif_4097_wide",
                 [] {
                   return costly::flat_gif(4097, 16, {{0, 0, 4097, 16}});
                 },
                 kRefused},
        CostCase{"gif_400_frames_4096",
                 [] {
                   return costly::flat_gif(4096, 4096, frames_of(400, {0, 0, 4096, 4096}));
                 },
                 kDecodes, Frames::kAll},
        CostCase{"gif_400_frames_4096_on_1x1",
                 [] {
                   return costly::flat_gif(1, 1, frames_of(400, {0, 0, 4096, 4096}));
                 },
                 kDecodes, Frames::kAll},
        CostCase{"gif_2000_frames_300x400",
                 [] {
                   return costly::flat_gif(300, 400, frames_of(2000, {0, 0, 300, 400}));
                 },
                 kDecodes, Frames::kAll},
        CostCase{"gif_10000_frames_1x1",
                 [] {
                   return costly::flat_gif(64, 64, frames_of(10000, {5, 5, 1, 1}));
                 },
                 kDecodes, Frames::kAll},
        CostCase{"gif_10001_frames_1x1",
                 [] {
                   return costly::flat_gif(64, 64, frames_of(10001, {5, 5, 1, 1}));
                 },
                 kRefused},
        CostCase{"gif_300000_frames_1x1",
                 [] {
                   return costly::flat_gif(64, 64, frames_of(300000, {5, 5, 1, 1}));
                 },
                 kRefused, Frames::kAll},
        // 22 million clear codes: each cost giflib's decoder a 16 KiB table wipe.
        CostCase{"gif_clear_codes_8mib", [] { return costly::clear_codes_gif(22000000); },
                 kDecodes},
        CostCase{"gif_1600000_comments",
                 [] {
                   return costly::flat_gif(64, 64, {{0, 0, 64, 64}}, 1600000);
                 },
                 kDecodes},
        // BMP: the largest uncompressed at each depth that fits 8 MiB, RLE8, and files that
        // claim more than they hold.
        CostCase{"bmp_1bit_4096", [] { return costly::plain_bmp(4096, 4096, 1); }, kDecodes},
        CostCase{"bmp_4bit_4096x4000", [] { return costly::plain_bmp(4096, 4000, 4); }, kDecodes},
        CostCase{"bmp_8bit_4096x2000", [] { return costly::plain_bmp(4096, 2000, 8); }, kDecodes},
        CostCase{"bmp_24bit_1600", [] { return costly::plain_bmp(1600, 1600, 24); }, kDecodes},
        CostCase{"bmp_32bit_1400_top_down", [] { return costly::plain_bmp(1400, -1400, 32); },
                 kDecodes},
        CostCase{"bmp_1bit_4097_wide", [] { return costly::plain_bmp(4097, 16, 1); }, kRefused},
        CostCase{"bmp_rle8_4096", [] { return costly::rle8_bmp(4096, 4096); }, kDecodes},
        CostCase{"bmp_rle8_end_only_4096", [] { return costly::empty_rle8_bmp(4096, 4096); },
                 kRefused},
        CostCase{"bmp_24bit_4096_ten_rows_held",
                 [] { return costly::plain_bmp(4096, 4096, 24, 10); }, kRefused},
        // PCX: runs of 63 bytes at the largest size, every kind.
        CostCase{"pcx_8bit_4096", [] { return costly::flat_pcx(4096, 4096, 8, 1); }, kDecodes},
        CostCase{"pcx_24bit_4096", [] { return costly::flat_pcx(4096, 4096, 8, 3); }, kDecodes},
        CostCase{"pcx_1bit_4096", [] { return costly::flat_pcx(4096, 4096, 1, 1); }, kDecodes},
        CostCase{"pcx_8bit_4097_high", [] { return costly::flat_pcx(16, 4097, 8, 1); }, kRefused},
        // Icons: the largest bitmap and PNG inside, and a full directory.
        CostCase{"icon_1bit_4096", [] { return costly::icon_of(costly::icon_dib(4096, 4096, 1)); },
                 kDecodes},
        CostCase{"icon_32bit_1400",
                 [] { return costly::icon_of(costly::icon_dib(1400, 1400, 32)); }, kDecodes},
        CostCase{"icon_png_rgba8_4096",
                 [] { return costly::icon_of(costly::flat_png(4096, 4096, 6, 8)); }, kDecodes},
        CostCase{"icon_65535_entries",
                 [] { return costly::icon_of(costly::icon_dib(16, 16, 32), 65535); }, kDecodes}),
    [](const auto& c) { return std::string(c.param.name); });

// ---- claims the file cannot hold -------------------------------------------------------------

// Pages this thread touched for the first time: a decoder that allocates and clears the pixels
// of the largest picture touches 16384 of them.
long fresh_pages() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

struct ClaimCase {
  const char* name;
  std::function<Bytes()> whole;  // decodes, at 4096 x 4096
  std::function<Bytes()> claim;  // the same header over too little data
};

class Claims : public ::testing::TestWithParam<ClaimCase> {};

// The whole file shows what decoding touches; the claim is refused touching next to nothing.
TEST_P(Claims, RefusedBeforeThePixelsAreAllocated) {
  const Bytes whole = GetParam().whole(), claim = GetParam().claim();
  long before = fresh_pages();
  ASSERT_TRUE(imaging::decode_picture(whole).has_value());
  EXPECT_GT(fresh_pages() - before, 16384);
  before = fresh_pages();
  EXPECT_FALSE(imaging::decode_picture(claim).has_value());
  EXPECT_LT(fresh_pages() - before, 256);
}

Bytes cut(Bytes b, size_t keep) {
  b.resize(keep);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    UncompressedAndRunLength, Claims,
    ::testing::Values(
        ClaimCase{"bmp_1bit_ten_rows_held", [] { return costly::plain_bmp(4096, 4096, 1); },
                  [] { return costly::plain_bmp(4096, 4096, 1, 10); }},
        ClaimCase{"bmp_24bit_ten_rows_held", [] { return costly::plain_bmp(4096, 4096, 1); },
                  [] { return costly::plain_bmp(4096, 4096, 24, 10); }},
        ClaimCase{"bmp_rle8_end_of_bitmap_only", [] { return costly::rle8_bmp(4096, 4096); },
                  [] { return costly::empty_rle8_bmp(4096, 4096); }},
        ClaimCase{"icon_bitmap_half_its_rows",
                  [] { return costly::icon_of(costly::icon_dib(4096, 4096, 1)); },
                  [] {
                    return costly::icon_of(
                        cut(costly::icon_dib(4096, 4096, 1), 40 + 8 + 4096 / 8 * 2048));
                  }},
        ClaimCase{"pcx_one_line_of_runs", [] { return costly::flat_pcx(4096, 4096, 8, 3); },
                  [] { return cut(costly::flat_pcx(4096, 4096, 8, 3), 128 + 3 * 66 * 2); }}),
    [](const auto& c) { return std::string(c.param.name); });

}  // namespace
