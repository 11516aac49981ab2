// The 2-D graphics stand-in: bitmaps of 32-bit pixels in one of three formats, solid fills and
// image drawing composed source-over, the blur effect, PNG (libpng) and BMP encoders, and
// loading of every picture kind the program decodes.
#include <png.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "decoders/picture.h"
#include "platform/raster/blur.h"
#include "platform/raster/gdiplus.h"

namespace raster {

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t format = kFormat32bppArgb;
  size_t stride = 0;  // in pixels
  uint32_t* pixels = nullptr;
  imaging::Pixels own;  // the pixels, unless the caller gave a buffer
  Guid raw_format = kFormatMemoryBmp;

  uint32_t* row(int32_t y) { return pixels + static_cast<size_t>(y) * stride; }
};
struct Graphics {
  Image* target;
};
struct Brush {
  uint32_t argb;
};
struct Effect {
  BlurParams params{0.0f, 0};
};
struct Region {
  RectF rect;
};

namespace {

std::atomic<uintptr_t> g_startups{0};

bool started() {
  return g_startups.load() != 0;
}

constexpr int32_t kMaxSide = 1 << 15;

// Premultiplying and back, exact to the rounding of x * a / 255.
inline uint32_t mul255(uint32_t x, uint32_t a) {
  const uint32_t t = x * a + 128;
  return (t + (t >> 8)) >> 8;
}
inline uint32_t premultiply(uint32_t c) {
  const uint32_t a = c >> 24;
  if (a == 255)
    return c;
  if (a == 0)
    return 0;
  return a << 24 | mul255(c >> 16 & 0xFF, a) << 16 | mul255(c >> 8 & 0xFF, a) << 8 |
         mul255(c & 0xFF, a);
}
// 255 / a in 16.16 fixed point, so that undoing the alpha costs a multiplication.
struct Reciprocals {
  uint32_t of[256];
  Reciprocals() {
    of[0] = 0;
    for (uint32_t a = 1; a < 256; ++a) of[a] = ((255u << 16) + a / 2) / a;
  }
};
const Reciprocals kReciprocals;

inline uint32_t unpremultiply(uint32_t c) {
  const uint32_t a = c >> 24;
  if (a == 255 || a == 0)
    return a == 0 ? 0 : c;
  const uint32_t r = kReciprocals.of[a];
  auto un = [r](uint32_t v) { return std::min<uint32_t>((v * r + 0x8000) >> 16, 255); };
  return a << 24 | un(c >> 16 & 0xFF) << 16 | un(c >> 8 & 0xFF) << 8 | un(c & 0xFF);
}

// A pixel of the bitmap's own format to premultiplied and back.
inline uint32_t load(const Image& im, uint32_t c) {
  switch (im.format) {
    case kFormat32bppPargb:
      return c;
    case kFormat32bppRgb:
      return c | 0xFF000000u;
    default:
      return premultiply(c);
  }
}
inline uint32_t store(const Image& im, uint32_t c) {
  switch (im.format) {
    case kFormat32bppPargb:
      return c;
    case kFormat32bppRgb:
      return c | 0xFF000000u;
    default:
      return unpremultiply(c);
  }
}

// Source over destination, both premultiplied.
inline uint32_t over(uint32_t src, uint32_t dst) {
  const uint32_t sa = src >> 24;
  if (sa == 255 || dst == 0)
    return src;
  if (sa == 0)
    return dst;
  const uint32_t k = 255 - sa;
  const uint32_t a = sa + mul255(dst >> 24, k);
  const uint32_t r = (src >> 16 & 0xFF) + mul255(dst >> 16 & 0xFF, k);
  const uint32_t g = (src >> 8 & 0xFF) + mul255(dst >> 8 & 0xFF, k);
  const uint32_t b = (src & 0xFF) + mul255(dst & 0xFF, k);
  return std::min(a, 255u) << 24 | std::min(r, 255u) << 16 | std::min(g, 255u) << 8 |
         std::min(b, 255u);
}

bool known_format(int32_t f) {
  return f == kFormat32bppArgb || f == kFormat32bppPargb || f == kFormat32bppRgb;
}

// Rounds a float span to whole pixels inside [0, limit).
void span(float from, float length, int32_t limit, int32_t* begin, int32_t* end) {
  const double a = std::floor(static_cast<double>(from) + 0.5);
  const double b = std::floor(static_cast<double>(from) + static_cast<double>(length) + 0.5);
  *begin = static_cast<int32_t>(std::clamp(a, 0.0, static_cast<double>(limit)));
  *end = static_cast<int32_t>(std::clamp(b, 0.0, static_cast<double>(limit)));
}

// ---- encoders ----------------------------------------------------------------------------------

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
const uint8_t kPngMask[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const uint8_t kBmpSignature[2] = {'B', 'M'};
const uint8_t kBmpMask[2] = {0xFF, 0xFF};

const CodecInfo kEncoders[] = {
    {kEncoderBmp, kFormatBmp, u"Built-in BMP Codec", u"ffraster", u"BMP", u"*.BMP;*.DIB;*.RLE",
     u"image/bmp", 0x10007, 1, 1, 2, kBmpSignature, kBmpMask},
    {kEncoderPng, kFormatPng, u"Built-in PNG Codec", u"ffraster", u"PNG", u"*.PNG", u"image/png",
     0x10007, 1, 1, 8, kPngSignature, kPngMask},
};

bool write_all(kernel::Stream* s, const void* bytes, size_t n) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (n > 0) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(n, 1u << 30));
    uint32_t done = 0;
    if (s->functions->write(s, p, chunk, &done) != kernel::kOk || done != chunk)
      return false;
    p += chunk;
    n -= chunk;
  }
  return true;
}

