// Pictures made in the test to cost a decoder as much as their format allows for their size:
// the largest dimensions with data that compresses to almost nothing, animations of many
// frames, and progressive JPEGs of many scans. The encoders here are the real libraries (libjpeg,
// zlib) or small plain ones (GIF's LZW, the run-length codes of BMP and PCX).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace costly {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
// The same, written over bytes already there (a header field of a picture being altered).
inline void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put32be(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// ---- JPEG ----------------------------------------------------------------------------------

enum class Coding { kBaseline, kProgressive, kArithmetic };  // arithmetic: sequential
enum class Chroma { kFull, kQuarter };                       // 4:4:4, or 4:2:0 (YCbCr only)

struct JpegShape {
  int width = 0, height = 0;
  int components = 3;  // 1 grey, 3 YCbCr, 4 CMYK
  Coding coding = Coding::kBaseline;
  std::vector<jpeg_scan_info> scans;  // a scan script of its own; empty: libjpeg's
  Chroma chroma = Chroma::kFull;
  std::array<uint8_t, 4> sample = {0x60, 0x60, 0x60, 0x60};  // every pixel's, per component

  JpegShape(int w, int h, int c, Coding how, std::vector<jpeg_scan_info> script = {},
            Chroma sampling = Chroma::kFull)
      : width(w),
        height(h),
        components(c),
        coding(how),
        scans(std::move(script)),
        chroma(sampling) {}
};

// A JPEG of width x height samples in `space`, compressed by libjpeg in memory: jpeg_set_defaults
// first, then `configure(info)` changes what it wants; row y is `row_at(y)`.
template <typename Configure, typename RowAt>
Bytes compress_jpeg(int width, int height, int components, J_COLOR_SPACE space, Configure configure,
                    RowAt row_at) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);  // a failure ends the test program: these inputs are ours
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  configure(info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW r = row_at(info.next_scanline);
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes bytes(out, out + size);
  std::free(out);
  return bytes;
}

// A flat picture (every block a lone DC value) in the given shape and colour.
inline Bytes encode_jpeg(const JpegShape& s) {
  std::vector<JSAMPLE> row(static_cast<size_t>(s.width) * static_cast<size_t>(s.components));
  for (size_t i = 0; i < row.size(); ++i) row[i] = s.sample[i % static_cast<size_t>(s.components)];
  const J_COLOR_SPACE space = s.components == 1   ? JCS_GRAYSCALE
                              : s.components == 4 ? JCS_CMYK
                                                  : JCS_RGB;
  return compress_jpeg(
      s.width, s.height, s.components, space,
      [&s](jpeg_compress_struct& info) {
        for (int i = 0; i < info.num_components; ++i) {
          const int factor = i == 0 && s.chroma == Chroma::kQuarter ? 2 : 1;
          info.comp_info[i].h_samp_factor = factor;
          info.comp_info[i].v_samp_factor = factor;
        }
        info.arith_code = s.coding == Coding::kArithmetic ? TRUE : FALSE;
        if (s.coding == Coding::kProgressive)
          jpeg_simple_progression(&info);
        if (!s.scans.empty()) {
          info.scan_info = s.scans.data();
          info.num_scans = static_cast<int>(s.scans.size());
        }
      },
      [&row](JDIMENSION) { return row.data(); });
}

// Each scan of a JPEG as a byte range: the table segments right before its start-of-scan
// marker, the marker and its entropy-coded data. Inputs are libjpeg's own, so well formed.
inline std::vector<std::pair<size_t, size_t>> scan_ranges(const Bytes& jpeg) {
  std::vector<std::pair<size_t, size_t>> scans;
  size_t pos = 2, tables = 0;
  bool in_tables = false;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xD9) {
    const uint8_t marker = jpeg[pos + 1];
    const size_t length = size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3];
    if (marker != 0xDA) {
      if (!in_tables) {
        tables = pos;
        in_tables = true;
      }
      pos += 2 + length;
      continue;
    }
    const size_t start = in_tables ? tables : pos;
    in_tables = false;
    pos += 2 + length;
    // Entropy-coded data ends at a marker other than a stuffed zero or a restart.
    while (pos + 1 < jpeg.size() &&
           !(jpeg[pos] == 0xFF && jpeg[pos + 1] != 0 && (jpeg[pos + 1] & 0xF8) != 0xD0))
      ++pos;
    scans.emplace_back(start, pos);
  }
  return scans;
}

