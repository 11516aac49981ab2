// Code-page conversion between code page 936 (the local code page), UTF-8 and UTF-16.
//
// The exported functions keep the platform's names and contracts, since the program reaches
// them by name (or by ordinal) through its dynamic-library command table. The C++ helpers serve
// the windowing layer, which hands texts to Qt as UTF-16.
//
// Code page 936 is GBK as glibc's iconv "CP936" defines it, and code page 54936 GB18030 as its
// "GB18030" does (read only): the conversion tables are read from iconv when the library is
// built, and every conversion is table lookups. Input that does not decode becomes U+FFFD, one
// per maximal part of a sequence that breaks off; units with no form in code page 936 become the
// default character ("?"). Runs of ASCII move up to 64 bytes at a time, input up to its
// terminator is converted in the same single pass that finds the terminator, and nothing here
// allocates per call except the C++ helpers' results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#define FF_KERNEL_API extern "C" __attribute__((visibility("default")))

namespace kernel {

inline constexpr uint32_t kCodePageLocal = 0;  // the system ANSI code page: 936 here
inline constexpr uint32_t kCodePageGbk = 936;
inline constexpr uint32_t kCodePageGb18030 = 54936;
inline constexpr uint32_t kCodePageUtf8 = 65001;

// MultiByteToWideChar's flag that makes input which does not decode fail the call.
inline constexpr uint32_t kErrInvalidChars = 0x8;

// Invalid input becomes U+FFFD; units with no local form become "?".
__attribute__((visibility("default"))) std::u16string local_to_utf16(std::string_view text);
__attribute__((visibility("default"))) std::string utf16_to_local(std::u16string_view text);

// One row of the ordinal table, the same shape the runtime's library loader reads.
struct OrdinalEntry {
  uint32_t ordinal;
  void* address;
};

}  // namespace kernel

// Decodes bytes of `code_page` (0 or 936: GBK; 54936: GB18030; 65001: UTF-8) into UTF-16 units.
// byte_count -1 reads up to and including the terminator. With unit_capacity 0 answers the
// units needed and writes nothing; otherwise writes and answers the units written. Answers 0 for
// a null or empty input, an unknown code page or a buffer too small for the whole result; in
// that last case, as on the platform, the buffer may hold what fitted. With flags 0 input that
// does not decode becomes U+FFFD (see above); with kErrInvalidChars it answers 0 instead. Other
// flags are ignored.
FF_KERNEL_API int MultiByteToWideChar(uint32_t code_page, uint32_t flags, const char* bytes,
                                      int byte_count, char16_t* units, int unit_capacity);

// Encodes UTF-16 units into `code_page` (0 or 936, or 65001; not 54936). unit_count -1 reads up
// to and including the zero unit. `flags` is accepted and ignored.
// With byte_capacity 0 answers the bytes needed; otherwise writes and answers the bytes written.
// Answers 0 on the same failures as above, with the same partly filled buffer. In code page 936 a
// unit with no form, a lone surrogate and a surrogate pair each become one default character:
// the first character of default_char, or "?" when it is null or empty; *used_default (when
// given) tells whether that happened. UTF-8 writes a lone surrogate as U+FFFD and, as on the
// platform, refuses a default_char or used_default.
FF_KERNEL_API int WideCharToMultiByte(uint32_t code_page, uint32_t flags, const char16_t* units,
                                      int unit_count, char* bytes, int byte_capacity,
                                      const char* default_char, int* used_default);

// The program's own edges between UTF-8 and code page 936, in one pass with no UTF-16 between.
//
// ff_utf8_to_local writes the n bytes at `in`, read as UTF-8, in code page 936 to `out`, which
// must have room for n bytes: no character takes more bytes there than in UTF-8. It answers the
// bytes written: the bytes MultiByteToWideChar (65001, kErrInvalidChars) and then
// WideCharToMultiByte (936, flags 0, default "?") would give. For input that does not decode it
// answers -1, having written an unspecified part of `out`.
FF_KERNEL_API int64_t ff_utf8_to_local(const char* in, size_t n, char* out);

// ff_local_to_utf8 writes the n bytes at `in`, read in code page 936, in UTF-8 to `out`, which
// has room for `capacity` bytes: the bytes MultiByteToWideChar (936, flags 0) and then
// WideCharToMultiByte (65001) would give. It writes whole characters while they fit and answers
// the bytes written, with *read set to the input bytes they came from (n when all of it fitted)
// and *units to the UTF-16 units between. A call on the rest of the input, from in + *read, goes
// on exactly where this one stopped. -1 for a null `in`, or a null `out` with room, when n > 0.
// The room past the bytes written may have been written over.
FF_KERNEL_API int64_t ff_local_to_utf8(const char* in, size_t n, char* out, size_t capacity,
                                       size_t* read, size_t* units);

// The functions by ordinal: 1 MultiByteToWideChar, 2 WideCharToMultiByte; ended by a null
// address.
FF_KERNEL_API const kernel::OrdinalEntry ff_ordinal_table[];
