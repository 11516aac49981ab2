// PCX: 8 bits per pixel with the 256-colour palette at the end of the file (or three planes of
// red, green and blue), and 1 bit per pixel in black and white. Scan lines are run-length
// coded; a run may carry over into the next line, as many writers do.
#include <algorithm>
#include <array>
#include <vector>

#include "decoders/decoders.h"

namespace imaging::detail {
namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kPaletteSize = 769;  // 0x0C, then 256 x red, green, blue
constexpr uint8_t kPaletteMarker = 0x0C;

}  // namespace

DecodeResult decode_pcx(Bytes b, PictureKind kind) {
  if (!fits(b, 0, kHeaderSize))
    return no_picture(DecodeFailure::kTruncated);
  if (b[0] != 0x0A || b[2] != 1)
    return no_picture(DecodeFailure::kBadHeader);
  const uint32_t bits = b[3];
  const size_t planes = b[65];
  const size_t bytes_per_line = load_le16(&b[66]);
  const int64_t x_min = load_le16(&b[4]), y_min = load_le16(&b[6]);
  const int64_t x_max = load_le16(&b[8]), y_max = load_le16(&b[10]);
  const int64_t width = x_max - x_min + 1, height = y_max - y_min + 1;
  if (const DecodeFailure why = check_dimensions(width, height); why != DecodeFailure::kNone)
    return no_picture(why);
  const bool eight = kind == PictureKind::kPcx8;
  if (eight ? bits != 8 || (planes != 1 && planes != 3) : bits != 1 || planes != 1)
    return no_picture(DecodeFailure::kUnsupported);
  // Each plane's line must hold the whole width.
  if (bytes_per_line == 0 || bytes_per_line < static_cast<size_t>((width * bits + 7) / 8))
    return no_picture(DecodeFailure::kBadHeader);

  size_t data_end = b.size();
  std::array<uint32_t, 256> palette{};
  if (eight && planes == 1) {
    if (b.size() < kHeaderSize + kPaletteSize)
      return no_picture(DecodeFailure::kTruncated);
    if (b[b.size() - kPaletteSize] != kPaletteMarker)
      return no_picture(DecodeFailure::kCorruptData);
    data_end = b.size() - kPaletteSize;
    const uint8_t* pal = &b[data_end + 1];
    for (size_t i = 0; i < 256; ++i)
      palette[i] = argb(0xFF, pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]);
  }

  // A run of two bytes codes at most 63: data too short for every line is refused before the
  // pixels are allocated.
  const uint64_t line_bytes = uint64_t{bytes_per_line} * planes;
  if (line_bytes * static_cast<uint64_t>(height) > (data_end - kHeaderSize) * uint64_t{63} / 2)
    return no_picture(DecodeFailure::kTruncated);
  DecodeResult r = blank_picture(kind, width, height);
  if (!r.picture)
    return r;
  Picture* p = &*r.picture;
  std::vector<uint8_t> line(static_cast<size_t>(line_bytes));
  size_t pos = kHeaderSize;
  size_t run = 0;  // what is left of a run begun on an earlier line
  uint8_t value = 0;
  const size_t w = static_cast<size_t>(width);
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    for (size_t i = 0; i < line.size();) {
      if (run == 0) {
        if (pos >= data_end)
          return no_picture(DecodeFailure::kTruncated);
        const uint8_t c = b[pos++];
        if ((c & 0xC0) == 0xC0) {
          if (pos >= data_end)
            return no_picture(DecodeFailure::kTruncated);
          run = c & 0x3Fu;
          value = b[pos++];
        } else {
          run = 1;
          value = c;
        }
        continue;
      }
      const size_t n = std::min(run, line.size() - i);
      std::fill_n(line.begin() + static_cast<ptrdiff_t>(i), n, value);
      i += n;
      run -= n;
    }
    uint32_t* out = &p->frames[0].pixels[y * w];
    for (size_t x = 0; x < w; ++x) {
      if (!eight)
        out[x] = (line[x / 8] >> (7 - x % 8)) & 1u ? 0xFFFFFFFFu : kOpaqueBlack;
      else if (planes == 1)
        out[x] = palette[line[x]];
      else
        out[x] = argb(0xFF, line[x], line[bytes_per_line + x], line[2 * bytes_per_line + x]);
    }
  }
  return r;
}

}  // namespace imaging::detail
