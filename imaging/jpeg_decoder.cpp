// JPEG through libjpeg, straight from memory into blue-green-red-alpha rows. libjpeg reports
// errors by longjmp: everything inside the jump's reach is plain C data, so nothing is skipped
// that would need a destructor. Data that ends before the picture does is no picture (libjpeg
// itself would pad it with grey).
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "imaging/decoders.h"

namespace imaging::detail {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
  bool cut_short;
};

[[noreturn]] void on_error(j_common_ptr info) {
  auto* e = reinterpret_cast<ErrorManager*>(info->err);
  longjmp(e->jump, 1);
}

void on_message(j_common_ptr info, int level) {
  // Level -1 is a warning about the data; the one that matters is running out of it.
  auto* e = reinterpret_cast<ErrorManager*>(info->err);
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
    e->cut_short = true;
}

void quiet(j_common_ptr) {}

// Adobe writes CMYK inverted; that is what nearly every CMYK JPEG on the web is.
void cmyk_to_bgra(const uint8_t* in, uint32_t* out, size_t width) {
  for (size_t x = 0; x < width; ++x) {
    const uint32_t c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
    out[x] = argb(0xFF, c * k / 255, m * k / 255, y * k / 255);
  }
}

// Fills `p` (already sized) or answers false; p is touched only through plain pointers.
bool run(Bytes bytes, jpeg_decompress_struct* info, ErrorManager* err, Picture* p,
         uint8_t* cmyk_row) {
  jpeg_mem_src(info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK)
    return false;
  const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(info);
  if (info->output_width != static_cast<JDIMENSION>(p->width) ||
      info->output_height != static_cast<JDIMENSION>(p->height))
    return false;
  uint32_t* pixels = p->frames[0].pixels.data();
  const size_t w = info->output_width;
  while (info->output_scanline < info->output_height && !err->cut_short) {
    uint32_t* out = pixels + static_cast<size_t>(info->output_scanline) * w;
    JSAMPROW row = cmyk ? cmyk_row : reinterpret_cast<JSAMPROW>(out);
    if (jpeg_read_scanlines(info, &row, 1) != 1)
      return false;
    if (cmyk)
      cmyk_to_bgra(cmyk_row, out, w);
  }
  if (err->cut_short)
    return false;
  jpeg_finish_decompress(info);
  return !err->cut_short;
}

// Reads the frame header only, for the dimensions to allocate.
bool read_size(Bytes bytes, jpeg_decompress_struct* info, int64_t* w, int64_t* h) {
  jpeg_mem_src(info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK)
    return false;
  *w = info->image_width;
  *h = info->image_height;
  return true;
}

void prepare(jpeg_decompress_struct* info, ErrorManager* err) {
  info->err = jpeg_std_error(&err->base);
  err->base.error_exit = on_error;
  err->base.emit_message = on_message;
  err->base.output_message = quiet;
  jpeg_create_decompress(info);
}

// Each of these owns the jump target: nothing of theirs but the volatile answer changes
// between setjmp and a longjmp.
bool guarded_size(Bytes bytes, int64_t* w, int64_t* h) {
  jpeg_decompress_struct info{};
  ErrorManager err{};
  prepare(&info, &err);
  volatile bool ok = false;
  if (setjmp(err.jump) == 0)
    ok = read_size(bytes, &info, w, h);
  jpeg_destroy_decompress(&info);
  return ok;
}

bool guarded_run(Bytes bytes, Picture* p, uint8_t* cmyk_row) {
  jpeg_decompress_struct info{};
  ErrorManager err{};
  prepare(&info, &err);
  volatile bool ok = false;
  if (setjmp(err.jump) == 0)
    ok = run(bytes, &info, &err, p, cmyk_row);
  jpeg_destroy_decompress(&info);
  return ok;
}

}  // namespace

std::optional<Picture> decode_jpeg(Bytes bytes) {
  // unsigned long holds the length on every platform this builds for; stay clear of its edge.
  if (bytes.size() > 0x7FFFFFFF)
    return std::nullopt;
  int64_t width = 0, height = 0;
  if (!guarded_size(bytes, &width, &height))
    return std::nullopt;
  std::optional<Picture> p = blank_picture(PictureKind::kJpeg, width, height);
  if (!p)
    return std::nullopt;
  std::vector<uint8_t> cmyk_row(static_cast<size_t>(width) * 4);
  if (!guarded_run(bytes, &*p, cmyk_row.data()))
    return std::nullopt;
  return p;
}

}  // namespace imaging::detail
