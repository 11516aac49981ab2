// Picture objects made from picture bytes: sizes in 0.01 mm, Render into a bitmap (upright only
// with the inverted source rectangle), stretching and clipping, and what bad bytes and bad
// handles leave behind.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include "bridges/automation_bridge.h"
#include "imaging/picture_files.h"
#include "platform/automation/object_model.h"

namespace {

using namespace bridges;
using namespace automation;

rt::Bytes bytes_of(const std::vector<uint8_t>& data) {
  return rt::Bytes(std::span<const uint8_t>(data.data(), data.size()));
}

// ImageMagick's decode (R, G, B, A bytes) as 0xAARRGGBB pixels.
std::vector<uint32_t> reference_pixels(const std::string& name) {
  const std::vector<uint8_t> rgba = picture_files::read(name);
  std::vector<uint32_t> out(rgba.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = uint32_t{rgba[4 * i + 3]} << 24 | uint32_t{rgba[4 * i]} << 16 |
             uint32_t{rgba[4 * i + 1]} << 8 | rgba[4 * i + 2];
  }
  return out;
}

std::vector<uint32_t> pixels_of(HBITMAP bitmap) {
  BITMAP description{};
  if (GetObjectA(bitmap, sizeof description, &description) == 0)
    return {};
  std::vector<uint32_t> pixels(static_cast<size_t>(description.bmWidth) * description.bmHeight);
  const auto bytes = static_cast<int32_t>(pixels.size() * 4);
  EXPECT_EQ(GetBitmapBits(bitmap, bytes, pixels.data()), bytes);
  return pixels;
}

int32_t to_pixels(double himetric) {
  return static_cast<int32_t>(himetric * kPictureDpi / kHimetricPerInch + 0.5);
}

class PictureObject : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_picture_object(picture_, bytes_of(picture_files::read("png_rgba.png"))));
    ASSERT_EQ(automation_error(), kAutomationOk);
  }

  Object picture_;
};

TEST_F(PictureObject, SizesAreInHundredthsOfAMillimetreAndRoundTrip) {
  const double width = read_number_property(picture_, "Width");
  const double height = read_number_property(picture_, "Height");
  EXPECT_EQ(width, 1217);   // 46 px * 2540 / 96 = 1217.08
  EXPECT_EQ(height, 1852);  // 70 px * 2540 / 96 = 1852.08
  EXPECT_EQ(to_pixels(width), 46);
  EXPECT_EQ(to_pixels(height), 70);
  EXPECT_EQ(read_number_property(picture_, "Type"), PICTYPE_BITMAP);
  EXPECT_NE(read_number_property(picture_, "Handle"), 0);

  // Every size up to the cap converts back to itself.
  for (int32_t px : {1, 2, 3, 13, 163, 211, 230, 306, 678, 1920, 16384}) {
    const std::vector<uint32_t> one(static_cast<size_t>(px), 0xFF000000u);
    const HBITMAP b = CreateBitmap(px, 1, 1, 32, one.data());
    PICTDESC d{};
    d.cbSizeofstruct = sizeof d;
    d.picType = PICTYPE_BITMAP;
    d.bmp.hbitmap = b;
    void* made = nullptr;
    ASSERT_EQ(OleCreatePictureIndirect(&d, IID_IPictureDisp, 1, &made), S_OK);
    Object held;
    held.holder()->object = static_cast<IDispatch*>(made);
    EXPECT_EQ(to_pixels(read_number_property(held, "Width")), px);
  }
}

TEST_F(PictureObject, RendersUprightOnlyWithTheInvertedSourceRectangle) {
  const auto hm_w = static_cast<int32_t>(read_number_property(picture_, "Width"));
  const auto hm_h = static_cast<int32_t>(read_number_property(picture_, "Height"));
  const std::vector<uint32_t> expected = reference_pixels("png_rgba.rgba");
  ASSERT_EQ(expected.size(), 46u * 70u);

  const HBITMAP target = CreateBitmap(46, 70, 1, 32, nullptr);
  call_method(picture_, "Render", static_cast<int32_t>(target), 0, 0, 46, 70, 0, hm_h, hm_w, -hm_h,
              0);
  EXPECT_EQ(automation_error(), kAutomationOk);
  EXPECT_EQ(pixels_of(target), expected);

  // Not inverted, the picture lands upside down.
  call_method(picture_, "Render", static_cast<int32_t>(target), 0, 0, 46, 70, 0, 0, hm_w, hm_h, 0);
  const std::vector<uint32_t> flipped = pixels_of(target);
  for (int y = 0; y < 70; ++y) {
    ASSERT_EQ(std::memcmp(&flipped[static_cast<size_t>(y) * 46],
                          &expected[static_cast<size_t>(69 - y) * 46], 46 * 4),
              0)
        << "row " << y;
  }
  EXPECT_EQ(DeleteObject(target), 1);
}