struct PngSink {
  kernel::Stream* stream;
  bool failed;
};

void png_write_bytes(png_structp png, png_bytep data, size_t length) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  if (!write_all(sink->stream, data, length))
    sink->failed = true;
}
void png_flush_nothing(png_structp) {}
[[noreturn]] void png_fail(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void png_quiet(png_structp, png_const_charp) {}

// Rows are handed over as blue, green, red, alpha bytes with straight alpha.
bool encode_png_rows(png_structp png, png_infop info, Image& im, std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(im.width), static_cast<png_uint_32>(im.height),
               8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Quick compression: the shadow is rebuilt on every resize of the window.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_write_info(png, info);
  png_set_bgr(png);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  return true;
}

Status save_png(Image& im, kernel::Stream* stream) {
  // Straight-alpha rows as they are; other formats through a converted copy.
  std::vector<uint32_t> copy;
  std::vector<png_bytep> rows(static_cast<size_t>(im.height));
  if (im.format == kFormat32bppArgb) {
    for (int32_t y = 0; y < im.height; ++y)
      rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(im.row(y));
  } else {
    copy.resize(static_cast<size_t>(im.width) * static_cast<size_t>(im.height));
    for (int32_t y = 0; y < im.height; ++y) {
      uint32_t* out = &copy[static_cast<size_t>(y) * static_cast<size_t>(im.width)];
      const uint32_t* in = im.row(y);
      for (int32_t x = 0; x < im.width; ++x) out[x] = unpremultiply(load(im, in[x]));
      rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(out);
    }
  }
  PngSink sink{stream, false};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
  if (!png)
    return kOutOfMemory;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return kOutOfMemory;
  }
  png_set_write_fn(png, &sink, png_write_bytes, png_flush_nothing);
  const bool ok = encode_png_rows(png, info, im, rows);
  png_destroy_write_struct(&png, &info);
  return ok && !sink.failed ? kOk : kGenericError;
}

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// 32 bits per pixel, bottom-up, the fourth byte straight alpha (opaque for the format without).
Status save_bmp(Image& im, kernel::Stream* stream) {
  const size_t row_bytes = static_cast<size_t>(im.width) * 4;
  const size_t data = row_bytes * static_cast<size_t>(im.height);
  if (data > 0xFFFFFFFFu - 54)
    return kValueOverflow;
  std::vector<uint8_t> header(54, 0);
  header[0] = 'B';
  header[1] = 'M';
  put32(header, 2, static_cast<uint32_t>(54 + data));
  put32(header, 10, 54);
  put32(header, 14, 40);
  put32(header, 18, static_cast<uint32_t>(im.width));
  put32(header, 22, static_cast<uint32_t>(im.height));
  put16(header, 26, 1);
  put16(header, 28, 32);
  put32(header, 34, static_cast<uint32_t>(data));
  put32(header, 38, 3780);  // 96 dots per inch
  put32(header, 42, 3780);
  if (!write_all(stream, header.data(), header.size()))
    return kGenericError;
  std::vector<uint32_t> row(static_cast<size_t>(im.width));
  for (int32_t y = im.height - 1; y >= 0; --y) {
    const uint32_t* in = im.row(y);
    for (int32_t x = 0; x < im.width; ++x) {
      row[static_cast<size_t>(x)] =
          im.format == kFormat32bppArgb ? in[x] : unpremultiply(load(im, in[x]));
    }
    if (!write_all(stream, row.data(), row_bytes))
      return kGenericError;
  }
  return kOk;
}

