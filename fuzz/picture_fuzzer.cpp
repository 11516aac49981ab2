// libFuzzer harness for the picture decoders. Built once per decoder: FF_FUZZ_KIND selects it
// (1 BMP, 2 icon and cursor, 3 PCX, 4 JPEG, 5 GIF, 0 the kind dispatcher with every decoder
// behind it, libpng's simplified reader included). A decoded picture must be whole and within
// the caps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "decoders/decoders.h"
#include "decoders/picture.h"

#ifndef FF_FUZZ_KIND
#define FF_FUZZ_KIND 0
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace imaging;
  const std::span<const uint8_t> bytes(data, size);
  std::optional<Picture> p;
#if FF_FUZZ_KIND == 1
  p = detail::decode_bmp(bytes).picture;
#elif FF_FUZZ_KIND == 2
  p = detail::decode_icon(bytes, PictureKind::kIcon).picture;
  if (!p)
    p = detail::decode_icon(bytes, PictureKind::kCursor).picture;
#elif FF_FUZZ_KIND == 3
  p = detail::decode_pcx(bytes, PictureKind::kPcx8).picture;
  if (!p)
    p = detail::decode_pcx(bytes, PictureKind::kPcx1).picture;
#elif FF_FUZZ_KIND == 4
  p = detail::decode_jpeg(bytes).picture;
#elif FF_FUZZ_KIND == 5
  p = detail::decode_gif(bytes, size % 2 ? Frames::kAll : Frames::kFirstOnly).picture;
#else
  p = decode_picture(bytes, size % 2 ? Frames::kAll : Frames::kFirstOnly);
#endif
  if (p) {
    if (p->frames.empty() || p->width < 1 || p->height < 1 || p->width > kMaxDimension ||
        p->height > kMaxDimension || p->frames.size() > kMaxFrames)
      std::abort();
    uint32_t sum = 0;
    for (const Frame& f : p->frames) {
      if (f.pixels.size() != static_cast<size_t>(p->width) * static_cast<size_t>(p->height))
        std::abort();
      // Reading every pixel lets MemorySanitizer-style checks and ASan see them all.
      for (uint32_t c : f.pixels) sum += c;
    }
    volatile uint32_t sink = sum;
    (void)sink;
  }
  return 0;
}
