// The decoders behind decode_picture, one per format, and what they share. Each answers
// nullopt for anything it cannot decode whole.
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

// A one-frame picture of checked dimensions, every pixel transparent black; nullopt when the
// dimensions are zero, negative or past the caps.
std::optional<Picture> blank_picture(PictureKind kind, int64_t width, int64_t height);
bool dimensions_allowed(int64_t width, int64_t height);

std::optional<Picture> decode_jpeg(Bytes bytes);
std::optional<Picture> decode_png(Bytes bytes, PictureKind kind);
std::optional<Picture> decode_gif(Bytes bytes, Frames frames);
std::optional<Picture> decode_bmp(Bytes bytes);
std::optional<Picture> decode_icon(Bytes bytes, PictureKind kind);
std::optional<Picture> decode_pcx(Bytes bytes, PictureKind kind);

// A device-independent bitmap as icons hold it: the info header first, then palette and pixels,
// the height doubled for the AND mask that follows the pixels.
std::optional<Picture> decode_icon_dib(Bytes dib, PictureKind kind);

}  // namespace imaging::detail
