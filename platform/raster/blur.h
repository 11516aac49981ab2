// The blur effect's work: an approximate Gaussian of the given radius over premultiplied 32-bit
// pixels, as three box filters each way (the reach of the three together is the radius).
// Columns are filtered a whole row at a time so that the inner loop runs over contiguous bytes;
// rows are filtered as the columns of the transposed picture.
#pragma once

#include <cstdint>

namespace raster {

enum class Edge {
  kTransparent,  // outside the bitmap is transparent: the blur spreads past the edges
  kRepeat,       // outside the bitmap repeats the edge pixels
};

// Blurs width x height pixels in place; answers false when memory runs out.
bool blur_premultiplied(uint32_t* pixels, int32_t width, int32_t height, float radius, Edge edge);

}  // namespace raster
