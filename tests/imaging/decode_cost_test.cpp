// The costliest pictures each format allows, at the caps and one past them: each decodes or is
// refused as its case says. Every case prints how long the decode took, in wall-clock time and
// in the thread's processor time (page faults included), which other work on the machine does
// not inflate; the figures that matter come from the optimised build.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "costly_pictures.h"
#include "decoders/picture.h"

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

// Makers for the table: each builds its picture when the case runs.
using Make = std::function<Bytes()>;
using costly::Chroma;
using costly::Coding;
constexpr Outcome kDecodes = Outcome::kDecodes, kRefused = Outcome::kRefused;
constexpr size_t kLastScan = SIZE_MAX;

Make jpeg(int w, int h, int components, Coding coding, std::vector<jpeg_scan_info> scans = {},
          Chroma chroma = Chroma::kFull) {
  return [=] { return costly::encode_jpeg({w, h, components, coding, scans, chroma}); };
}
// The scans from `first` on (kLastScan: the last alone) sent `times` times in all.
Make repeated(Make make, size_t first, size_t times) {
  return [=] {
    const Bytes once = make();
    const size_t from = first == kLastScan ? costly::scan_ranges(once).size() - 1 : first;
    return costly::repeat_scans(once, from, times);
  };
}
Make png(uint32_t w, uint32_t h, int colour_type, int depth, bool interlaced = false) {
  return [=] { return costly::flat_png(w, h, colour_type, depth, interlaced); };
}
Make gif(uint16_t w, uint16_t h, size_t frames, costly::GifFrame frame, size_t comments = 0) {
  return [=] { return costly::flat_gif(w, h, std::vector(frames, frame), comments); };
}
Make bmp(int32_t w, int32_t h, int bpp, int64_t rows_held = -1) {
  return [=] { return costly::plain_bmp(w, h, bpp, rows_held); };
}
Make pcx(uint16_t w, uint16_t h, int bits, int planes) {
  return [=] { return costly::flat_pcx(w, h, bits, planes); };
}

