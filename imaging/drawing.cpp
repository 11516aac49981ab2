#include "imaging/drawing.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "runtime/dll_commands.h"
#include "runtime/imports.h"

// A library function by its table entry: the entry of the same name.
#define FF_CALL(name) (rt::dll_function<decltype(name)>(rt::kImport##name))

namespace imaging {
namespace {

int32_t g_last_status = 0;
uintptr_t g_token = 0;

bool record(raster::Status s) {
  g_last_status = s;
  return s == raster::kOk;
}

}  // namespace

int32_t last_status() {
  return g_last_status;
}

bool start_graphics_library() {
  if (g_token != 0)
    return true;
  const raster::StartupInput input{1, nullptr, 0, 0};
  uintptr_t token = 0;
  if (FF_CALL(GdiplusStartup)(&token, &input, nullptr) != raster::kOk)
    return false;  // the token stays 0: the next start tries again
  g_token = token;
  return true;
}

uintptr_t graphics_token() {
  return g_token;
}

// ---- GUID texts ---------------------------------------------------------------------------------

std::string guid_text(const raster::Guid& id) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.data1,
                id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4],
                id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

std::optional<raster::Guid> parse_guid(std::string_view t) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (t.size() != 38 || t.front() != '{' || t.back() != '}' || t[9] != '-' || t[14] != '-' ||
      t[19] != '-' || t[24] != '-')
    return std::nullopt;
  uint8_t bytes[16];
  size_t n = 0;
  for (size_t i = 1; i < 37; ++i) {
    if (t[i] == '-')
      continue;
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9')
        return c - '0';
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    const int hi = hex(t[i]), lo = hex(t[i + 1]);
    if (hi < 0 || lo < 0 || n >= 16)
      return std::nullopt;
    bytes[n++] = static_cast<uint8_t>(hi << 4 | lo);
    ++i;
  }
  if (n != 16)
    return std::nullopt;
  raster::Guid g{};
  g.data1 = static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
  g.data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  g.data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(g.data4, bytes + 8, 8);
  return g;
}

std::string encoder_for(std::string_view format_id) {
  uint32_t count = 0, size = 0;
  if (!record(FF_CALL(GdipGetImageEncodersSize)(&count, &size)) || count == 0)
    return {};
  std::vector<raster::CodecInfo> codecs(size / sizeof(raster::CodecInfo) + 1);
  if (!record(FF_CALL(GdipGetImageEncoders)(count, size, codecs.data())))
    return {};
  const std::optional<raster::Guid> wanted = parse_guid(format_id);
  if (!wanted)
    return {};
  for (uint32_t i = 0; i < count; ++i) {
    if (codecs[i].format_id == *wanted)
      return guid_text(codecs[i].clsid);
  }
  return {};
}

// ---- streams -----------------------------------------------------------------------------------

kernel::Stream* StreamBuffer::create(std::span<const uint8_t> bytes) {
  release();
  block_ = FF_CALL(GlobalAlloc)(kernel::kGlobalMovable | kernel::kGlobalZeroInit, bytes.size());
  if (!block_)
    return nullptr;
  if (FF_CALL(CreateStreamOnHGlobal)(block_, 0, &stream_) != kernel::kOk) {
    release();
    return nullptr;
  }
  if (!bytes.empty()) {
    void* p = FF_CALL(GlobalLock)(block_);
    if (p)
      std::memcpy(p, bytes.data(), bytes.size());
    FF_CALL(GlobalUnlock)(block_);
  }
  return stream_;
}

void StreamBuffer::release() {
  if (stream_)
    stream_->functions->release(stream_);
  if (block_)
    FF_CALL(GlobalFree)(block_);
  stream_ = nullptr;
  block_ = nullptr;
}

namespace {

size_t block_size(kernel::GlobalHandle block) {
  return block ? FF_CALL(GlobalSize)(block) : 0;
}

// A copy of a global memory block's current contents.
std::vector<uint8_t> block_bytes(kernel::GlobalHandle block) {
  if (!block)
    return {};
  const size_t n = FF_CALL(GlobalSize)(block);
  const auto* p = static_cast<const uint8_t*>(FF_CALL(GlobalLock)(block));
  std::vector<uint8_t> out;
  if (p && n > 0)
    out.assign(p, p + n);
  FF_CALL(GlobalUnlock)(block);
  return out;
}

}  // namespace

