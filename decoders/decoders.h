// The decoders behind decode_picture, one per format, and what they share. Each answers no
// picture, with the reason, for anything it cannot decode whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "base/byte_reader.h"
#include "decoders/picture.h"

namespace imaging::detail {

using base::Bytes;
using base::fits;
using base::load_le16;
using base::load_le32;

inline uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}
inline constexpr uint32_t kOpaqueBlack = 0xFF000000u;

// No picture, and why.
inline DecodeResult no_picture(DecodeFailure why) {
  return {std::nullopt, why};
}

// kNone for dimensions a picture may have; kBadHeader for zero or negative, kTooLarge past the
// caps.
DecodeFailure check_dimensions(int64_t width, int64_t height);
inline bool dimensions_allowed(int64_t width, int64_t height) {
  return check_dimensions(width, height) == DecodeFailure::kNone;
}
// A one-frame picture of checked dimensions, every pixel transparent black.
DecodeResult blank_picture(PictureKind kind, int64_t width, int64_t height);

DecodeResult decode_jpeg(Bytes bytes);
DecodeResult decode_png(Bytes bytes, PictureKind kind);
DecodeResult decode_gif(Bytes bytes, Frames frames);
DecodeResult decode_bmp(Bytes bytes);
DecodeResult decode_icon(Bytes bytes, PictureKind kind);
DecodeResult decode_pcx(Bytes bytes, PictureKind kind);

// A device-independent bitmap as icons hold it: the info header first, then palette and pixels,
// the height doubled for the AND mask that follows the pixels.
DecodeResult decode_icon_dib(Bytes dib, PictureKind kind);

}  // namespace imaging::detail