// Hands a new object to the caller's out-parameter: kOk, or kOutOfMemory with null.
template <typename T>
Status hand_out(T* made, T** out) {
  *out = made;
  return made ? kOk : kOutOfMemory;
}

// Deletes an object a create function made; a null one is an invalid parameter.
template <typename T>
Status delete_object(T* object) {
  if (!object)
    return kInvalidParameter;
  delete object;
  return kOk;
}

}  // namespace

}  // namespace raster

using namespace raster;

Status GdiplusStartup(uintptr_t* token, const StartupInput* input, void*) {
  if (!token || !input || input->version != 1)
    return kInvalidParameter;
  *token = ++g_startups;
  return kOk;
}

Status GdipCreateBitmapFromScan0(int32_t width, int32_t height, int32_t stride, int32_t format,
                                 uint8_t* scan0, Image** bitmap) {
  if (!bitmap)
    return kInvalidParameter;
  *bitmap = nullptr;
  if (!started())
    return kGdiplusNotInitialized;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || !known_format(format))
    return kInvalidParameter;
  if (scan0 && (stride < width * 4 || stride % 4 != 0))
    return kInvalidParameter;
  auto* im = new (std::nothrow) Image;
  if (!im)
    return kOutOfMemory;
  im->width = width;
  im->height = height;
  im->format = format;
  if (scan0) {
    im->stride = static_cast<size_t>(stride) / 4;
    im->pixels = reinterpret_cast<uint32_t*>(scan0);
  } else {
    try {
      im->own.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
    } catch (const std::bad_alloc&) {
      delete im;
      return kOutOfMemory;
    }
    im->stride = static_cast<size_t>(width);
    im->pixels = im->own.data();
  }
  *bitmap = im;
  return kOk;
}

Status GdipGetImageGraphicsContext(Image* image, Graphics** graphics) {
  if (!image || !graphics)
    return kInvalidParameter;
  return hand_out(new (std::nothrow) Graphics{image}, graphics);
}

Status GdipDeleteGraphics(Graphics* graphics) {
  return delete_object(graphics);
}

Status GdipCreateSolidFill(uint32_t argb, Brush** brush) {
  if (!brush)
    return kInvalidParameter;
  *brush = nullptr;
  if (!started())
    return kGdiplusNotInitialized;
  return hand_out(new (std::nothrow) Brush{argb}, brush);
}

Status GdipGetSolidFillColor(Brush* brush, uint32_t* argb) {
  if (!brush || !argb)
    return kInvalidParameter;
  *argb = brush->argb;
  return kOk;
}

Status GdipSetSolidFillColor(Brush* brush, uint32_t argb) {
  if (!brush)
    return kInvalidParameter;
  brush->argb = argb;
  return kOk;
}

namespace {

// A rectangle from a caller: finite, with no negative side.
bool valid_rect(float x, float y, float width, float height) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height) &&
         width >= 0 && height >= 0;
}

// The pixel columns [x0, x1) and rows [y0, y1) of the rectangle inside the image.
void clip_rect(const Image& im, float x, float y, float width, float height, int32_t* x0,
               int32_t* x1, int32_t* y0, int32_t* y1) {
  span(x, width, im.width, x0, x1);
  span(y, height, im.height, y0, y1);
}

}  // namespace

Status GdipDeleteBrush(Brush* brush) {
  return delete_object(brush);
}

Status GdipFillRectangle(Graphics* graphics, Brush* brush, float x, float y, float width,
                         float height) {
  if (!graphics || !brush || !valid_rect(x, y, width, height))
    return kInvalidParameter;
  Image& im = *graphics->target;
  int32_t x0, x1, y0, y1;
  clip_rect(im, x, y, width, height, &x0, &x1, &y0, &y1);
  const uint32_t src = premultiply(brush->argb);
  const uint32_t plain = store(im, src);
  // Over nothing the brush's own colour lands unchanged (no premultiplying round trip).
  const uint32_t on_empty = im.format == kFormat32bppArgb ? brush->argb : plain;
  for (int32_t row = y0; row < y1; ++row) {
    uint32_t* p = im.row(row);
    if (src >> 24 == 255) {
      std::fill(p + x0, p + x1, plain);
      continue;
    }
    for (int32_t col = x0; col < x1; ++col) {
      const uint32_t dst = load(im, p[col]);
      p[col] = dst == 0 ? on_empty : store(im, over(src, dst));
    }
  }
  return kOk;
}

