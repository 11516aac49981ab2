#include "platform/raster/blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace raster {
namespace {

constexpr int kPasses = 3;
// The largest box: a radius of 255 in three passes.
constexpr int32_t kMaxBox = 85;

// One box pass down the columns of a picture of `rows` rows of `row_bytes` bytes: each output
// byte is the mean of the 2b + 1 bytes above, at and below it. The window is at most
// 2 * 85 + 1 bytes of at most 255, so the running sums fit 16 bits, and eight or sixteen of them
// go in one vector operation (an AVX2 copy is chosen at load time where the processor has it).
__attribute__((target_clones("avx2", "default"))) void box_down(const uint8_t* src, uint8_t* dst,
                                                                size_t row_bytes, int32_t rows,
                                                                int32_t b, Edge edge,
                                                                uint16_t* __restrict s) {
  static_assert((2 * kMaxBox + 1) * 255 <= UINT16_MAX);
  std::memset(s, 0, row_bytes * sizeof *s);
  auto row = [&](int32_t i) -> const uint8_t* {
    if (i < 0 || i >= rows) {
      if (edge == Edge::kTransparent)
        return nullptr;
      i = std::clamp(i, 0, rows - 1);
    }
    return src + static_cast<size_t>(i) * row_bytes;
  };
  for (int32_t i = -b; i < b; ++i) {
    if (const uint8_t* __restrict r = row(i)) {
      for (size_t k = 0; k < row_bytes; ++k) s[k] = static_cast<uint16_t>(s[k] + r[k]);
    }
  }
  // Division by 2b + 1 as a multiplication in 16.16 fixed point.
  const uint32_t scale = (65536u + static_cast<uint32_t>(b)) / static_cast<uint32_t>(2 * b + 1);
  for (int32_t y = 0; y < rows; ++y) {
    if (const uint8_t* __restrict in = row(y + b)) {
      for (size_t k = 0; k < row_bytes; ++k) s[k] = static_cast<uint16_t>(s[k] + in[k]);
    }
    // The mean never passes 255: no clamp needed.
    uint8_t* __restrict out = dst + static_cast<size_t>(y) * row_bytes;
    for (size_t k = 0; k < row_bytes; ++k)
      out[k] = static_cast<uint8_t>((s[k] * scale + 32768u) >> 16);
    if (const uint8_t* __restrict gone = row(y - b)) {
      for (size_t k = 0; k < row_bytes; ++k) s[k] = static_cast<uint16_t>(s[k] - gone[k]);
    }
  }
}

void transpose(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height) {
  constexpr int32_t kBlock = 32;
  for (int32_t y0 = 0; y0 < height; y0 += kBlock) {
    for (int32_t x0 = 0; x0 < width; x0 += kBlock) {
      const int32_t y1 = std::min(y0 + kBlock, height), x1 = std::min(x0 + kBlock, width);
      for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x)
          dst[static_cast<size_t>(x) * height + y] = src[static_cast<size_t>(y) * width + x];
      }
    }
  }
}

// Three passes down the columns, ending in `pixels`.
void three_passes(uint32_t* pixels, uint32_t* spare, int32_t width, int32_t height, int32_t b,
                  Edge edge, std::vector<uint16_t>& sums) {
  auto* a = reinterpret_cast<uint8_t*>(pixels);
  auto* t = reinterpret_cast<uint8_t*>(spare);
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  static_assert(kPasses == 3);
  sums.resize(row_bytes);
  box_down(a, t, row_bytes, height, b, edge, sums.data());
  box_down(t, a, row_bytes, height, b, edge, sums.data());
  box_down(a, t, row_bytes, height, b, edge, sums.data());
  std::memcpy(a, t, row_bytes * static_cast<size_t>(height));
}

}  // namespace

bool blur_premultiplied(uint32_t* pixels, int32_t width, int32_t height, float radius, Edge edge) {
  if (width <= 0 || height <= 0 || !(radius >= 1.0f))
    return true;
  const int32_t b =
      std::max(1, static_cast<int32_t>(std::lround(std::min(radius, 255.0f) / kPasses)));
  static_assert(255 / kPasses == kMaxBox);
  try {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint32_t> spare(n), turned(n);
    std::vector<uint16_t> sums;
    three_passes(pixels, spare.data(), width, height, b, edge, sums);
    transpose(pixels, turned.data(), width, height);
    three_passes(turned.data(), spare.data(), height, width, b, edge, sums);
    transpose(turned.data(), pixels, height, width);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace raster