// A JPEG whose scans from the `first` on (counted from 0) come `times` times in all.
inline Bytes repeat_scans(const Bytes& jpeg, size_t first, size_t times) {
  const auto scans = scan_ranges(jpeg);
  const size_t from = scans.at(first).first, to = scans.back().second;
  Bytes b(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(to));
  for (size_t i = 1; i < times; ++i)
    b.insert(b.end(), jpeg.begin() + static_cast<ptrdiff_t>(from),
             jpeg.begin() + static_cast<ptrdiff_t>(to));
  b.push_back(0xFF);
  b.push_back(0xD9);
  return b;
}

// A sequential script of one scan per component, in order.
inline std::vector<jpeg_scan_info> component_scans(int components) {
  std::vector<jpeg_scan_info> scans(static_cast<size_t>(components));
  for (int c = 0; c < components; ++c) {
    jpeg_scan_info& s = scans[static_cast<size_t>(c)];
    s.comps_in_scan = 1;
    s.component_index[0] = c;
    s.Se = 63;
  }
  return scans;
}

// A valid progression of the most expensive kind: every coefficient sent in `bits` + 1 steps of
// successive approximation (libjpeg writes at most 10 point-transform bits), each AC step one
// scan over a whole component's band 1..63.
inline std::vector<jpeg_scan_info> refined_scans(int components, int bits) {
  std::vector<jpeg_scan_info> scans;
  jpeg_scan_info dc{};
  dc.comps_in_scan = components;
  for (int c = 0; c < components; ++c) dc.component_index[c] = c;
  for (int al = bits; al >= 0; --al) {
    dc.Ah = al == bits ? 0 : al + 1;
    dc.Al = al;
    scans.push_back(dc);
  }
  for (int c = 0; c < components; ++c) {
    for (int al = bits; al >= 0; --al) {
      jpeg_scan_info ac{};
      ac.comps_in_scan = 1;
      ac.component_index[0] = c;
      ac.Ss = 1;
      ac.Se = 63;
      ac.Ah = al == bits ? 0 : al + 1;
      ac.Al = al;
      scans.push_back(ac);
    }
  }
  return scans;
}

// A valid progression of `count` scans (at least 1 + components) for a grey picture: the DC,
// then single-coefficient bands, refined once each while scans are left.
inline std::vector<jpeg_scan_info> many_grey_scans(int count) {
  std::vector<jpeg_scan_info> scans;
  jpeg_scan_info s{};
  s.comps_in_scan = 1;
  scans.push_back(s);
  const int bands = std::min(63, count - 1);
  const int refined = std::min(63, count - 1 - bands);
  for (int k = 1; k <= bands; ++k) {
    s.Ss = s.Se = k;
    s.Ah = 0;
    s.Al = k <= refined ? 1 : 0;
    scans.push_back(s);
  }
  for (int k = 1; k <= refined; ++k) {
    s.Ss = s.Se = k;
    s.Ah = 1;
    s.Al = 0;
    scans.push_back(s);
  }
  return scans;
}

// ---- PNG -----------------------------------------------------------------------------------

inline void png_chunk(Bytes& b, const char type[4], const Bytes& data) {
  put32be(b, static_cast<uint32_t>(data.size()));
  const size_t from = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  const uLong crc = crc32(0, &b[from], static_cast<uInt>(b.size() - from));
  put32be(b, static_cast<uint32_t>(crc));
}

