// The program's dynamic-library command table: which library function each entry names.
//
// The platform's function names are kept; the libraries are this program's stand-ins, built
// next to the executable. A port to another platform changes only the file names here, and
// takes along the two conversions the kernel stand-in adds of its own (named ff_...).
#pragma once

#include <cstdint>

#include "runtime/dll_commands.h"

namespace rt {

enum Import : int32_t {
  kImportMultiByteToWideChar,
  kImportWideCharToMultiByte,
  kImportInternetOpenA,
  kImportInternetConnectA,
  kImportHttpOpenRequestA,
  kImportHttpSendRequestA,       // body as text
  kImportHttpSendRequestABytes,  // the same function, body as a byte set
  kImportInternetReadFile,
  kImportHttpQueryInfoA,
  kImportInternetCloseHandle,
  kImportCoInitialize,
  kImportCoUninitialize,
  kImportShellExecuteA,
  kImportFindWindowExA,
  // Global memory and streams (kernel), the 2-D graphics library (raster).
  kImportGlobalAlloc,
  kImportGlobalLock,
  kImportGlobalUnlock,
  kImportGlobalSize,
  kImportGlobalFree,
  kImportCreateStreamOnHGlobal,
  kImportGetHGlobalFromStream,
  kImportGdiplusStartup,
  kImportGdipCreateBitmapFromScan0,
  kImportGdipGetImageGraphicsContext,
  kImportGdipDeleteGraphics,
  kImportGdipCreateSolidFill,
  kImportGdipGetSolidFillColor,
  kImportGdipSetSolidFillColor,
  kImportGdipDeleteBrush,
  kImportGdipFillRectangle,
  kImportGdipCreateEffect,
  kImportGdipSetEffectParameters,
  kImportGdipGetEffectParameterSize,
  kImportGdipGetEffectParameters,
  kImportGdipDeleteEffect,
  kImportGdipBitmapApplyEffect,
  kImportGdipGetImageEncodersSize,
  kImportGdipGetImageEncoders,
  kImportGdipSaveImageToStream,
  kImportGdipLoadImageFromStream,
  kImportGdipGetImageDimension,
  kImportGdipGetImageRawFormat,
  kImportGdipDrawImageRect,
  kImportGdipDisposeImage,
  kImportGdipAlloc,
  kImportGdipFree,
  kImportGdipBitmapGetPixel,
  kImportGdipCreateRegionRect,
  kImportGdipDeleteRegion,
  // The kernel stand-in's own one-pass conversions between UTF-8 and the local code page: what
  // the two platform calls above give, without the UTF-16 between.
  kImportUtf8ToLocal,
  kImportLocalToUtf8,
  kImportCount,
};

extern const char* const kImportFiles[kImportCount];
extern const char* const kImportFunctions[kImportCount];

inline constexpr const char* kKernelLibrary = "libffkernel.so";
inline constexpr const char* kInternetLibrary = "libffinet.so";
inline constexpr const char* kAutomationLibrary = "libffautomation.so";
inline constexpr const char* kRasterLibrary = "libffraster.so";
inline constexpr const char* kShellLibrary = "libffshell.so";

}  // namespace rt
