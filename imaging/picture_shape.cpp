#include "imaging/picture_shape.h"

#include <cmath>

#include "bridges/automation_bridge.h"

namespace imaging {

PictureShape picture_shape(std::span<const uint8_t> picture, uint32_t key) {
  PictureShape shape;
  bridges::Object object;
  if (!bridges::create_picture_object(object, rt::Bytes(picture)))
    return shape;
  const auto hm_width =
      static_cast<int32_t>(std::lround(bridges::read_number_property(object, "Width")));
  const auto hm_height =
      static_cast<int32_t>(std::lround(bridges::read_number_property(object, "Height")));
  using automation::kHimetricPerInch, automation::kPictureDpi, automation::mul_div;
  const int32_t width = mul_div(hm_width, kPictureDpi, kHimetricPerInch);
  const int32_t height = mul_div(hm_height, kPictureDpi, kHimetricPerInch);
  const automation::HBITMAP bitmap = CreateBitmap(width, height, 1, 32, nullptr);
  if (bitmap == 0)
    return shape;
  // The source rectangle upside down: picture objects measure y up from the bottom edge.
  bridges::call_method(object, "Render", static_cast<int32_t>(bitmap), 0, 0, width, height, 0,
                       hm_height, hm_width, -hm_height, 0);
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  const int32_t copied =
      GetBitmapBits(bitmap, static_cast<int32_t>(pixels.size() * 4), pixels.data());
  DeleteObject(bitmap);
  if (copied != static_cast<int32_t>(pixels.size() * 4))
    return shape;
  shape.width = width;
  shape.height = height;
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    int32_t x = 0;
    while (x < width) {
      while (x < width && row[x] == key) ++x;
      const int32_t start = x;
      while (x < width && row[x] != key) ++x;
      if (x > start)
        shape.runs.push_back({start, y, x - start, 1});
    }
  }
  return shape;
}

}  // namespace imaging