const Make kProgressive420 = jpeg(4096, 4096, 3, Coding::kProgressive, {}, Chroma::kQuarter);

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeCost,
    ::testing::Values(
        // JPEG. The reported bomb: the last refinement scan 1000 times, at the old caps and at
        // the largest picture libjpeg may take whole; 50 times, under the scan cap. A first scan
        // sent again (libjpeg lets it be), restarting eleven-scan rounds of refinement. A
        // sequential scan sent again.
        CostCase{"jpeg_scan_bomb_5792",
                 repeated(jpeg(5792, 5792, 3, Coding::kProgressive, {}, Chroma::kQuarter),
                          kLastScan, 1000),
                 kRefused},
        CostCase{"jpeg_scan_bomb_4096", repeated(kProgressive420, kLastScan, 1000), kRefused},
        CostCase{"jpeg_scan_50_times_4096", repeated(kProgressive420, kLastScan, 50), kRefused},
        CostCase{"jpeg_refinement_rounds_4096",
                 repeated(jpeg(4096, 4096, 1, Coding::kProgressive, costly::refined_scans(1, 10)),
                          11, 8),
                 kRefused},
        CostCase{
            "jpeg_sequential_three_scans_4096",
            jpeg(4096, 4096, 3, Coding::kBaseline, costly::component_scans(3), Chroma::kQuarter),
            kDecodes},
        CostCase{"jpeg_sequential_scan_again_4096",
                 repeated(jpeg(4096, 4096, 3, Coding::kBaseline, costly::component_scans(3),
                               Chroma::kQuarter),
                          kLastScan, 60),
                 kRefused},
        // The largest pictures, and the costliest progressions libjpeg writes, within its memory.
        CostCase{"jpeg_baseline_4096", jpeg(4096, 4096, 3, Coding::kBaseline), kDecodes},
        CostCase{"jpeg_baseline_4097_wide", jpeg(4097, 16, 3, Coding::kBaseline), kRefused},
        CostCase{"jpeg_progressive_420_4096", kProgressive420, kDecodes},
        CostCase{"jpeg_progressive_444_4096", jpeg(4096, 4096, 3, Coding::kProgressive), kRefused},
        CostCase{"jpeg_grey_refined_4096",
                 jpeg(4096, 4096, 1, Coding::kProgressive, costly::refined_scans(1, 10)), kDecodes},
        CostCase{"jpeg_colour_refined_3328",
                 jpeg(3328, 3328, 3, Coding::kProgressive, costly::refined_scans(3, 10)), kDecodes},
        CostCase{"jpeg_cmyk_refined_2880",
                 jpeg(2880, 2880, 4, Coding::kProgressive, costly::refined_scans(4, 10)), kDecodes},
        CostCase{"jpeg_grey_100_scans_4096",
                 jpeg(4096, 4096, 1, Coding::kProgressive, costly::many_grey_scans(100)), kDecodes},
        CostCase{"jpeg_grey_101_scans_64",
                 jpeg(64, 64, 1, Coding::kProgressive, costly::many_grey_scans(101)), kRefused},
        CostCase{"jpeg_arithmetic_4096",
                 jpeg(4096, 4096, 3, Coding::kArithmetic, {}, Chroma::kQuarter), kRefused},
        // PNG: the most raw data allowed, interlaced 16-bit grey and alpha, and past the cap.
        CostCase{"png_rgba8_4096", png(4096, 4096, 6, 8), kDecodes},
        CostCase{"png_grey_alpha16_interlaced_4096", png(4096, 4096, 4, 16, true), kDecodes},
        CostCase{"png_4097_wide", png(4097, 16, 6, 8), kRefused},
        CostCase{"png_rgba16_2896", png(2896, 2896, 6, 16), kDecodes},
        CostCase{"png_rgba16_2897", png(2897, 2896, 6, 16), kRefused},
        // GIF: the largest frame; many frames, large frames on a small screen, frames at and
        // past the image cap, 22 million clear codes, 1.6 million comments.
        CostCase{"gif_4096", gif(4096, 4096, 1, {0, 0, 4096, 4096}), kDecodes},
        CostCase{"gif_4097_wide", gif(4097, 16, 1, {0, 0, 4097, 16}), kRefused},
        CostCase{"gif_400_frames_4096", gif(4096, 4096, 400, {0, 0, 4096, 4096}), kDecodes,
                 Frames::kAll},
        CostCase{"gif_400_frames_4096_on_1x1", gif(1, 1, 400, {0, 0, 4096, 4096}), kDecodes,
                 Frames::kAll},
        CostCase{"gif_2000_frames_300x400", gif(300, 400, 2000, {0, 0, 300, 400}), kDecodes,
                 Frames::kAll},
        CostCase{"gif_10000_frames", gif(64, 64, 10000, {5, 5, 1, 1}), kDecodes, Frames::kAll},
        CostCase{"gif_10001_frames", gif(64, 64, 10001, {5, 5, 1, 1}), kRefused},
        CostCase{"gif_clear_codes_8mib", [] { return costly::clear_codes_gif(22000000); },
                 kDecodes},
        CostCase{"gif_1600000_comments", gif(64, 64, 1, {0, 0, 64, 64}, 1600000), kDecodes},
        // BMP: the largest uncompressed at 1 bit, 24 bits within 8 MiB, RLE8, past the cap.
        CostCase{"bmp_1bit_4096", bmp(4096, 4096, 1), kDecodes},
        CostCase{"bmp_24bit_1600", bmp(1600, 1600, 24), kDecodes},
        CostCase{"bmp_1bit_4097_wide", bmp(4097, 16, 1), kRefused},
        CostCase{"bmp_rle8_4096", [] { return costly::rle8_bmp(4096, 4096); }, kDecodes},
        // PCX: runs of 63 bytes at the largest size, past it.
        CostCase{"pcx_8bit_4096", pcx(4096, 4096, 8, 1), kDecodes},
        CostCase{"pcx_24bit_4096", pcx(4096, 4096, 8, 3), kDecodes},
        CostCase{"pcx_8bit_4097_high", pcx(16, 4097, 8, 1), kRefused},
        // Icons: the largest bitmap and PNG inside, and a full directory.
        CostCase{"icon_1bit_4096", [] { return costly::icon_of(costly::icon_dib(4096, 4096, 1)); },
                 kDecodes},
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
  Make whole;  // decodes, at 4096 x 4096
  Make claim;  // the same header over too little data
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
        ClaimCase{"bmp_24bit_ten_rows_held", bmp(4096, 4096, 1), bmp(4096, 4096, 24, 10)},
        ClaimCase{"bmp_rle8_end_of_bitmap_only", [] { return costly::rle8_bmp(4096, 4096); },
                  [] { return costly::empty_rle8_bmp(4096, 4096); }},
        ClaimCase{"icon_bitmap_half_its_rows",
                  [] { return costly::icon_of(costly::icon_dib(4096, 4096, 1)); },
                  [] {
                    return costly::icon_of(
                        cut(costly::icon_dib(4096, 4096, 1), 40 + 8 + 4096 / 8 * 2048));
                  }},
        ClaimCase{"pcx_one_line_of_runs", pcx(4096, 4096, 8, 3),
                  [] { return cut(costly::flat_pcx(4096, 4096, 8, 3), 128 + 3 * 66 * 2); }}),
    [](const auto& c) { return std::string(c.param.name); });

}  // namespace