TEST_F(PictureObject, StretchesAndClipsToTheTarget) {
  const auto hm_w = static_cast<int32_t>(read_number_property(picture_, "Width"));
  const auto hm_h = static_cast<int32_t>(read_number_property(picture_, "Height"));
  const std::vector<uint32_t> expected = reference_pixels("png_rgba.rgba");
  const auto at = [&](int x, int y) { return expected[static_cast<size_t>(y) * 46 + x]; };

  // Twice the size: every source pixel becomes a 2 x 2 block.
  const HBITMAP big = CreateBitmap(92, 140, 1, 32, nullptr);
  call_method(picture_, "Render", static_cast<int32_t>(big), 0, 0, 92, 140, 0, hm_h, hm_w, -hm_h,
              0);
  const std::vector<uint32_t> stretched = pixels_of(big);
  for (int y = 0; y < 140; ++y)
    for (int x = 0; x < 92; ++x)
      ASSERT_EQ(stretched[static_cast<size_t>(y) * 92 + x], at(x / 2, y / 2)) << x << "," << y;

  // Drawn 10 pixels left of and above a 20 x 20 target: the rest is clipped, the target's
  // pixels outside the drawing keep their colour.
  const std::vector<uint32_t> grey(400, 0xFF808080u);
  const HBITMAP small = CreateBitmap(20, 20, 1, 32, grey.data());
  call_method(picture_, "Render", static_cast<int32_t>(small), -10, -10, 46, 70, 0, hm_h, hm_w,
              -hm_h, 0);
  EXPECT_EQ(automation_error(), kAutomationOk);
  const std::vector<uint32_t> clipped = pixels_of(small);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(clipped[static_cast<size_t>(y) * 20 + x], at(x + 10, y + 10));

  call_method(picture_, "Render", static_cast<int32_t>(small), 50, 50, 46, 70, 0, hm_h, hm_w, -hm_h,
              0);
  EXPECT_EQ(pixels_of(small), clipped) << "a drawing wholly outside changes nothing";
  DeleteObject(big);
  DeleteObject(small);
}

TEST_F(PictureObject, BadBytesAndBadHandlesLeaveThingsAsTheyWere) {
  const double width = read_number_property(picture_, "Width");
  const IUnknown* held = picture_.get();
  const std::vector<uint8_t> html = {'<', 'h', 't', 'm', 'l', '>', 'n', 'o', ' ', 'f', 'o', 'u'};
  std::vector<uint8_t> truncated = picture_files::read("poster.jpg");
  truncated.resize(truncated.size() / 3);
  for (const std::vector<uint8_t>& bad :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF, 0xD8}, html, truncated}) {
    EXPECT_FALSE(create_picture_object(picture_, bytes_of(bad)));
    EXPECT_EQ(picture_.get(), held);
  }
  EXPECT_EQ(read_number_property(picture_, "Width"), width);

  // Rendering into no bitmap, or into an empty rectangle, fails as a call.
  call_method(picture_, "Render", 987654, 0, 0, 46, 70, 0, 1852, 1217, -1852, 0);
  EXPECT_EQ(automation_error(), kException);
  const HBITMAP target = CreateBitmap(4, 4, 1, 32, nullptr);
  call_method(picture_, "Render", static_cast<int32_t>(target), 0, 0, 0, 70, 0, 1852, 1217, -1852,
              0);
  EXPECT_EQ(automation_error(), kException);
  DeleteObject(target);

  // A new picture replaces the old one in the holder.
  EXPECT_TRUE(create_picture_object(picture_, bytes_of(picture_files::read("poster.jpg"))));
  EXPECT_NE(picture_.get(), held);
  EXPECT_EQ(to_pixels(read_number_property(picture_, "Width")), 230);
  EXPECT_EQ(to_pixels(read_number_property(picture_, "Height")), 306);
}

TEST_F(PictureObject, AnyRectanglesStayInsideBothBitmaps) {
  // Rectangles from the caller are untrusted numbers: extremes, negatives and zero sizes draw
  // what falls inside the target or nothing, and never read or write outside either bitmap.
  const int32_t extremes[] = {
      INT32_MIN, INT32_MIN + 1, -1852, -70,           -1,       0, 1, 2, 45, 46, 70,
      1217,      1852,          65536, INT32_MAX - 1, INT32_MAX};
  std::mt19937 random(7);
  const auto pick = [&] {
    return random() % 2 ? extremes[random() % std::size(extremes)]
                        : static_cast<int32_t>(random() % 4000) - 2000;
  };
  const HBITMAP target = CreateBitmap(17, 9, 1, 32, nullptr);
  for (int i = 0; i < 3000; ++i) {
    call_method(picture_, "Render", static_cast<int32_t>(target), pick(), pick(), pick(), pick(),
                pick(), pick(), pick(), pick(), 0);
    const int32_t error = automation_error();
    ASSERT_TRUE(error == kAutomationOk || error == kException) << error;
  }
  DeleteObject(target);
}

