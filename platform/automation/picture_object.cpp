// Bitmaps by handle number, and picture objects over them.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/automation/object_model.h"

namespace automation {
namespace {

constexpr int32_t kMaxSide = 16384;
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 26;

struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
};

// Every bitmap of the process. Pictures render from one bitmap into another under the table's
// lock, so a bitmap is never deleted while it is read or written.
class BitmapTable {
 public:
  HBITMAP add(std::unique_ptr<Bitmap> bitmap) {
    std::lock_guard lock(mutex_);
    // Handle numbers run up and wrap; one still in use is skipped. Four billion live bitmaps
    // cannot exist (each takes memory), so the search ends.
    do {
      if (++last_ == 0)
        last_ = 1;
    } while (bitmaps_.count(last_) != 0);
    bitmaps_.emplace(last_, std::move(bitmap));
    return last_;
  }

  bool remove(HBITMAP handle) {
    std::lock_guard lock(mutex_);
    return bitmaps_.erase(handle) != 0;
  }

  // Runs f(bitmap) under the lock; false when the handle names no bitmap.
  template <typename F>
  bool with(HBITMAP handle, F&& f) {
    std::lock_guard lock(mutex_);
    const auto it = bitmaps_.find(handle);
    if (it == bitmaps_.end())
      return false;
    f(*it->second);
    return true;
  }

  template <typename F>
  bool with_two(HBITMAP first, HBITMAP second, F&& f) {
    std::lock_guard lock(mutex_);
    const auto a = bitmaps_.find(first);
    const auto b = bitmaps_.find(second);
    if (a == bitmaps_.end() || b == bitmaps_.end())
      return false;
    f(*a->second, *b->second);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HBITMAP, std::unique_ptr<Bitmap>> bitmaps_;
  HBITMAP last_ = 0;
};

BitmapTable& bitmaps() {
  static auto* table = new BitmapTable;  // outlives every picture, also at process end
  return *table;
}

// Copies the source rectangle (0.01 mm, y up from the bottom edge) of `from` stretched into
// the destination rectangle (pixels) of `to`, nearest pixel, clipped to `to`.
void render(const Bitmap& from, Bitmap& to, int32_t x, int32_t y, int32_t cx, int32_t cy,
            int32_t x_src, int32_t y_src, int32_t cx_src, int32_t cy_src) {
  if (from.width == 0 || from.height == 0 || cx_src == 0 || cy_src == 0)
    return;
  const double hm_width = mul_div(from.width, kHimetricPerInch, kPictureDpi);
  const double hm_height = mul_div(from.height, kHimetricPerInch, kPictureDpi);
  // Destination column i (of cx) samples source x (0.01 mm) x_src + (i + 0.5) * cx_src / cx;
  // in pixels that is x * width / hm_width, and the row from the top for y up from the bottom
  // is (hm_height - y) * height / hm_height.
  // All in double: the caller's numbers may be anything a 32-bit integer holds.
  const double width = from.width, height = from.height;
  const double sx = static_cast<double>(cx_src) / cx * width / hm_width;
  const double ox = static_cast<double>(x_src) * width / hm_width;
  const double sy = -static_cast<double>(cy_src) / cy * height / hm_height;
  const double oy = (hm_height - y_src) * height / hm_height;

  const int64_t x0 = std::max<int64_t>(x, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{x} + cx, to.width);
  const int64_t y0 = std::max<int64_t>(y, 0);
  const int64_t y1 = std::min<int64_t>(int64_t{y} + cy, to.height);
  if (x0 >= x1 || y0 >= y1)
    return;

  std::vector<int32_t> columns(static_cast<size_t>(x1 - x0));
  for (int64_t dx = x0; dx < x1; ++dx) {
    const double s = std::floor(ox + (static_cast<double>(dx - x) + 0.5) * sx);
    columns[static_cast<size_t>(dx - x0)] = s >= 0 && s < from.width ? static_cast<int32_t>(s) : -1;
  }
  for (int64_t dy = y0; dy < y1; ++dy) {
    const double r = std::floor(oy + (static_cast<double>(dy - y) + 0.5) * sy);
    if (!(r >= 0 && r < from.height))
      continue;
    const uint32_t* source = from.pixels.data() + static_cast<size_t>(r) * from.width;
    uint32_t* target = to.pixels.data() + static_cast<size_t>(dy) * to.width;
    for (int64_t dx = x0; dx < x1; ++dx) {
      const int32_t c = columns[static_cast<size_t>(dx - x0)];
      if (c >= 0)
        target[dx] = source[c];
    }
  }
}

constexpr ParamSpec kInt{VT_I4, PARAMFLAG_FIN, false};
constexpr ParamSpec kOptional{VT_VARIANT, PARAMFLAG_FIN | PARAMFLAG_FOPT, false};

void set_int(VARIANT* result, int32_t v) {
  if (!result)
    return;
  result->vt = VT_I4;
  result->lVal = v;
}

class Picture final : public DispatchObject {
 public:
  Picture(uint32_t type, HBITMAP bitmap, bool own)
      : DispatchObject(shared_type()), type_(type), bitmap_(bitmap), own_(own) {
    bitmaps().with(bitmap_, [&](const Bitmap& b) {
      width_ = b.width;
      height_ = b.height;
    });
  }

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object)
      return E_POINTER;
    if (iid == IID_IPictureDisp) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return DispatchObject::QueryInterface(iid, object);
  }

 private:
  ~Picture() override {
    if (own_ && bitmap_ != 0)
      bitmaps().remove(bitmap_);
  }

  enum : MEMBERID { kHandle = 0, kPalette = 2, kType = 3, kWidth = 4, kHeight = 5, kRender = 6 };

