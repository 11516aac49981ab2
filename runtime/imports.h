// The program's dynamic-library command table: which library function each entry names.
//
// The platform's function names are kept; the libraries are this program's stand-ins, built
// next to the executable. A port to another platform changes only the file names here.
#pragma once

#include <cstdint>

#include "runtime/dll_commands.h"

namespace rt {

enum Import : int32_t {
  kImportMultiByteToWideChar,
  kImportWideCharToMultiByte,
  kImportCount,
};

extern const char* const kImportFiles[kImportCount];
extern const char* const kImportFunctions[kImportCount];

inline constexpr const char* kKernelLibrary = "libffkernel.so";

}  // namespace rt
