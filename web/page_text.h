// The text of a fetched page: its body read in the charset the response declares.
//
// The charset is looked for as a browser looks for it, in a small bounded form:
// 1. a UTF-8 byte order mark at the start of the body;
// 2. the charset parameter of the Content-Type header (the last such header of the last
//    response in the block; header name and parameter name in any case, the value quoted or
//    not, as a MIME type is parsed);
// 3. a <meta charset="..."> or <meta http-equiv="Content-Type" content="...; charset=..."> in
//    the body's first 1024 bytes, found the way the WHATWG prescan finds it: comments, other
//    tags and their attributes are stepped over, attributes come in any order and quoting, and
//    a tag that the 1024th byte cuts off counts for nothing.
// A label the program does not read is passed over (the header's for the meta, one meta's for
// the next). GBK and its aliases are code page 936, GB18030 is 54936; the rest, and no label at
// all, is UTF-8: the program's pages have always been read as UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "web/codepage.h"

namespace web {

// Where the charset came from; kNone when nothing declared one the program reads.
enum class CharsetSource { kNone, kByteOrderMark, kHeader, kMeta };

struct DeclaredCharset {
  PageEncoding encoding = PageEncoding::kUtf8;
  CharsetSource source = CharsetSource::kNone;
  bool operator==(const DeclaredCharset&) const = default;
};

// The encoding a charset label names (WHATWG labels of UTF-8, GBK and GB18030, plus cp936,
// ms936 and windows-936), in any case and with surrounding whitespace; none for any other.
std::optional<PageEncoding> encoding_of_label(std::string_view label);

// `response_headers` is the block a request returns: status lines and header lines, each
// ending in "\r\n" (a bare "\n" is taken as well).
DeclaredCharset declared_charset(std::span<const uint8_t> body, std::string_view response_headers);

// The page as code page 936 text (see page_bytes_to_local for each encoding). For a page read
// as UTF-8 this is utf8_to_local (to_text (body)) wherever that gives a text.
inline rt::Text page_text(std::span<const uint8_t> body, std::string_view response_headers) {
  return page_bytes_to_local(body, declared_charset(body, response_headers).encoding);
}

}  // namespace web
