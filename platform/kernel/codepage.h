// Code-page conversion between code page 936 (the local code page), UTF-8 and UTF-16.
//
// The exported functions keep the platform's names and contracts, since the program reaches
// them by name through its dynamic-library command table. The C++ helpers serve the windowing
// layer, which hands texts to Qt as UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#define FF_KERNEL_API extern "C" __attribute__((visibility("default")))

namespace kernel {

inline constexpr uint32_t kCodePageLocal = 0;  // the system ANSI code page: 936 here
inline constexpr uint32_t kCodePageGbk = 936;
inline constexpr uint32_t kCodePageUtf8 = 65001;

__attribute__((visibility("default"))) std::u16string local_to_utf16(std::string_view text);
__attribute__((visibility("default"))) std::string utf16_to_local(std::u16string_view text);

}  // namespace kernel

// Decodes bytes of `code_page` into UTF-16 units. byte_count -1 reads up to and including the
// terminator. With unit_capacity 0 answers the units needed; otherwise writes and answers the
// units written, or 0 when they do not fit or the code page is unknown.
FF_KERNEL_API int MultiByteToWideChar(uint32_t code_page, uint32_t flags, const char* bytes,
                                      int byte_count, char16_t* units, int unit_capacity);

// Encodes UTF-16 units into `code_page`. unit_count -1 reads up to and including the zero unit.
// With byte_capacity 0 answers the bytes needed; otherwise writes and answers the bytes written,
// or 0 when they do not fit. Units with no form in the code page become default_char ("?").
FF_KERNEL_API int WideCharToMultiByte(uint32_t code_page, uint32_t flags, const char16_t* units,
                                      int unit_count, char* bytes, int byte_capacity,
                                      const char* default_char, int* used_default);
