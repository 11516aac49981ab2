#include "decoders/picture.h"

#include "decoders/decoders.h"

namespace imaging {
namespace detail {

DecodeFailure check_dimensions(int64_t width, int64_t height) {
  if (width < 1 || height < 1)
    return DecodeFailure::kBadHeader;
  if (width > kMaxDimension || height > kMaxDimension || width * height > kMaxPixels)
    return DecodeFailure::kTooLarge;
  return DecodeFailure::kNone;
}

DecodeResult blank_picture(PictureKind kind, int64_t width, int64_t height) {
  if (const DecodeFailure why = check_dimensions(width, height); why != DecodeFailure::kNone)
    return no_picture(why);
  Picture p;
  p.kind = kind;
  p.width = static_cast<int32_t>(width);
  p.height = static_cast<int32_t>(height);
  p.frames.resize(1);
  p.frames[0].pixels.assign(static_cast<size_t>(width * height), 0u);
  return {std::move(p)};
}

}  // namespace detail

PictureKind picture_kind(std::span<const uint8_t> b) {
  if (b.size() < 8)
    return PictureKind::kNone;
  if (b[0] == 'B' && b[1] == 'M')
    return PictureKind::kBmp;
  if (b[0] == 0xFF && b[1] == 0xD8)
    return PictureKind::kJpeg;
  if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
    return PictureKind::kPng;
  const bool has_images = b[4] != 0 || b[5] != 0;
  if (b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0 && has_images)
    return PictureKind::kIcon;
  if (b[0] == 0 && b[1] == 0 && b[2] == 2 && b[3] == 0 && has_images)
    return PictureKind::kCursor;
  if (b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8' && (b[4] == '7' || b[4] == '9') &&
      b[5] == 'a')
    return PictureKind::kGif;
  if (b[0] == 0x0A && b[1] <= 5 && b[2] == 1 && b[3] == 8)
    return PictureKind::kPcx8;
  if (b[0] == 0x0A && b[1] == 3 && b[2] == 1 && b[3] == 1)
    return PictureKind::kPcx1;
  return PictureKind::kNone;
}

DecodeResult decode_picture_with_reason(std::span<const uint8_t> bytes, Frames frames) {
  const PictureKind kind = picture_kind(bytes);
  switch (kind) {
    case PictureKind::kNone:
      return detail::no_picture(DecodeFailure::kUnknownFormat);
    case PictureKind::kJpeg:
      return detail::decode_jpeg(bytes);
    case PictureKind::kBmp:
      return detail::decode_bmp(bytes);
    case PictureKind::kIcon:
    case PictureKind::kCursor:
      return detail::decode_icon(bytes, kind);
    case PictureKind::kGif:
      return detail::decode_gif(bytes, frames);
    case PictureKind::kPcx8:
    case PictureKind::kPcx1:
      return detail::decode_pcx(bytes, kind);
    case PictureKind::kPng:
      return detail::decode_png(bytes, kind);
  }
  return detail::no_picture(DecodeFailure::kUnknownFormat);
}

std::optional<Picture> decode_picture(std::span<const uint8_t> bytes, Frames frames) {
  return decode_picture_with_reason(bytes, frames).picture;
}

}  // namespace imaging
