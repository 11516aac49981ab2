// Icons and cursors: a directory of images, of which one is shown. The choice: the first entry
// 32 pixels wide with more than 15 colours, otherwise the last entry. The image itself is a
// bitmap without file header (height doubled for the AND mask) or a whole PNG file; its own
// header gives the dimensions, whatever the directory entry claims.
#include "decoders/decoders.h"

namespace imaging::detail {
namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kEntrySize = 16;

bool is_png(Bytes b) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return b.size() >= 8 && std::memcmp(b.data(), kSignature, 8) == 0;
}

}  // namespace

DecodeResult decode_icon(Bytes b, PictureKind kind) {
  if (!fits(b, 0, kHeaderSize))
    return no_picture(DecodeFailure::kTruncated);
  if (load_le16(&b[0]) != 0)
    return no_picture(DecodeFailure::kBadHeader);
  const uint16_t type = load_le16(&b[2]);
  if ((kind == PictureKind::kIcon && type != 1) || (kind == PictureKind::kCursor && type != 2))
    return no_picture(DecodeFailure::kBadHeader);
  const size_t count = load_le16(&b[4]);
  if (count == 0)
    return no_picture(DecodeFailure::kBadHeader);
  if (!fits(b, kHeaderSize, count * kEntrySize))
    return no_picture(DecodeFailure::kTruncated);
  size_t chosen = count - 1;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &b[kHeaderSize + i * kEntrySize];
    if (e[0] == 32 && e[2] > 15) {
      chosen = i;
      break;
    }
  }
  const uint8_t* e = &b[kHeaderSize + chosen * kEntrySize];
  const uint32_t size = load_le32(&e[8]);
  const uint32_t offset = load_le32(&e[12]);
  if (!fits(b, offset, size))
    return no_picture(DecodeFailure::kTruncated);
  const Bytes image = b.subspan(offset, size);
  if (is_png(image))
    return decode_png(image, kind);
  return decode_icon_dib(image, kind);
}

}  // namespace imaging::detail
