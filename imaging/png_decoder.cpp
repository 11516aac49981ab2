// PNG through libpng's simplified memory interface, into blue-green-red-alpha (format 19).
#include <png.h>

#include <algorithm>
#include <iterator>

#include "imaging/decoders.h"

namespace imaging::detail {

namespace {

// libpng's simplified reader stops caring once the pixels are in; a file cut short after them
// (its end chunk missing) still counts as cut short here, as for every other kind.
bool has_end_chunk(Bytes bytes) {
  static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return std::search(bytes.begin(), bytes.end(), std::begin(kEnd), std::end(kEnd)) != bytes.end();
}

}  // namespace

std::optional<Picture> decode_png(Bytes bytes, PictureKind kind) {
  if (!has_end_chunk(bytes))
    return std::nullopt;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    return std::nullopt;
  static_assert(PNG_FORMAT_BGRA == 19);
  image.format = PNG_FORMAT_BGRA;
  std::optional<Picture> p = blank_picture(kind, image.width, image.height);
  if (!p) {
    png_image_free(&image);
    return std::nullopt;
  }
  const png_int_32 stride = static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
  if (!png_image_finish_read(&image, nullptr, p->frames[0].pixels.data(), stride, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return p;
}

}  // namespace imaging::detail
