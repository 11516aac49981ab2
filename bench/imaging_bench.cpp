// Imaging timings: building the start window's shadow picture (678 x 505, size 40, PNG encode
// included) and the blur's share of it; decoding a 1920 x 1080 JPEG poster, against libjpeg's
// own decode of the same bytes (the comparison djpeg makes).
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "decoders/picture.h"
#include "imaging/drawing.h"
#include "imaging/window_shadow.h"

namespace {

void BM_ShadowPicture(benchmark::State& state) {
  imaging::start_graphics_library();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::vector<uint8_t> png = imaging::shadow_picture(678, 505, 40, 0, 100);
    bytes = png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ShadowPicture)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// The blur alone on the same bitmap.
void BM_ShadowBlur(benchmark::State& state) {
  imaging::start_graphics_library();
  imaging::Image bitmap;
  imaging::SolidBrush brush;
  imaging::Graphics g;
  imaging::Effect blur;
  const raster::BlurParams params{40.0f, 1};
  bitmap.create_bitmap(758, 585);
  brush.create(0x64000000);
  g.from_image(bitmap);
  blur.create_blur();
  blur.set_parameters(&params, sizeof params);
  for (auto _ : state) {
    state.PauseTiming();
    g.fill_rectangle(brush, 40, 40, 678, 505);
    state.ResumeTiming();
    bitmap.apply_effect(blur);
  }
}
BENCHMARK(BM_ShadowBlur)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void BM_MaskPicture(benchmark::State& state) {
  imaging::start_graphics_library();
  for (auto _ : state) benchmark::DoNotOptimize(imaging::mask_picture(678, 505, 40).data());
}
BENCHMARK(BM_MaskPicture)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> poster_jpeg() {
  // A 1920 x 1080 JPEG of the same shape as a real poster: made by ImageMagick in a folder of its
  // own.
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b;
    char dir[] = "/tmp/ff-bench-XXXXXX";
    if (!mkdtemp(dir))
      return b;
    const std::string path = std::string(dir) + "/poster.jpg";
    const std::string make =
        "convert -size 1920x1080 plasma:fractal -seed 7 -quality 90 '" + path + "'";
    FILE* f = std::system(make.c_str()) == 0 ? std::fopen(path.c_str(), "rb") : nullptr;
    std::remove(path.c_str());
    rmdir(dir);
    if (!f)
      return b;
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
    std::fclose(f);
    return b;
  }();
  return bytes;
}

void BM_DecodePosterJpeg(benchmark::State& state) {
  const std::vector<uint8_t> jpeg = poster_jpeg();
  if (jpeg.empty()) {
    state.SkipWithError("no poster (ImageMagick's convert is needed to make it)");
    return;
  }
  for (auto _ : state) {
    auto p = imaging::decode_picture(jpeg);
    if (!p || p->width != 1920)
      state.SkipWithError("poster did not decode");
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_DecodePosterJpeg)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

// libjpeg alone with djpeg's defaults (RGB rows into one reused row buffer).
void BM_LibjpegAlone(benchmark::State& state) {
  const std::vector<uint8_t> jpeg = poster_jpeg();
  if (jpeg.empty()) {
    state.SkipWithError("no poster");
    return;
  }
  for (auto _ : state) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<uint8_t> row(static_cast<size_t>(info.output_width) * 3);
    JSAMPROW r = row.data();
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, &r, 1);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(row.data());
  }
}
BENCHMARK(BM_LibjpegAlone)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace

int main(int argc, char** argv) {
  return bench::ratio_main(argc, argv,
                           {{"jpeg_decode", "BM_DecodePosterJpeg", "BM_LibjpegAlone"},
                            {"shadow_ms", "BM_ShadowPicture", nullptr}});
}