// A PNG of zero samples (every row filter 0), compressed as far as deflate goes; the colour
// type and depth as PNG numbers them (6 and 16: RGBA of 16 bits).
inline Bytes flat_png(uint32_t width, uint32_t height, int colour_type, int depth,
                      bool interlaced = false) {
  const int channels = colour_type == 0   ? 1
                       : colour_type == 2 ? 3
                       : colour_type == 3 ? 1
                       : colour_type == 4 ? 2
                                          : 4;
  const auto row_bytes = [&](uint64_t w) { return (w * channels * depth + 7) / 8; };
  // Rows of each pass: one pass for a plain picture, Adam7's seven otherwise.
  std::vector<std::pair<uint64_t, uint64_t>> passes;
  if (!interlaced) {
    passes.emplace_back(width, height);
  } else {
    static constexpr int kX0[] = {0, 4, 0, 2, 0, 1, 0}, kDx[] = {8, 8, 4, 4, 2, 2, 1};
    static constexpr int kY0[] = {0, 0, 4, 0, 2, 0, 1}, kDy[] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p) {
      const uint64_t w = width > uint32_t(kX0[p]) ? (width - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
      const uint64_t h = height > uint32_t(kY0[p]) ? (height - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
      if (w > 0 && h > 0)
        passes.emplace_back(w, h);
    }
  }
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE);
  Bytes idat;
  std::vector<uint8_t> chunk(1 << 16);
  const auto pump = [&](const uint8_t* in, size_t n, int flush) {
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = chunk.data();
      z.avail_out = static_cast<uInt>(chunk.size());
      deflate(&z, flush);
      idat.insert(idat.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    } while (z.avail_out == 0);
  };
  for (const auto& [w, h] : passes) {
    const std::vector<uint8_t> row(1 + row_bytes(w), 0);
    for (uint64_t y = 0; y < h; ++y) pump(row.data(), row.size(), Z_NO_FLUSH);
  }
  pump(nullptr, 0, Z_FINISH);
  deflateEnd(&z);

  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  put32be(ihdr, width);
  put32be(ihdr, height);
  ihdr.push_back(static_cast<uint8_t>(depth));
  ihdr.push_back(static_cast<uint8_t>(colour_type));
  ihdr.push_back(0);
  ihdr.push_back(0);
  ihdr.push_back(interlaced ? 1 : 0);
  png_chunk(b, "IHDR", ihdr);
  if (colour_type == 3) {
    png_chunk(b, "PLTE", Bytes(3 * 256, 0x40));
    png_chunk(b, "tRNS", Bytes(256, 0x80));
  }
  png_chunk(b, "IDAT", idat);
  png_chunk(b, "IEND", {});
  return b;
}

// ---- GIF -----------------------------------------------------------------------------------

constexpr uint8_t kGifMinCodeSize = 2;

enum class FullTable { kClear, kKeep };

// GIF's LZW over 2-bit codes, as giflib writes it: the code width grows once the next code
// needs it, and a full table is cleared, or kept as it is (a deferred clear).
inline Bytes lzw(std::span<const uint8_t> pixels, FullTable full = FullTable::kClear) {
  constexpr int kMin = kGifMinCodeSize, kClear = 1 << kMin, kEnd = kClear + 1;
  std::vector<std::array<int16_t, 4>> child(4096);
  const auto reset = [&] {
    for (auto& c : child) c.fill(-1);
  };
  reset();
  int next = kEnd + 1, width = kMin + 1;
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  const auto put_code = [&](int code) {
    acc |= static_cast<uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
    if (next >= (1 << width) && width < 12)
      ++width;
  };
  put_code(kClear);
  int prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const int c = pixels[i];
    if (child[static_cast<size_t>(prefix)][static_cast<size_t>(c)] >= 0) {
      prefix = child[static_cast<size_t>(prefix)][static_cast<size_t>(c)];
      continue;
    }
    put_code(prefix);
    if (next >= 4095 && full == FullTable::kClear) {
      put_code(kClear);
      reset();
      next = kEnd + 1;
      width = kMin + 1;
    } else if (next < 4096) {
      child[static_cast<size_t>(prefix)][static_cast<size_t>(c)] = static_cast<int16_t>(next++);
    }
    prefix = c;
  }
  put_code(prefix);
  put_code(kEnd);
  if (bits > 0)
    out.push_back(static_cast<uint8_t>(acc));
  return out;
}

struct GifFrame {
  uint16_t left = 0, top = 0, width = 0, height = 0;
};

