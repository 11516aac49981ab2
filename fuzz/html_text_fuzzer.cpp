// libFuzzer harness for the shown text of markup (web/html_text.cpp). What a cell shows is never
// longer than the markup it came from, carries no white space at either end, and is what a
// plain reading of character references gives: "&" up to a ";" within the next 11 bytes, a
// name among amp, lt, gt, quot, apos and nbsp, or "#" with decimal or "#x" with hex digits
// naming a character (not 0, not a surrogate, at most U+10FFFF), written in code page 936 ("?"
// where it has no form); anything else leaves the "&" as it is.
//
// Input: the markup text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_coders.h"
#include "web/html_text.h"

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view trimmed(std::string_view t) {
  while (!t.empty() && is_space(t.front())) t.remove_prefix(1);
  while (!t.empty() && is_space(t.back())) t.remove_suffix(1);
  return t;
}

int digit_value(char c, int base) {
  int v = 99;
  if (c >= '0' && c <= '9')
    v = c - '0';
  if (c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  return v < base ? v : -1;
}

std::optional<uint32_t> number(std::string_view digits, int base) {
  if (digits.empty())
    return std::nullopt;
  uint64_t value = 0;
  for (const char c : digits) {
    const int d = digit_value(c, base);
    if (d < 0)
      return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (value > 0x10FFFF)
      return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::string character(uint32_t code_point) {
  std::u16string units;
  fuzz::reference::put(units, code_point);
  return code_point < 0x80 ? std::string(1, static_cast<char>(code_point))
                           : fuzz::reference::reference_to_gbk(units);
}

std::optional<std::string> reference_of(std::string_view body) {
  std::optional<uint32_t> code_point;
  if (body.size() > 2 && body[0] == '#' && (body[1] == 'x' || body[1] == 'X')) {
    code_point = number(body.substr(2), 16);
  } else if (body.size() > 1 && body[0] == '#') {
    code_point = number(body.substr(1), 10);
  } else {
    const std::string_view names[][2] = {{"amp", "&"},   {"lt", "<"},   {"gt", ">"},
                                         {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
    for (const auto& n : names) {
      if (body == n[0])
        return std::string(n[1]);
    }
    return std::nullopt;
  }
  if (!code_point || *code_point == 0 || (*code_point >= 0xD800 && *code_point <= 0xDFFF))
    return std::nullopt;
  return character(*code_point);
}

std::string decoded(std::string_view t) {
  std::string out;
  for (size_t i = 0; i < t.size();) {
    if (t[i] != '&') {
      out += t[i++];
      continue;
    }
    const size_t semicolon = t.substr(i, 12).find(';');
    const std::optional<std::string> r = semicolon == std::string_view::npos
                                             ? std::nullopt
                                             : reference_of(t.substr(i + 1, semicolon - 1));
    if (!r) {
      out += t[i++];
      continue;
    }
    out += *r;
    i += semicolon + 1;
  }
  return out;
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string markup(reinterpret_cast<const char*>(data), size);
  const std::string decoded_text = web::decode_html_references(markup);
  FF_CHECK(decoded_text == decoded(markup));
  FF_CHECK(decoded_text.size() <= markup.size());
  const std::string shown = web::shown_text(markup);
  FF_CHECK(shown.size() <= markup.size());
  FF_CHECK(shown == trimmed(decoded(trimmed(markup))));
  FF_CHECK(web::trim_html_space(markup) == trimmed(markup));
  return 0;
}
