#include "runtime/imports.h"

namespace rt {

const char* const kImportFiles[kImportCount] = {
    kKernelLibrary,      // MultiByteToWideChar
    kKernelLibrary,      // WideCharToMultiByte
    kInternetLibrary,    // InternetOpenA
    kInternetLibrary,    // InternetConnectA
    kInternetLibrary,    // HttpOpenRequestA
    kInternetLibrary,    // HttpSendRequestA (text body)
    kInternetLibrary,    // HttpSendRequestA (byte-set body)
    kInternetLibrary,    // InternetReadFile
    kInternetLibrary,    // HttpQueryInfoA
    kInternetLibrary,    // InternetCloseHandle
    kAutomationLibrary,  // CoInitialize
    kAutomationLibrary,  // CoUninitialize
    kShellLibrary,       // ShellExecuteA
    kShellLibrary,       // FindWindowExA
    kKernelLibrary,      // GlobalAlloc
    kKernelLibrary,      // GlobalLock
    kKernelLibrary,      // GlobalUnlock
    kKernelLibrary,      // GlobalSize
    kKernelLibrary,      // GlobalFree
    kKernelLibrary,      // CreateStreamOnHGlobal
    kKernelLibrary,      // GetHGlobalFromStream
    kRasterLibrary,      // GdiplusStartup
    kRasterLibrary,      // GdipCreateBitmapFromScan0
    kRasterLibrary,      // GdipGetImageGraphicsContext
    kRasterLibrary,      // GdipDeleteGraphics
    kRasterLibrary,      // GdipCreateSolidFill
    kRasterLibrary,      // GdipGetSolidFillColor
    kRasterLibrary,      // GdipSetSolidFillColor
    kRasterLibrary,      // GdipDeleteBrush
    kRasterLibrary,      // GdipFillRectangle
    kRasterLibrary,      // GdipCreateEffect
    kRasterLibrary,      // GdipSetEffectParameters
    kRasterLibrary,      // GdipGetEffectParameterSize
    kRasterLibrary,      // GdipGetEffectParameters
    kRasterLibrary,      // GdipDeleteEffect
    kRasterLibrary,      // GdipBitmapApplyEffect
    kRasterLibrary,      // GdipGetImageEncodersSize
    kRasterLibrary,      // GdipGetImageEncoders
    kRasterLibrary,      // GdipSaveImageToStream
    kRasterLibrary,      // GdipLoadImageFromStream
    kRasterLibrary,      // GdipGetImageDimension
    kRasterLibrary,      // GdipGetImageRawFormat
    kRasterLibrary,      // GdipDrawImageRect
    kRasterLibrary,      // GdipDisposeImage
    kRasterLibrary,      // GdipAlloc
    kRasterLibrary,      // GdipFree
    kRasterLibrary,      // GdipBitmapGetPixel
    kRasterLibrary,      // GdipCreateRegionRect
    kRasterLibrary,      // GdipDeleteRegion
    kKernelLibrary,      // ff_utf8_to_local
    kKernelLibrary,      // ff_local_to_utf8
};

const char* const kImportFunctions[kImportCount] = {
    "MultiByteToWideChar",
    "WideCharToMultiByte",
    "InternetOpenA",
    "InternetConnectA",
    "HttpOpenRequestA",
    "HttpSendRequestA",
    "HttpSendRequestA",
    "InternetReadFile",
    "HttpQueryInfoA",
    "InternetCloseHandle",
    "CoInitialize",
    "CoUninitialize",
    "ShellExecuteA",
    "FindWindowExA",
    "GlobalAlloc",
    "GlobalLock",
    "GlobalUnlock",
    "GlobalSize",
    "GlobalFree",
    "CreateStreamOnHGlobal",
    "GetHGlobalFromStream",
    "GdiplusStartup",
    "GdipCreateBitmapFromScan0",
    "GdipGetImageGraphicsContext",
    "GdipDeleteGraphics",
    "GdipCreateSolidFill",
    "GdipGetSolidFillColor",
    "GdipSetSolidFillColor",
    "GdipDeleteBrush",
    "GdipFillRectangle",
    "GdipCreateEffect",
    "GdipSetEffectParameters",
    "GdipGetEffectParameterSize",
    "GdipGetEffectParameters",
    "GdipDeleteEffect",
    "GdipBitmapApplyEffect",
    "GdipGetImageEncodersSize",
    "GdipGetImageEncoders",
    "GdipSaveImageToStream",
    "GdipLoadImageFromStream",
    "GdipGetImageDimension",
    "GdipGetImageRawFormat",
    "GdipDrawImageRect",
    "GdipDisposeImage",
    "GdipAlloc",
    "GdipFree",
    "GdipBitmapGetPixel",
    "GdipCreateRegionRect",
    "GdipDeleteRegion",
    "ff_utf8_to_local",
    "ff_local_to_utf8",
};

}  // namespace rt