// Frames of colour 0 from a four-colour global table, after `comments` one-byte comments;
// frames of the same size share one compressed body.
inline Bytes flat_gif(uint16_t screen_w, uint16_t screen_h, const std::vector<GifFrame>& frames,
                      size_t comments = 0) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  put16(b, screen_w);
  put16(b, screen_h);
  b.insert(b.end(), {0x81, 0, 0});
  b.insert(b.end(), {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF});
  for (size_t i = 0; i < comments; ++i) b.insert(b.end(), {0x21, 0xFE, 1, 'x', 0});
  Bytes body;
  uint32_t body_w = 0, body_h = 0;
  for (const GifFrame& f : frames) {
    if (body.empty() || f.width != body_w || f.height != body_h) {
      const std::vector<uint8_t> zeros(size_t{f.width} * f.height, 0);
      const Bytes data = lzw(zeros);
      body.assign({kGifMinCodeSize});
      for (size_t at = 0; at < data.size(); at += 255) {
        const size_t n = std::min<size_t>(255, data.size() - at);
        body.push_back(static_cast<uint8_t>(n));
        body.insert(body.end(), data.begin() + static_cast<ptrdiff_t>(at),
                    data.begin() + static_cast<ptrdiff_t>(at + n));
      }
      body.push_back(0);
      body_w = f.width;
      body_h = f.height;
    }
    b.insert(b.end(), {0x21, 0xF9, 4, 0, 2, 0, 0, 0});  // 20 ms a frame
    b.push_back(0x2C);
    put16(b, f.left);
    put16(b, f.top);
    put16(b, f.width);
    put16(b, f.height);
    b.push_back(0);
    b.insert(b.end(), body.begin(), body.end());
  }
  b.push_back(0x3B);
  return b;
}

// A GIF of one frame over the four colours of flat_gif, from its LZW data.
inline Bytes gif_of(uint16_t width, uint16_t height, const Bytes& data, bool interlaced = false,
                    uint8_t min_code_size = kGifMinCodeSize) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  put16(b, width);
  put16(b, height);
  b.insert(b.end(), {0x81, 0, 0});
  b.insert(b.end(), {0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF});
  b.push_back(0x2C);
  put16(b, 0);
  put16(b, 0);
  put16(b, width);
  put16(b, height);
  b.push_back(interlaced ? 0x40 : 0);
  b.push_back(min_code_size);
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    b.push_back(static_cast<uint8_t>(n));
    b.insert(b.end(), data.begin() + static_cast<ptrdiff_t>(at),
             data.begin() + static_cast<ptrdiff_t>(at + n));
  }
  b.push_back(0);
  b.push_back(0x3B);
  return b;
}