Status GdipCreateEffect(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3, Effect** effect) {
  if (!effect)
    return kInvalidParameter;
  *effect = nullptr;
  Guid id{};
  const uint32_t words[4] = {w0, w1, w2, w3};
  std::memcpy(&id, words, sizeof id);
  if (!(id == kBlurEffect))
    return kNotImplemented;
  return hand_out(new (std::nothrow) Effect, effect);
}

Status GdipSetEffectParameters(Effect* effect, const void* params, uint32_t size) {
  if (!effect || !params || size != sizeof(BlurParams))
    return kInvalidParameter;
  BlurParams p;
  std::memcpy(&p, params, sizeof p);
  if (!std::isfinite(p.radius) || p.radius < 0 || p.radius > 255)
    return kInvalidParameter;
  effect->params = p;
  return kOk;
}

Status GdipGetEffectParameterSize(Effect* effect, uint32_t* size) {
  if (!effect || !size)
    return kInvalidParameter;
  *size = sizeof(BlurParams);
  return kOk;
}

Status GdipGetEffectParameters(Effect* effect, uint32_t* size, void* params) {
  if (!effect || !size || !params)
    return kInvalidParameter;
  if (*size < sizeof(BlurParams))
    return kInsufficientBuffer;
  std::memcpy(params, &effect->params, sizeof(BlurParams));
  *size = sizeof(BlurParams);
  return kOk;
}

Status GdipDeleteEffect(Effect* effect) {
  return delete_object(effect);
}

Status GdipBitmapApplyEffect(Image* bitmap, Effect* effect, Rect* roi, int32_t, void** aux_data,
                             int32_t* aux_data_size) {
  if (!bitmap || !effect)
    return kInvalidParameter;
  // The blur makes no auxiliary data.
  if (aux_data)
    *aux_data = nullptr;
  if (aux_data_size)
    *aux_data_size = 0;
  int32_t left = 0, top = 0, right = bitmap->width, bottom = bitmap->height;
  if (roi) {
    left = std::clamp(roi->left, 0, bitmap->width);
    top = std::clamp(roi->top, 0, bitmap->height);
    right = std::clamp(roi->right, left, bitmap->width);
    bottom = std::clamp(roi->bottom, top, bitmap->height);
  }
  const int32_t w = right - left, h = bottom - top;
  if (w == 0 || h == 0)
    return kOk;
  std::vector<uint32_t> work;
  try {
    work.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* in = bitmap->row(top + y) + left;
    uint32_t* out = &work[static_cast<size_t>(y) * static_cast<size_t>(w)];
    for (int32_t x = 0; x < w; ++x) out[x] = load(*bitmap, in[x]);
  }
  const Edge edge = effect->params.expand_edge ? Edge::kTransparent : Edge::kRepeat;
  if (!blur_premultiplied(work.data(), w, h, effect->params.radius, edge))
    return kOutOfMemory;
  for (int32_t y = 0; y < h; ++y) {
    uint32_t* out = bitmap->row(top + y) + left;
    const uint32_t* in = &work[static_cast<size_t>(y) * static_cast<size_t>(w)];
    for (int32_t x = 0; x < w; ++x) out[x] = store(*bitmap, in[x]);
  }
  return kOk;
}

Status GdipGetImageEncodersSize(uint32_t* count, uint32_t* size) {
  if (!count || !size)
    return kInvalidParameter;
  *count = static_cast<uint32_t>(std::size(kEncoders));
  *size = static_cast<uint32_t>(sizeof kEncoders);
  return kOk;
}

Status GdipGetImageEncoders(uint32_t count, uint32_t size, CodecInfo* encoders) {
  if (!encoders || count != std::size(kEncoders))
    return kInvalidParameter;
  if (size < sizeof kEncoders)
    return kInsufficientBuffer;
  std::memcpy(static_cast<void*>(encoders), kEncoders, sizeof kEncoders);
  return kOk;
}

Status GdipSaveImageToStream(Image* image, kernel::Stream* stream, const Guid* encoder,
                             const void*) {
  if (!image || !stream || !encoder)
    return kInvalidParameter;
  if (*encoder == kEncoderPng)
    return save_png(*image, stream);
  if (*encoder == kEncoderBmp)
    return save_bmp(*image, stream);
  return kInvalidParameter;
}

