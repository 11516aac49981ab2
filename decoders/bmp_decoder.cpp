// Windows bitmaps: 1, 4, 8, 16, 24 and 32 bits per pixel, uncompressed, bit fields, RLE8 and
// RLE4, bottom-up and top-down; and the same bitmap as icons hold it, without the file header,
// with a doubled height and an AND mask after the pixels.
#include <algorithm>
#include <array>
#include <bit>
#include <climits>

#include "decoders/decoders.h"

namespace imaging::detail {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kLargestHeaderSize = 124;

enum Compression : uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitFields = 3,
  kAlphaBitFields = 6,
};

enum class Source { kFile, kIcon };

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (m == 0)
      return;
    shift = std::countr_zero(m);
    max = m >> shift;
  }
  uint32_t take(uint32_t px) const {
    if (mask == 0)
      return 0;
    const uint64_t v = (px & mask) >> shift;
    return static_cast<uint32_t>((v * 255 + max / 2) / max);
  }
};

struct Dib {
  int64_t width = 0;
  int64_t height = 0;  // rows of colour pixels (halved for icons)
  bool top_down = false;
  uint32_t bpp = 0;
  uint32_t compression = kRgb;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
  std::array<uint32_t, 256> palette{};
  size_t palette_size = 0;
  size_t after_tables = 0;  // offset just past the header, masks and palette
};

// Reads the info header at `at`, the masks and the palette; a refusal on anything unsupported
// or outside the bytes.
struct Header {
  std::optional<Dib> dib;
  DecodeFailure failure = DecodeFailure::kNone;
};

Header refuse_header(DecodeFailure why) {
  return {std::nullopt, why};
}

Header read_header(Bytes b, size_t at, Source source) {
  if (!fits(b, at, 4))
    return refuse_header(DecodeFailure::kTruncated);
  const uint32_t header_size = load_le32(&b[at]);
  Dib d;
  size_t entry_size = 4;
  uint32_t colours_used = 0;
  int64_t raw_height = 0;
  if (header_size == kCoreHeaderSize) {
    if (!fits(b, at, kCoreHeaderSize))
      return refuse_header(DecodeFailure::kTruncated);
    d.width = load_le16(&b[at + 4]);
    raw_height = load_le16(&b[at + 6]);
    d.bpp = load_le16(&b[at + 10]);
    entry_size = 3;
  } else {
    if (header_size < kInfoHeaderSize || header_size > kLargestHeaderSize)
      return refuse_header(DecodeFailure::kBadHeader);
    if (!fits(b, at, header_size))
      return refuse_header(DecodeFailure::kTruncated);
    d.width = static_cast<int32_t>(load_le32(&b[at + 4]));
    const int32_t h = static_cast<int32_t>(load_le32(&b[at + 8]));
    if (h == INT_MIN)
      return refuse_header(DecodeFailure::kBadHeader);
    raw_height = h;
    d.bpp = load_le16(&b[at + 14]);
    d.compression = load_le32(&b[at + 16]);
    colours_used = load_le32(&b[at + 32]);
  }
  d.top_down = raw_height < 0;
  d.height = raw_height < 0 ? -raw_height : raw_height;
  if (source == Source::kIcon)
    d.height /= 2;
  if (const DecodeFailure why = check_dimensions(d.width, d.height); why != DecodeFailure::kNone)
    return refuse_header(why);

  switch (d.bpp) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return refuse_header(DecodeFailure::kUnsupported);
  }
  const bool fields = d.compression == kBitFields || d.compression == kAlphaBitFields;
  const bool allowed = d.compression == kRgb || (d.compression == kRle8 && d.bpp == 8) ||
                       (d.compression == kRle4 && d.bpp == 4) ||
                       (fields && (d.bpp == 16 || d.bpp == 32));
  if (!allowed)
    return refuse_header(DecodeFailure::kUnsupported);
  // Runs of an RLE bitmap go bottom-up by definition.
  if ((d.compression == kRle8 || d.compression == kRle4) && d.top_down)
    return refuse_header(DecodeFailure::kBadHeader);

  size_t pos = at + header_size;
  if (d.bpp == 16)
    d.masks = {0x7C00, 0x03E0, 0x001F, 0};
  else if (d.bpp == 24 || d.bpp == 32)
    d.masks = {0xFF0000, 0xFF00, 0xFF, 0};
  if (fields) {
    const size_t count = d.compression == kAlphaBitFields ? 4 : 3;
    if (header_size >= 52) {
      // Version 2 and later headers carry the masks themselves (alpha from version 3 on).
      const size_t carried = header_size >= 56 ? 4 : 3;
      for (size_t i = 0; i < carried; ++i) d.masks[i] = load_le32(&b[at + 40 + 4 * i]);
    } else {
      if (!fits(b, pos, 4 * count))
        return refuse_header(DecodeFailure::kTruncated);
      for (size_t i = 0; i < count; ++i) d.masks[i] = load_le32(&b[pos + 4 * i]);
      pos += 4 * count;
    }
    if (d.masks[0] == 0 && d.masks[1] == 0 && d.masks[2] == 0)
      return refuse_header(DecodeFailure::kBadHeader);
  }

  if (d.bpp <= 8) {
    const size_t full = size_t{1} << d.bpp;
    size_t count = colours_used == 0 ? full : std::min<size_t>(colours_used, 256);
    if (!fits(b, pos, count * entry_size))
      return refuse_header(DecodeFailure::kTruncated);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = &b[pos + i * entry_size];
      d.palette[i] = argb(0xFF, e[2], e[1], e[0]);
    }
    d.palette_size = count;
    pos += count * entry_size;
  }
  d.after_tables = pos;
  return {d};
}