// A 1 x 1 GIF whose data is `clears` clear codes (3 bits each) before its one pixel.
inline Bytes clear_codes_gif(size_t clears) {
  Bytes data;
  uint32_t acc = 0;
  int bits = 0;
  const auto put = [&](uint32_t code) {
    acc |= code << bits;
    bits += 3;
    while (bits >= 8) {
      data.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (size_t i = 0; i < clears; ++i) put(4);
  put(0);
  put(5);
  data.push_back(static_cast<uint8_t>(acc));
  return gif_of(1, 1, data);
}

// ---- BMP -----------------------------------------------------------------------------------

inline Bytes bmp_header(int32_t width, int32_t height, int bpp, uint32_t compression,
                        size_t data_size) {
  const size_t palette = bpp <= 8 ? (size_t{1} << bpp) * 4 : 0;
  Bytes b = {'B', 'M'};
  put32(b, static_cast<uint32_t>(14 + 40 + palette + data_size));
  put32(b, 0);
  put32(b, static_cast<uint32_t>(14 + 40 + palette));
  put32(b, 40);
  put32(b, static_cast<uint32_t>(width));
  put32(b, static_cast<uint32_t>(height));
  put16(b, 1);
  put16(b, static_cast<uint32_t>(bpp));
  put32(b, compression);
  put32(b, static_cast<uint32_t>(data_size));
  put32(b, 2835);
  put32(b, 2835);
  put32(b, 0);
  put32(b, 0);
  for (size_t i = 0; i < palette / 4; ++i) put32(b, static_cast<uint32_t>(i * 0x010101));
  return b;
}

// Uncompressed rows of zero bytes, as many as the header claims or `rows` when given.
inline Bytes plain_bmp(int32_t width, int32_t height, int bpp, int64_t rows = -1) {
  const size_t stride = (static_cast<size_t>(width) * static_cast<size_t>(bpp) + 31) / 32 * 4;
  const size_t n = stride * static_cast<size_t>(rows < 0 ? std::abs(height) : rows);
  Bytes b = bmp_header(width, height, bpp, 0, n);
  b.resize(b.size() + n, 0);
  return b;
}

// RLE8: every row as runs of 255 pixels, then end of line; end of bitmap.
inline Bytes rle8_bmp(int32_t width, int32_t height) {
  Bytes data;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; x += 255) {
      data.push_back(static_cast<uint8_t>(std::min(255, width - x)));
      data.push_back(1);
    }
    data.insert(data.end(), {0, 0});
  }
  data.insert(data.end(), {0, 1});
  Bytes b = bmp_header(width, height, 8, 1, data.size());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// RLE8 that says nothing but end of bitmap: a picture of transparent pixels.
inline Bytes empty_rle8_bmp(int32_t width, int32_t height) {
  Bytes b = bmp_header(width, height, 8, 1, 2);
  b.insert(b.end(), {0, 1});
  return b;
}

// ---- PCX -----------------------------------------------------------------------------------

// Every line as runs of 63 bytes; `planes` 1 (with the palette at the end) or 3 at 8 bits, or
// 1 plane at 1 bit.
inline Bytes flat_pcx(uint16_t width, uint16_t height, int bits, int planes) {
  const size_t line = (size_t{width} * static_cast<size_t>(bits) + 15) / 16 * 2;
  Bytes b;
  b.insert(b.end(), {0x0A, static_cast<uint8_t>(bits == 1 ? 3 : 5), 1, static_cast<uint8_t>(bits)});
  put16(b, 0);
  put16(b, 0);
  put16(b, width - 1u);
  put16(b, height - 1u);
  b.resize(65, 0);
  b.push_back(static_cast<uint8_t>(planes));
  put16(b, static_cast<uint32_t>(line));
  b.resize(128, 0);
  Bytes one_line;
  for (int p = 0; p < planes; ++p) {
    for (size_t x = 0; x < line; x += 63) {
      one_line.push_back(static_cast<uint8_t>(0xC0 | std::min<size_t>(63, line - x)));
      one_line.push_back(0x11);
    }
  }
  for (uint32_t y = 0; y < height; ++y) b.insert(b.end(), one_line.begin(), one_line.end());
  if (bits == 8 && planes == 1) {
    b.push_back(0x0C);
    b.resize(b.size() + 768, 0x22);
  }
  return b;
}

// ---- icons ---------------------------------------------------------------------------------

// An icon directory of `entries` entries, the last pointing at `image` (a PNG or a bitmap
// without file header).
inline Bytes icon_of(const Bytes& image, size_t entries = 1) {
  Bytes b = {0, 0, 1, 0};
  put16(b, static_cast<uint32_t>(entries));
  const size_t at = 6 + 16 * entries;
  for (size_t i = 0; i < entries; ++i) {
    b.insert(b.end(), {0, 0, 0, 0});
    put16(b, 1);
    put16(b, 32);
    put32(b, static_cast<uint32_t>(image.size()));
    put32(b, static_cast<uint32_t>(at));
  }
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

// An icon's bitmap: the info header with the height doubled, then pixels and AND mask.
inline Bytes icon_dib(int32_t width, int32_t height, int bpp) {
  const Bytes file = plain_bmp(width, 2 * height, bpp);
  const size_t mask = (static_cast<size_t>(width) + 31) / 32 * 4 * static_cast<size_t>(height);
  const size_t stride = (static_cast<size_t>(width) * static_cast<size_t>(bpp) + 31) / 32 * 4;
  Bytes b(file.begin() + 14, file.end() - static_cast<ptrdiff_t>(stride * height));
  b.resize(b.size() + mask, 0);
  return b;
}

}  // namespace costly