TEST(PictureStandIn, BitmapsAndDescriptionsAreChecked) {
  EXPECT_EQ(CreateBitmap(0, 5, 1, 32, nullptr), 0u);
  EXPECT_EQ(CreateBitmap(5, -1, 1, 32, nullptr), 0u);
  EXPECT_EQ(CreateBitmap(16385, 1, 1, 32, nullptr), 0u);
  EXPECT_EQ(CreateBitmap(16384, 16384, 1, 32, nullptr), 0u) << "over the pixel cap";
  EXPECT_EQ(CreateBitmap(5, 5, 2, 32, nullptr), 0u);
  EXPECT_EQ(CreateBitmap(5, 5, 1, 24, nullptr), 0u);

  const HBITMAP b = CreateBitmap(3, 2, 1, 32, nullptr);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(pixels_of(b), std::vector<uint32_t>(6, 0u)) << "starts transparent black";
  BITMAP description{};
  EXPECT_EQ(GetObjectA(b, sizeof description - 1, &description), 0);
  EXPECT_EQ(GetObjectA(b, sizeof description, &description), static_cast<int>(sizeof description));
  EXPECT_EQ(description.bmWidthBytes, 12);
  uint32_t two[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(GetBitmapBits(b, 5, two), 5) << "never more than asked";
  EXPECT_EQ(two[1], 0xFFFFFF00u);

  void* made = nullptr;
  PICTDESC d{};
  d.cbSizeofstruct = sizeof d - 4;
  d.picType = PICTYPE_BITMAP;
  d.bmp.hbitmap = b;
  EXPECT_EQ(OleCreatePictureIndirect(&d, IID_IPictureDisp, 1, &made), E_INVALIDARG);
  d.cbSizeofstruct = sizeof d;
  d.picType = 7;
  EXPECT_EQ(OleCreatePictureIndirect(&d, IID_IPictureDisp, 1, &made), E_INVALIDARG);
  d.picType = PICTYPE_BITMAP;
  d.bmp.hbitmap = b + 1000;
  EXPECT_EQ(OleCreatePictureIndirect(&d, IID_IPictureDisp, 1, &made), E_INVALIDARG);
  d.bmp.hbitmap = b;
  EXPECT_EQ(OleCreatePictureIndirect(&d, IID_NULL, 1, &made), E_NOINTERFACE);
  EXPECT_EQ(made, nullptr);
  EXPECT_NE(GetObjectA(b, sizeof description, &description), 0) << "a refused bitmap stays";

  // Not owned, the bitmap outlives the picture; owned, it goes with it.
  ASSERT_EQ(OleCreatePictureIndirect(&d, IID_IDispatch, 0, &made), S_OK);
  static_cast<IDispatch*>(made)->Release();
  EXPECT_NE(GetObjectA(b, sizeof description, &description), 0);
  ASSERT_EQ(OleCreatePictureIndirect(&d, IID_IUnknown, 1, &made), S_OK);
  static_cast<IUnknown*>(made)->Release();
  EXPECT_EQ(GetObjectA(b, sizeof description, &description), 0);
  EXPECT_EQ(DeleteObject(b), 0) << "deleted with its picture";

  // No description: an uninitialised picture, which draws nothing and measures nothing.
  ASSERT_EQ(OleCreatePictureIndirect(nullptr, IID_IPictureDisp, 1, &made), S_OK);
  Object empty;
  empty.holder()->object = static_cast<IDispatch*>(made);
  EXPECT_EQ(read_number_property(empty, "Width"), 0);
  EXPECT_EQ(read_number_property(empty, "Type"), -1);
}

TEST(PictureStandIn, ThreadsMakeAndDropPicturesAtOnce) {
  const std::vector<uint8_t> png = picture_files::read("png_rgba.png");
  const auto work = [&] {
    for (int i = 0; i < 200; ++i) {
      Object picture;
      ASSERT_TRUE(create_picture_object(picture, bytes_of(png)));
      const HBITMAP target = CreateBitmap(46, 70, 1, 32, nullptr);
      call_method(picture, "Render", static_cast<int32_t>(target), 0, 0, 46, 70, 0, 1852, 1217,
                  -1852, 0);
      ASSERT_EQ(automation_error(), kAutomationOk);
      ASSERT_EQ(DeleteObject(target), 1);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
}

}  // namespace
