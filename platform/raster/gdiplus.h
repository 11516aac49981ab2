// The flat interface of the 2-D graphics stand-in, by the names and shapes the drawing
// wrappers call: 32-bit bitmaps, graphics on a bitmap, solid fills, the blur effect, PNG and BMP
// encoders, loading from a stream, drawing an image into a rectangle, library memory.
//
// Every function answers a status (kOk = 0). Objects are opaque pointers made by a create
// function and ended by its delete or dispose. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/global_memory.h"

namespace raster {

enum Status : int32_t {
  kOk = 0,
  kGenericError = 1,
  kInvalidParameter = 2,
  kOutOfMemory = 3,
  kInsufficientBuffer = 5,
  kNotImplemented = 6,
  kWrongState = 8,
  kValueOverflow = 11,
  kUnknownImageFormat = 13,
  kGdiplusNotInitialized = 18,
};

// Pixel formats: 32 bits with alpha (straight and premultiplied) and without.
inline constexpr int32_t kFormat32bppArgb = 0x26200A;
inline constexpr int32_t kFormat32bppPargb = 0xE200B;
inline constexpr int32_t kFormat32bppRgb = 0x22009;

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
inline bool operator==(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         __builtin_memcmp(a.data4, b.data4, 8) == 0;
}

// {633C80A4-1843-482b-9EF2-BE2834C5FDD4}
inline constexpr Guid kBlurEffect = {
    0x633C80A4, 0x1843, 0x482B, {0x9E, 0xF2, 0xBE, 0x28, 0x34, 0xC5, 0xFD, 0xD4}};
inline constexpr Guid kFormatBmp = {
    0xB96B3CAB, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatPng = {
    0xB96B3CAF, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatMemoryBmp = {
    0xB96B3CAA, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kEncoderBmp = {
    0x557CF400, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kEncoderPng = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

struct StartupInput {
  uint32_t version;
  void* debug_event_callback;
  int32_t suppress_background_thread;
  int32_t suppress_external_codecs;
};

struct BlurParams {
  float radius;
  int32_t expand_edge;
};

struct RectF {
  float x, y, width, height;
};
struct Rect {
  int32_t left, top, right, bottom;
};

struct CodecInfo {
  Guid clsid;
  Guid format_id;
  const char16_t* codec_name;
  const char16_t* dll_name;
  const char16_t* format_description;
  const char16_t* filename_extension;
  const char16_t* mime_type;
  uint32_t flags;
  uint32_t version;
  uint32_t signature_count;
  uint32_t signature_size;
  const uint8_t* signature_pattern;
  const uint8_t* signature_mask;
};

struct Image;
struct Graphics;
struct Brush;
struct Effect;
struct Region;

}  // namespace raster

#define FF_RASTER_API extern "C" __attribute__((visibility("default")))

FF_RASTER_API raster::Status GdiplusStartup(uintptr_t* token, const raster::StartupInput* input,
                                            void* output);
FF_RASTER_API raster::Status GdipCreateBitmapFromScan0(int32_t width, int32_t height,
                                                       int32_t stride, int32_t format,
                                                       uint8_t* scan0, raster::Image** bitmap);
FF_RASTER_API raster::Status GdipGetImageGraphicsContext(raster::Image* image,
                                                         raster::Graphics** graphics);
FF_RASTER_API raster::Status GdipDeleteGraphics(raster::Graphics* graphics);
FF_RASTER_API raster::Status GdipCreateSolidFill(uint32_t argb, raster::Brush** brush);
FF_RASTER_API raster::Status GdipGetSolidFillColor(raster::Brush* brush, uint32_t* argb);
FF_RASTER_API raster::Status GdipSetSolidFillColor(raster::Brush* brush, uint32_t argb);
FF_RASTER_API raster::Status GdipDeleteBrush(raster::Brush* brush);
FF_RASTER_API raster::Status GdipFillRectangle(raster::Graphics* graphics, raster::Brush* brush,
                                               float x, float y, float width, float height);
// The effect's class id comes as its four 32-bit words.
FF_RASTER_API raster::Status GdipCreateEffect(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3,
                                              raster::Effect** effect);
FF_RASTER_API raster::Status GdipSetEffectParameters(raster::Effect* effect, const void* params,
                                                     uint32_t size);
FF_RASTER_API raster::Status GdipGetEffectParameterSize(raster::Effect* effect, uint32_t* size);
FF_RASTER_API raster::Status GdipGetEffectParameters(raster::Effect* effect, uint32_t* size,
                                                     void* params);
FF_RASTER_API raster::Status GdipDeleteEffect(raster::Effect* effect);
FF_RASTER_API raster::Status GdipBitmapApplyEffect(raster::Image* bitmap, raster::Effect* effect,
                                                   raster::Rect* roi, int32_t use_aux_data,
                                                   void** aux_data, int32_t* aux_data_size);
FF_RASTER_API raster::Status GdipGetImageEncodersSize(uint32_t* count, uint32_t* size);
FF_RASTER_API raster::Status GdipGetImageEncoders(uint32_t count, uint32_t size,
                                                  raster::CodecInfo* encoders);
FF_RASTER_API raster::Status GdipSaveImageToStream(raster::Image* image, kernel::Stream* stream,
                                                   const raster::Guid* encoder,
                                                   const void* parameters);
FF_RASTER_API raster::Status GdipLoadImageFromStream(kernel::Stream* stream, raster::Image** image);
FF_RASTER_API raster::Status GdipGetImageDimension(raster::Image* image, float* width,
                                                   float* height);
FF_RASTER_API raster::Status GdipGetImageRawFormat(raster::Image* image, raster::Guid* format);
FF_RASTER_API raster::Status GdipDrawImageRect(raster::Graphics* graphics, raster::Image* image,
                                               float x, float y, float width, float height);
FF_RASTER_API raster::Status GdipDisposeImage(raster::Image* image);
FF_RASTER_API void* GdipAlloc(size_t size);
FF_RASTER_API void GdipFree(void* block);
FF_RASTER_API raster::Status GdipBitmapGetPixel(raster::Image* bitmap, int32_t x, int32_t y,
                                                uint32_t* argb);
FF_RASTER_API raster::Status GdipCreateRegionRect(const raster::RectF* rect,
                                                  raster::Region** region);
FF_RASTER_API raster::Status GdipDeleteRegion(raster::Region* region);
