#include "runtime/imports.h"

namespace rt {

const char* const kImportFiles[kImportCount] = {
    kKernelLibrary,  // MultiByteToWideChar
    kKernelLibrary,  // WideCharToMultiByte
};

const char* const kImportFunctions[kImportCount] = {
    "MultiByteToWideChar",
    "WideCharToMultiByte",
};

}  // namespace rt