size_t StreamBuffer::size() const {
  return block_size(block_);
}

kernel::GlobalHandle StreamBuffer::block_of(kernel::Stream* stream) {
  kernel::GlobalHandle h = nullptr;
  return FF_CALL(GetHGlobalFromStream)(stream, &h) == kernel::kOk ? h : nullptr;
}

std::vector<uint8_t> StreamBuffer::bytes() const {
  return block_bytes(block_);
}

MemoryStream::~MemoryStream() {
  release();
}

void MemoryStream::release() {
  if (stream_)
    stream_->functions->release(stream_);
  stream_ = nullptr;
  free_block();
}

kernel::Stream* MemoryStream::create(std::optional<std::span<const uint8_t>> bytes) {
  release();
  if (bytes) {
    block_ = FF_CALL(GlobalAlloc)(kernel::kGlobalFixed, bytes->size());
    if (!block_)
      return nullptr;
    if (void* p = FF_CALL(GlobalLock)(block_); p && !bytes->empty())
      std::memcpy(p, bytes->data(), bytes->size());
    FF_CALL(GlobalUnlock)(block_);
    stream_owns_block_ = false;
    if (FF_CALL(CreateStreamOnHGlobal)(block_, 0, &stream_) != kernel::kOk)
      stream_ = nullptr;
  } else {
    block_ = FF_CALL(GlobalAlloc)(kernel::kGlobalMovable, 0);
    stream_owns_block_ = true;
    if (FF_CALL(CreateStreamOnHGlobal)(block_, 1, &stream_) != kernel::kOk) {
      FF_CALL(GlobalFree)(block_);
      block_ = nullptr;
      stream_ = nullptr;
    }
  }
  return stream_;
}

size_t MemoryStream::size() const {
  return block_size(block_);
}

std::vector<uint8_t> MemoryStream::bytes() const {
  return block_bytes(block_);
}

void MemoryStream::free_block() {
  if (block_ && !stream_owns_block_)
    FF_CALL(GlobalFree)(block_);
  block_ = nullptr;
}

// ---- graphics objects --------------------------------------------------------------------------

void* GraphicsObject::allocate(size_t size) {
  return FF_CALL(GdipAlloc)(size);
}
void GraphicsObject::free(void* block) {
  FF_CALL(GdipFree)(block);
}

bool Image::create_bitmap(int32_t width, int32_t height, int32_t format) {
  return create_bitmap_over(width, height, 0, nullptr, format);
}

bool Image::create_bitmap_over(int32_t width, int32_t height, int32_t stride, uint8_t* pixels,
                               int32_t format) {
  raster::Image* bitmap = nullptr;
  const bool ok =
      record(FF_CALL(GdipCreateBitmapFromScan0)(width, height, stride, format, pixels, &bitmap));
  adopt(bitmap);
  return ok;
}

bool Image::load(std::span<const uint8_t> bytes) {
  kernel::Stream* s = source_.create(bytes);
  if (!s)
    return false;
  raster::Image* image = nullptr;
  const bool ok = record(FF_CALL(GdipLoadImageFromStream)(s, &image));
  adopt(image);
  return ok;
}

bool Image::apply_effect(Effect& effect, const raster::Rect* region_of_interest) {
  if (effect.aux_data) {
    FF_CALL(GdipFree)(effect.aux_data);
    effect.aux_data = nullptr;
    effect.aux_data_size = 0;
  }
  raster::Rect roi{};
  if (region_of_interest)
    roi = *region_of_interest;
  return record(FF_CALL(GdipBitmapApplyEffect)(
      native<raster::Image>(), reinterpret_cast<raster::Effect*>(effect.handle()),
      region_of_interest ? &roi : nullptr, effect.use_aux_data ? 1 : 0, &effect.aux_data,
      &effect.aux_data_size));
}

bool Image::save(std::optional<std::string_view> format_id, std::vector<uint8_t>& out) {
  out.clear();
  StreamBuffer buffer;
  const std::string own = format_id ? std::string() : raw_format();
  const std::string encoder = encoder_for(format_id ? *format_id : std::string_view(own));
  const std::optional<raster::Guid> clsid = parse_guid(encoder);
  if (!clsid)
    return false;
  kernel::Stream* s = buffer.create({});
  if (!s)
    return false;
  const bool ok =
      record(FF_CALL(GdipSaveImageToStream)(native<raster::Image>(), s, &*clsid, nullptr));
  if (ok)
    out = buffer.bytes();
  return ok;
}