  static TypeInfo* shared_type() {
    static TypeInfo* t = [] {
      const MemberSpec members[] = {
          {u"Handle", kHandle, INVOKE_PROPERTYGET, VT_I4, {}},
          {u"hPal", kPalette, INVOKE_PROPERTYGET, VT_I4, {}},
          {u"Type", kType, INVOKE_PROPERTYGET, VT_I2, {}},
          {u"Width", kWidth, INVOKE_PROPERTYGET, VT_I4, {}},
          {u"Height", kHeight, INVOKE_PROPERTYGET, VT_I4, {}},
          {u"Render",
           kRender,
           INVOKE_FUNC,
           VT_VOID,
           {kInt, kInt, kInt, kInt, kInt, kInt, kInt, kInt, kInt, kOptional}},
      };
      return TypeInfo::create(members);
    }();
    return t;
  }

  HRESULT call(MEMBERID id, INVOKEKIND, std::span<VARIANT> args, VARIANT* result) override {
    switch (id) {
      case kHandle:
        set_int(result, static_cast<int32_t>(bitmap_));
        return S_OK;
      case kPalette:
        set_int(result, 0);
        return S_OK;
      case kType:
        if (result) {
          result->vt = VT_I2;
          result->iVal = static_cast<int16_t>(type_);
        }
        return S_OK;
      case kWidth:
        set_int(result, mul_div(width_, kHimetricPerInch, kPictureDpi));
        return S_OK;
      case kHeight:
        set_int(result, mul_div(height_, kHimetricPerInch, kPictureDpi));
        return S_OK;
      case kRender:
        return render_into(args);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  HRESULT render_into(std::span<VARIANT> args) {
    const auto target = static_cast<HBITMAP>(args[0].lVal);
    const int32_t cx = args[3].lVal;
    const int32_t cy = args[4].lVal;
    if (cx <= 0 || cy <= 0)
      return E_INVALIDARG;
    if (type_ != PICTYPE_BITMAP)
      return S_OK;  // an empty picture draws nothing
    bool rendered = false;
    const auto draw = [&](const Bitmap& from, Bitmap& to) {
      render(from, to, args[1].lVal, args[2].lVal, cx, cy, args[5].lVal, args[6].lVal, args[7].lVal,
             args[8].lVal);
      rendered = true;
    };
    if (target == bitmap_) {
      // Onto itself: from a copy, as a blit between overlapping rectangles would.
      bitmaps().with(bitmap_, [&](Bitmap& b) {
        const Bitmap copy = b;
        draw(copy, b);
      });
    } else {
      bitmaps().with_two(bitmap_, target, draw);
    }
    return rendered ? S_OK : E_INVALIDARG;
  }

  const uint32_t type_;
  const HBITMAP bitmap_;
  const bool own_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace
}  // namespace automation

using namespace automation;

HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes, uint32_t bits_per_pixel,
                     const void* bits) {
  if (planes != 1 || bits_per_pixel != 32)
    return 0;
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
    return 0;
  const int64_t count = int64_t{width} * height;
  if (count > kMaxBitmapPixels)
    return 0;
  auto bitmap = std::unique_ptr<Bitmap>(new (std::nothrow) Bitmap);
  if (!bitmap)
    return 0;
  try {
    bitmap->pixels.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  bitmap->width = width;
  bitmap->height = height;
  if (bits)
    std::memcpy(bitmap->pixels.data(), bits, static_cast<size_t>(count) * 4);
  return bitmaps().add(std::move(bitmap));
}

int GetObjectA(HBITMAP bitmap, int size, void* out) {
  if (!out || size < static_cast<int>(sizeof(BITMAP)))
    return 0;
  BITMAP description{};
  if (!bitmaps().with(bitmap, [&](const Bitmap& b) {
        description.bmWidth = b.width;
        description.bmHeight = b.height;
        description.bmWidthBytes = b.width * 4;
        description.bmPlanes = 1;
        description.bmBitsPixel = 32;
      }))
    return 0;
  std::memcpy(out, &description, sizeof description);
  return static_cast<int>(sizeof description);
}

int32_t GetBitmapBits(HBITMAP bitmap, int32_t count, void* bits) {
  if (!bits || count <= 0)
    return 0;
  int32_t copied = 0;
  bitmaps().with(bitmap, [&](const Bitmap& b) {
    const size_t available = b.pixels.size() * 4;
    const size_t n = std::min(available, static_cast<size_t>(count));
    std::memcpy(bits, b.pixels.data(), n);
    copied = static_cast<int32_t>(n);
  });
  return copied;
}

int DeleteObject(HBITMAP bitmap) {
  return bitmap != 0 && bitmaps().remove(bitmap) ? 1 : 0;
}

HRESULT OleCreatePictureIndirect(const PICTDESC* desc, const IID& iid, int own, void** picture) {
  if (!picture)
    return E_POINTER;
  *picture = nullptr;
  if (!(iid == IID_IPictureDisp || iid == IID_IDispatch || iid == IID_IUnknown))
    return E_NOINTERFACE;
  uint32_t type = PICTYPE_UNINITIALIZED;
  HBITMAP bitmap = 0;
  if (desc) {
    if (desc->cbSizeofstruct != sizeof(PICTDESC))
      return E_INVALIDARG;
    type = desc->picType;
    if (type == PICTYPE_BITMAP) {
      bitmap = desc->bmp.hbitmap;
      if (!bitmaps().with(bitmap, [](const Bitmap&) {}))
        return E_INVALIDARG;
    } else if (type != PICTYPE_NONE) {
      return E_INVALIDARG;
    }
  }
  auto* made = new (std::nothrow) Picture(type, bitmap, own != 0);
  if (!made)
    return E_OUTOFMEMORY;
  *picture = static_cast<IDispatch*>(made);  // every offered interface is this one
  return S_OK;
}
