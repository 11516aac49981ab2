// Pictures as the picture unit keeps them: the kind recognised from the first bytes, and the
// decoded pixels.
//
// Every decoder reads a byte set that came from outside (a poster fetched from the site, a
// template value) and trusts none of it: dimensions are capped, every offset and length is
// checked against the bytes before use, and a picture that does not decode whole is no picture.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace imaging {

// The kind numbers the picture unit reports; the tests of picture_kind run in the order BMP,
// JPEG, PNG, icon, cursor, GIF, PCX 8-bit, PCX 1-bit.
enum class PictureKind : int32_t {
  kNone = 0,
  kJpeg = 1,
  kBmp = 2,
  kIcon = 3,
  kCursor = 4,
  kGif = 5,
  kPcx8 = 6,
  kPcx1 = 7,
  kPng = 8,
};

// Caps on what any decoder makes. A poster is a few hundred pixels a side; these leave room
// for a generous one while bounding the memory (64 MiB of pixels) and the time a hostile file
// can cost.
inline constexpr int32_t kMaxDimension = 4096;
inline constexpr int64_t kMaxPixels = int64_t{16} * 1024 * 1024;
// An animated picture keeps at most this many frames, and no more pixels over all of them than
// the largest still picture has; frames past either cap are left out.
inline constexpr size_t kMaxFrames = 500;
inline constexpr int64_t kMaxAnimationPixels = kMaxPixels;

// std::allocator, except that growing a vector without a value (resize(n), a vector of n) leaves
// the new elements unset instead of zeroing them.
template <class T>
struct UnsetOnGrowAllocator : std::allocator<T> {
  // Named, so that no standard library rebinds to std::allocator's own.
  template <class U>
  struct rebind {
    using other = UnsetOnGrowAllocator<U>;
  };
  UnsetOnGrowAllocator() = default;
  template <class U>
  UnsetOnGrowAllocator(const UnsetOnGrowAllocator<U>&) noexcept {}
  // Construction with a value is std::allocator_traits' own (std::construct_at).
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
};

// A picture's pixels. A decoder that writes every pixel grows them unset (resize), sparing a
// poster's megabytes a first pass of zeros; one that may leave pixels out fills them first
// (assign).
using Pixels = std::vector<uint32_t, UnsetOnGrowAllocator<uint32_t>>;

// The same pixels, whichever vector holds them.
inline bool operator==(const Pixels& a, const std::vector<uint32_t>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

struct Frame {
  // width x height pixels, rows top to bottom, each 0xAARRGGBB (in memory: blue, green, red,
  // alpha), alpha not premultiplied.
  Pixels pixels;
  int32_t delay_ms = 0;  // how long an animation shows this frame
};

struct Picture {
  PictureKind kind = PictureKind::kNone;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<Frame> frames;  // never empty in a decoded picture

  uint32_t pixel(int32_t x, int32_t y) const {
    return frames.front()
        .pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  const Pixels& pixels() const { return frames.front().pixels; }
};

enum class Frames { kFirstOnly, kAll };

// The kind from the first 8 bytes; fewer than 8 bytes are no picture.
PictureKind picture_kind(std::span<const uint8_t> bytes);

// Why a decode gave no picture. Callers of decode_picture only see "no picture"; the reason is
// for tests and fuzz triage.
enum class DecodeFailure {
  kNone,           // decoded
  kUnknownFormat,  // no kind recognised from the first bytes
  kTruncated,      // the bytes end before the picture does
  kBadHeader,      // a header field out of its range: sizes, offsets, counts, types
  kTooLarge,       // dimensions or decoded data past the caps above
  kUnsupported,    // a valid variant this program does not decode (depth, compression, coding)
  kCorruptData,    // the coded pixel data does not decode
  kTooManyFrames,  // more image records than any animation needs
};

struct DecodeResult {
  std::optional<Picture> picture;
  DecodeFailure failure = DecodeFailure::kNone;  // kNone exactly when there is a picture
};

// Decodes a whole picture held in memory; nullopt when the kind is unknown or the bytes do not
// decode. kAll keeps every frame of an animated GIF; other kinds have one frame.
std::optional<Picture> decode_picture(std::span<const uint8_t> bytes,
                                      Frames frames = Frames::kFirstOnly);
// The same decode, with the reason when there is no picture.
DecodeResult decode_picture_with_reason(std::span<const uint8_t> bytes,
                                        Frames frames = Frames::kFirstOnly);

}  // namespace imaging
