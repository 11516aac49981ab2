#include "web/html_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "web/codepage.h"

namespace web {
namespace {

bool is_html_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The longest reference worth reading: "&#x10FFFF;" and the named ones fit.
constexpr size_t kLongestReference = 10;

std::string utf8_of(uint32_t code_point) {
  std::string out;
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

// The character a numeric reference's digits name, as code page 936 text; empty when they name
// no character.
std::string numeric_reference(std::string_view digits, int base) {
  if (digits.empty())
    return {};
  uint32_t code_point = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), code_point, base);
  if (error != std::errc() || end != digits.data() + digits.size())
    return {};
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point == 0 || surrogate || code_point > 0x10FFFF)
    return {};
  if (code_point < 0x80)
    return std::string(1, static_cast<char>(code_point));
  const std::string utf8 = utf8_of(code_point);
  return code_pages::utf8_to_local(utf8);
}

std::string named_reference(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    std::string_view text;
  } kNames[] = {{"amp", "&"},   {"lt", "<"},   {"gt", ">"},
                {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
  for (const auto& n : kNames) {
    if (name == n.name)
      return std::string(n.text);
  }
  return {};
}

}  // namespace

std::string_view trim_html_space(std::string_view text) {
  while (!text.empty() && is_html_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_html_space(text.back())) text.remove_suffix(1);
  return text;
}

std::string decode_html_references(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    // "&" is never the second byte of a double-byte character, so a plain search finds it.
    const size_t amp = text.find('&', i);
    if (amp == std::string_view::npos)
      break;
    out.append(text.substr(i, amp - i));
    const size_t semicolon = text.substr(amp, kLongestReference + 2).find(';');
    std::string replacement;
    if (semicolon != std::string_view::npos) {
      const std::string_view body = text.substr(amp + 1, semicolon - 1);
      if (body.size() > 2 && body[0] == '#' && (body[1] == 'x' || body[1] == 'X')) {
        replacement = numeric_reference(body.substr(2), 16);
      } else if (body.size() > 1 && body[0] == '#') {
        replacement = numeric_reference(body.substr(1), 10);
      } else {
        replacement = named_reference(body);
      }
    }
    if (replacement.empty()) {
      out += '&';
      i = amp + 1;
      continue;
    }
    out += replacement;
    i = amp + semicolon + 1;
  }
  out.append(text.substr(std::min(i, text.size())));
  return out;
}

std::string shown_text(std::string_view markup_text) {
  return std::string(trim_html_space(decode_html_references(trim_html_space(markup_text))));
}

}  // namespace web
