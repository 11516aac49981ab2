// Text between markers and code-page conversion: typed calls of the commands, and the argument
// readers they share.
//
// The program's texts are code page 936; fetched pages are UTF-8 and Qt speaks UTF-16. The
// conversions reach MultiByteToWideChar and WideCharToMultiByte through the dynamic-library
// command table and keep their sizing rules: the UTF-16 size is always measured in the ANSI
// code page (0), and the text buffer is twice what the ANSI code page needs. Input that does
// not fit those sizes is not reported: text_to_utf16 then gives zero bytes (an empty text once
// converted back) and utf16_to_text a text of spaces.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/command.h"
#include "web/builtins.h"

namespace web {

// A text argument given as the text itself or as the caller's text variable (bit 29). Missing,
// null and non-text arguments read as "".
const char* text_argument(const rt::Args& args, int32_t index);
// A byte-set argument, by value or by variable likewise; empty when missing or not a byte set.
std::span<const uint8_t> bytes_argument(const rt::Args& args, int32_t index);

// The text after the first `left` at or after `start` and before the next `right`; empty when
// either is missing. "#引号" in a marker stands for a double quote.
inline rt::Text text_between(const char* text, const char* left, const char* right,
                             std::optional<int32_t> start = {},
                             std::optional<bool> case_insensitive = {}) {
  return rt::call_text(&cmd::text_between, text, left, right, start, case_insensitive);
}

// UTF-16LE units of `text` read in `code_page` (default 65001), terminator units included.
inline rt::Bytes text_to_utf16(const char* text, std::optional<int32_t> code_page = {}) {
  return rt::call_bytes(&cmd::text_to_utf16, text, code_page);
}

// The text of UTF-16LE units (up to the first zero unit) in `code_page` (default 0, ANSI).
inline rt::Text utf16_to_text(const uint8_t* byte_set, std::optional<int32_t> code_page = {}) {
  return rt::call_text(&cmd::utf16_to_text, rt::Cell::of_pointer(byte_set, rt::kBytes), code_page);
}
inline rt::Text utf16_to_text(const rt::Bytes& units, std::optional<int32_t> code_page = {}) {
  return utf16_to_text(units.get(), code_page);
}

// A UTF-8 text (a fetched page) in code page 936.
inline rt::Text utf8_to_local(const char* text) {
  return rt::call_text(&cmd::utf8_to_local, text);
}

// A code page 936 text in UTF-8 (a search word for a query address).
inline rt::Text local_to_utf8(const char* text) {
  return rt::call_text(&cmd::local_to_utf8, text);
}

// The two conversions at the program's UTF-8 edges as plain C++ (the commands utf8_to_local and
// local_to_utf8 run the same conversion): a view of a text in, the converted text out, with the
// same sizing rules and the same results byte for byte.
namespace code_pages {
std::string utf8_to_local(std::string_view text);
std::string local_to_utf8(std::string_view text);
}  // namespace code_pages

// The encodings the program reads fetched pages in.
enum class PageEncoding { kUtf8, kGbk, kGb18030 };

// A fetched page's body as code page 936 text, read up to its first zero byte (where a text
// ends):
// - kUtf8: what utf8_to_local makes of it, byte for byte, wherever that gives a text. Where its
//   sizing rule leaves nothing (input that does not decode may need more units than the ANSI
//   reading measured; well-formed UTF-8 never does), the bytes are read again sized by their own
//   reading, so that each bad sequence costs one "?" instead of the whole page.
// - kGbk: the bytes as they are: they are code page 936 text already.
// - kGb18030: read in code page 54936; what code page 936 lacks, and input that does not decode,
//   become "?".
rt::Text page_bytes_to_local(std::span<const uint8_t> body, PageEncoding encoding);

}  // namespace web