Status GdipLoadImageFromStream(kernel::Stream* stream, Image** image) {
  if (!stream || !image)
    return kInvalidParameter;
  *image = nullptr;
  if (!started())
    return kGdiplusNotInitialized;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    uint32_t done = 0;
    if (stream->functions->read(stream, chunk, sizeof chunk, &done) != kernel::kOk)
      return kGenericError;
    if (done == 0)
      break;
    bytes.insert(bytes.end(), chunk, chunk + done);
  }
  std::optional<imaging::Picture> p = imaging::decode_picture(bytes);
  if (!p)
    return kUnknownImageFormat;
  auto* im = new (std::nothrow) Image;
  if (!im)
    return kOutOfMemory;
  im->width = p->width;
  im->height = p->height;
  im->format = kFormat32bppArgb;
  im->own = std::move(p->frames[0].pixels);
  im->stride = static_cast<size_t>(p->width);
  im->pixels = im->own.data();
  static const Guid kJpeg = {
      0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0, 0, 0xF8, 0x1E, 0xF3, 0x2E}};
  static const Guid kGif = {0xB96B3CB0, 0x0728, 0x11D3, {0x9D, 0x7B, 0, 0, 0xF8, 0x1E, 0xF3, 0x2E}};
  static const Guid kIcon = {
      0xB96B3CB5, 0x0728, 0x11D3, {0x9D, 0x7B, 0, 0, 0xF8, 0x1E, 0xF3, 0x2E}};
  switch (p->kind) {
    case imaging::PictureKind::kPng:
      im->raw_format = kFormatPng;
      break;
    case imaging::PictureKind::kBmp:
      im->raw_format = kFormatBmp;
      break;
    case imaging::PictureKind::kJpeg:
      im->raw_format = kJpeg;
      break;
    case imaging::PictureKind::kGif:
      im->raw_format = kGif;
      break;
    case imaging::PictureKind::kIcon:
    case imaging::PictureKind::kCursor:
      im->raw_format = kIcon;
      break;
    case imaging::PictureKind::kPcx8:
    case imaging::PictureKind::kPcx1:
    case imaging::PictureKind::kNone:
      im->raw_format = kFormatMemoryBmp;
      break;
  }
  *image = im;
  return kOk;
}

Status GdipGetImageDimension(Image* image, float* width, float* height) {
  if (!image || !width || !height)
    return kInvalidParameter;
  *width = static_cast<float>(image->width);
  *height = static_cast<float>(image->height);
  return kOk;
}

Status GdipGetImageRawFormat(Image* image, Guid* format) {
  if (!image || !format)
    return kInvalidParameter;
  *format = image->raw_format;
  return kOk;
}

Status GdipDrawImageRect(Graphics* graphics, Image* image, float x, float y, float width,
                         float height) {
  if (!graphics || !image || !valid_rect(x, y, width, height))
    return kInvalidParameter;
  Image& dst = *graphics->target;
  int32_t x0, x1, y0, y1;
  clip_rect(dst, x, y, width, height, &x0, &x1, &y0, &y1);
  if (width == 0 || height == 0)
    return kOk;
  // Nearest source pixel for each destination pixel's centre.
  const double sx = image->width / static_cast<double>(width);
  const double sy = image->height / static_cast<double>(height);
  for (int32_t row = y0; row < y1; ++row) {
    const double fy = (row + 0.5 - static_cast<double>(y)) * sy;
    const int32_t iy = std::clamp(static_cast<int32_t>(fy), 0, image->height - 1);
    const uint32_t* in = image->row(iy);
    uint32_t* out = dst.row(row);
    for (int32_t col = x0; col < x1; ++col) {
      const double fx = (col + 0.5 - static_cast<double>(x)) * sx;
      const int32_t ix = std::clamp(static_cast<int32_t>(fx), 0, image->width - 1);
      out[col] = store(dst, over(load(*image, in[ix]), load(dst, out[col])));
    }
  }
  return kOk;
}

Status GdipDisposeImage(Image* image) {
  return delete_object(image);
}

void* GdipAlloc(size_t size) {
  return std::malloc(size);
}
void GdipFree(void* block) {
  std::free(block);
}

Status GdipBitmapGetPixel(Image* bitmap, int32_t x, int32_t y, uint32_t* argb) {
  if (!bitmap || !argb || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
    return kInvalidParameter;
  *argb = unpremultiply(load(*bitmap, bitmap->row(y)[x]));
  return kOk;
}

Status GdipCreateRegionRect(const RectF* rect, Region** region) {
  if (!rect || !region)
    return kInvalidParameter;
  return hand_out(new (std::nothrow) Region{*rect}, region);
}

Status GdipDeleteRegion(Region* region) {
  return delete_object(region);
}