bool Image::dimension(float& width, float& height) {
  return record(FF_CALL(GdipGetImageDimension)(native<raster::Image>(), &width, &height));
}

std::string Image::raw_format() {
  raster::Guid g{};
  if (!record(FF_CALL(GdipGetImageRawFormat)(native<raster::Image>(), &g)))
    return {};
  return guid_text(g);
}

uint32_t Image::pixel(int32_t x, int32_t y) {
  uint32_t argb = 0;
  record(FF_CALL(GdipBitmapGetPixel)(native<raster::Image>(), x, y, &argb));
  return argb;
}

bool Image::dispose() {
  if (!native_)
    return false;
  const bool ok = record(FF_CALL(GdipDisposeImage)(native<raster::Image>()));
  set_handle(0);
  source_.release();
  return ok;
}

bool SolidBrush::create(uint32_t argb) {
  raster::Brush* brush = nullptr;
  const bool ok = record(FF_CALL(GdipCreateSolidFill)(argb, &brush));
  adopt(brush);
  return ok;
}

uint32_t SolidBrush::colour() {
  uint32_t argb = 0;
  record(FF_CALL(GdipGetSolidFillColor)(native<raster::Brush>(), &argb));
  return argb;
}

bool SolidBrush::set_colour(uint32_t argb) {
  return record(FF_CALL(GdipSetSolidFillColor)(native<raster::Brush>(), argb));
}

bool SolidBrush::remove() {
  if (!native_)
    return false;
  const bool ok = record(FF_CALL(GdipDeleteBrush)(native<raster::Brush>()));
  set_handle(0);
  return ok;
}

bool Graphics::from_image(Image& image) {
  raster::Graphics* g = nullptr;
  const bool ok = record(
      FF_CALL(GdipGetImageGraphicsContext)(reinterpret_cast<raster::Image*>(image.handle()), &g));
  adopt(g);
  return ok;
}

bool Graphics::fill_rectangle(SolidBrush& brush, float x, float y, float width, float height) {
  return record(FF_CALL(GdipFillRectangle)(native<raster::Graphics>(),
                                           reinterpret_cast<raster::Brush*>(brush.handle()), x, y,
                                           width, height));
}

bool Graphics::draw_image(Image& image, float x, float y, float width, float height) {
  return record(FF_CALL(GdipDrawImageRect)(native<raster::Graphics>(),
                                           reinterpret_cast<raster::Image*>(image.handle()), x, y,
                                           width, height));
}

bool Graphics::remove() {
  if (!native_)
    return false;
  const bool ok = record(FF_CALL(GdipDeleteGraphics)(native<raster::Graphics>()));
  set_handle(0);
  return ok;
}

bool Effect::create_blur() {
  const std::optional<raster::Guid> id = parse_guid(kBlurEffectId);
  uint32_t words[4] = {};
  std::memcpy(words, &*id, sizeof words);
  raster::Effect* effect = nullptr;
  const bool ok =
      record(FF_CALL(GdipCreateEffect)(words[0], words[1], words[2], words[3], &effect));
  adopt(effect);
  return ok;
}

bool Effect::set_parameters(const void* block, uint32_t size) {
  return record(FF_CALL(GdipSetEffectParameters)(native<raster::Effect>(), block, size));
}

bool Effect::remove() {
  if (!native_)
    return false;
  if (aux_data)
    FF_CALL(GdipFree)(aux_data);
  aux_data = nullptr;
  aux_data_size = 0;
  const bool ok = record(FF_CALL(GdipDeleteEffect)(native<raster::Effect>()));
  set_handle(0);
  return ok;
}

bool Region::create_rect(float x, float y, float width, float height) {
  const raster::RectF r{x, y, width, height};
  raster::Region* region = nullptr;
  const bool ok = record(FF_CALL(GdipCreateRegionRect)(&r, &region));
  adopt(region);
  return ok;
}

bool Region::remove() {
  if (!native_)
    return false;
  const bool ok = record(FF_CALL(GdipDeleteRegion)(native<raster::Region>()));
  set_handle(0);
  return ok;
}

}  // namespace imaging