uint32_t palette_colour(const Dib& d, uint32_t index) {
  return index < d.palette_size ? d.palette[index] : kOpaqueBlack;
}

size_t stride_of(int64_t width, uint32_t bits) {
  return static_cast<size_t>((width * bits + 31) / 32 * 4);
}

// Whether `rows` rows of `stride` bytes start at `at` inside the bytes.
bool rows_fit(Bytes b, size_t at, size_t stride, size_t rows) {
  return fits(b, at, 0) && stride <= (b.size() - at) / rows;
}

// Whether the data from `at` can hold the picture, checked before its pixels are allocated.
// Uncompressed rows must all be there. A run codes at most 255 pixels in two bytes; a bitmap
// with fewer bytes than that for its size leaves most of itself to skips, is no poster, and is
// refused so that a few bytes cannot claim the largest picture.
bool data_can_hold(Bytes b, size_t at, const Dib& d) {
  const size_t rows = static_cast<size_t>(d.height);
  if (d.compression != kRle8 && d.compression != kRle4)
    return rows_fit(b, at, stride_of(d.width, d.bpp), rows);
  const uint64_t pixels = static_cast<uint64_t>(d.width) * rows;
  return fits(b, at, 0) && pixels <= (b.size() - at) * uint64_t{255} / 2;
}

