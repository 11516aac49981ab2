// PNG through libpng's simplified memory interface, into blue-green-red-alpha (format 19).
//
// Inflating is most of the work, and it grows with the raw image data, not with the pixels: at
// 16 bits a channel the largest picture is 128 MiB of it. The raw data is capped at what 8-bit
// RGBA takes at the pixel cap, read from the header before libpng starts.
#include <png.h>

#include <algorithm>
#include <iterator>

#include "decoders/decoders.h"

namespace imaging::detail {

namespace {

// libpng's simplified reader stops caring once the pixels are in; a file cut short after them
// (its end chunk missing) still counts as cut short here, as for every other kind.
bool has_end_chunk(Bytes bytes) {
  static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return std::search(bytes.begin(), bytes.end(), std::begin(kEnd), std::end(kEnd)) != bytes.end();
}

constexpr uint64_t kMaxRawBytes = 4 * static_cast<uint64_t>(kMaxPixels);

// The image data's size as the header gives it (samples only, no filter bytes), or 0 when the
// header is not there to say; libpng checks the header itself.
uint64_t raw_bytes(Bytes b) {
  static constexpr uint8_t kIhdr[4] = {'I', 'H', 'D', 'R'};
  if (!fits(b, 0, 8 + 8 + 13) || std::memcmp(&b[12], kIhdr, 4) != 0)
    return 0;
  const auto be32 = [&](size_t at) {
    return uint64_t{b[at]} << 24 | uint64_t{b[at + 1]} << 16 | uint64_t{b[at + 2]} << 8 | b[at + 3];
  };
  const uint64_t width = be32(16), height = be32(20), depth = b[24];
  if (width > kMaxDimension || height > kMaxDimension)
    return 0;  // refused by the dimensions anyway
  uint64_t channels = 0;
  switch (b[25]) {
    case 0:  // grey
    case 3:  // palette
      channels = 1;
      break;
    case 4:  // grey and alpha
      channels = 2;
      break;
    case 2:  // colour
      channels = 3;
      break;
    case 6:  // colour and alpha
      channels = 4;
      break;
    default:
      return 0;
  }
  return height * ((width * channels * depth + 7) / 8);
}

}  // namespace

DecodeResult decode_png(Bytes bytes, PictureKind kind) {
  if (!has_end_chunk(bytes))
    return no_picture(DecodeFailure::kTruncated);
  if (raw_bytes(bytes) > kMaxRawBytes)
    return no_picture(DecodeFailure::kTooLarge);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    return no_picture(DecodeFailure::kBadHeader);
  static_assert(PNG_FORMAT_BGRA == 19);
  image.format = PNG_FORMAT_BGRA;
  DecodeResult r = blank_picture(kind, image.width, image.height);
  if (!r.picture) {
    png_image_free(&image);
    return r;
  }
  const png_int_32 stride = static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
  if (!png_image_finish_read(&image, nullptr, r.picture->frames[0].pixels.data(), stride,
                             nullptr)) {
    png_image_free(&image);
    return no_picture(DecodeFailure::kCorruptData);
  }
  return r;
}

}  // namespace imaging::detail