// Uncompressed rows, already known to fit.
bool read_rows(Bytes b, size_t at, const Dib& d, Picture& p) {
  const size_t stride = stride_of(d.width, d.bpp);
  const size_t rows = static_cast<size_t>(d.height);
  const Channel red(d.masks[0]), green(d.masks[1]), blue(d.masks[2]), alpha(d.masks[3]);
  const bool plain32 = d.bpp == 32 && d.compression == kRgb;
  bool any_alpha = false;
  const size_t w = static_cast<size_t>(d.width);
  for (size_t r = 0; r < rows; ++r) {
    const uint8_t* row = &b[at + r * stride];
    const size_t y = d.top_down ? r : rows - 1 - r;
    uint32_t* out = &p.frames[0].pixels[y * w];
    for (size_t x = 0; x < w; ++x) {
      uint32_t c = 0;
      switch (d.bpp) {
        case 1:
          c = palette_colour(d, (row[x / 8] >> (7 - x % 8)) & 1u);
          break;
        case 4:
          c = palette_colour(d, (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xFu);
          break;
        case 8:
          c = palette_colour(d, row[x]);
          break;
        case 16:
        case 32: {
          const uint32_t px = d.bpp == 16 ? load_le16(&row[2 * x]) : load_le32(&row[4 * x]);
          if (plain32) {
            c = px;
            any_alpha = any_alpha || (px >> 24) != 0;
          } else {
            const uint32_t a = d.masks[3] != 0 ? alpha.take(px) : 0xFF;
            c = argb(a, red.take(px), green.take(px), blue.take(px));
          }
          break;
        }
        case 24:
          c = argb(0xFF, row[3 * x + 2], row[3 * x + 1], row[3 * x]);
          break;
        default:
          return false;
      }
      out[x] = c;
    }
  }
  // 32-bit bitmaps mostly leave the fourth byte at zero: then they are opaque.
  if (plain32 && !any_alpha) {
    for (uint32_t& c : p.frames[0].pixels) c |= 0xFF000000u;
  }
  return true;
}

// RLE8 and RLE4: runs, literals, end of line, end of bitmap and deltas. Runs and literals that
// pass the end of a row are cut there, commands past the last row draw nothing, and pixels no
// command reaches stay transparent. Data that ends before the end-of-bitmap mark is cut short.
bool read_rle(Bytes b, size_t at, const Dib& d, Picture& p) {
  const bool four = d.compression == kRle4;
  const int64_t w = d.width, h = d.height;
  int64_t x = 0, y = 0;
  size_t pos = at;
  auto put = [&](uint32_t index) {
    if (x < w && y < h) {
      const size_t row = static_cast<size_t>(h - 1 - y);
      p.frames[0].pixels[row * static_cast<size_t>(w) + static_cast<size_t>(x)] =
          palette_colour(d, index);
    }
    if (x < w)
      ++x;
  };
  for (;;) {
    if (!fits(b, pos, 2))
      return false;
    const uint8_t n = b[pos], c = b[pos + 1];
    pos += 2;
    if (n > 0) {
      for (uint32_t i = 0; i < n && x < w; ++i) put(four ? (i % 2 == 0 ? c >> 4 : c & 0xFu) : c);
      continue;
    }
    switch (c) {
      case 0:  // end of line
        x = 0;
        y = std::min<int64_t>(y + 1, h);
        break;
      case 1:  // end of bitmap
        return true;
      case 2:  // delta
        if (!fits(b, pos, 2))
          return false;
        x = std::min<int64_t>(x + b[pos], w);
        y = std::min<int64_t>(y + b[pos + 1], h);
        pos += 2;
        break;
      default: {  // literal of c pixels, padded to a 16-bit boundary
        const size_t bytes = four ? (c + 1u) / 2u : c;
        const size_t padded = (bytes + 1u) & ~size_t{1};
        if (!fits(b, pos, padded))
          return false;
        for (uint32_t i = 0; i < c && x < w; ++i) {
          const uint8_t v = b[pos + (four ? i / 2 : i)];
          put(four ? (i % 2 == 0 ? v >> 4 : v & 0xFu) : v);
        }
        pos += padded;
        break;
      }
    }
  }
}

DecodeResult decode(Bytes b, size_t header_at, std::optional<size_t> bits_at, Source source,
                    PictureKind kind) {
  const Header header = read_header(b, header_at, source);
  if (!header.dib)
    return no_picture(header.failure);
  const Dib* d = &*header.dib;
  const size_t at = bits_at.value_or(d->after_tables);
  if (!data_can_hold(b, at, *d))
    return no_picture(DecodeFailure::kTruncated);
  DecodeResult result = blank_picture(kind, d->width, d->height);
  if (!result.picture)
    return result;
  Picture* p = &*result.picture;
  const bool rle = d->compression == kRle8 || d->compression == kRle4;
  const bool ok = rle ? read_rle(b, at, *d, *p) : read_rows(b, at, *d, *p);
  if (!ok)  // runs that end before the end-of-bitmap mark; rows always fit by now
    return no_picture(rle ? DecodeFailure::kTruncated : DecodeFailure::kUnsupported);
  if (source == Source::kIcon) {
    // The AND mask: one bit per pixel, set where the icon is transparent. A 32-bit icon's own
    // alpha wins unless it is all zero.
    const size_t stride = stride_of(d->width, d->bpp);
    const size_t rows = static_cast<size_t>(d->height);
    const size_t mask_at = at + stride * rows;
    const size_t mask_stride = stride_of(d->width, 1);
    bool has_alpha = false;
    if (d->bpp == 32) {
      for (uint32_t c : p->frames[0].pixels) has_alpha = has_alpha || (c >> 24) != 0xFF;
    }
    if (has_alpha)
      return result;
    if (!rows_fit(b, mask_at, mask_stride, rows))
      return no_picture(DecodeFailure::kTruncated);
    const size_t w = static_cast<size_t>(d->width);
    for (size_t r = 0; r < rows; ++r) {
      const uint8_t* row = &b[mask_at + r * mask_stride];
      const size_t y = d->top_down ? r : rows - 1 - r;
      uint32_t* out = &p->frames[0].pixels[y * w];
      for (size_t x = 0; x < w; ++x) {
        if ((row[x / 8] >> (7 - x % 8)) & 1u)
          out[x] = 0;
        else
          out[x] |= 0xFF000000u;
      }
    }
  }
  return result;
}

}  // namespace

DecodeResult decode_bmp(Bytes b) {
  if (!fits(b, 0, kFileHeaderSize))
    return no_picture(DecodeFailure::kTruncated);
  if (b[0] != 'B' || b[1] != 'M')
    return no_picture(DecodeFailure::kUnknownFormat);
  const uint32_t bits = load_le32(&b[10]);
  std::optional<size_t> bits_at;
  if (bits != 0) {
    if (bits < kFileHeaderSize + kCoreHeaderSize)
      return no_picture(DecodeFailure::kBadHeader);
    if (bits > b.size())
      return no_picture(DecodeFailure::kTruncated);
    bits_at = bits;
  }
  return decode(b, kFileHeaderSize, bits_at, Source::kFile, PictureKind::kBmp);
}

DecodeResult decode_icon_dib(Bytes dib, PictureKind kind) {
  return decode(dib, 0, std::nullopt, Source::kIcon, kind);
}

}  // namespace imaging::detail
