#include "demo-site/text_tools.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace demo_site {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// iconv descriptors are not shared between threads; each conversion opens its own.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok())
      iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

size_t utf8_sequence_length(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80)
    return 1;
  size_t length = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0)
      low = 0xA0;
    if (lead == 0xED)
      high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0)
      low = 0x90;
    if (lead == 0xF4)
      high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - pos < length)
    return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high)
    return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(pos + i) < 0x80 || byte(pos + i) > 0xBF)
      return 0;
  }
  return length;
}

std::optional<std::string> utf8_to_gbk(std::string_view text) {
  const Converter converter("CP936", "UTF-8");
  if (!converter.ok())
    return std::nullopt;
  // GBK never takes more bytes than UTF-8 for the same character, nor "?" for what it lacks, so
  // the room made below is only a guard.
  std::string out(text.size() + 16, '\0');
  size_t used = 0;
  char* in = const_cast<char*>(text.data());  // iconv does not write through it
  size_t in_left = text.size();
  while (in_left > 0) {
    if (out.size() - used < 16)
      out.resize(out.size() * 2);
    char* to = out.data() + used;
    size_t to_left = out.size() - used;
    const size_t result = iconv(converter.get(), &in, &in_left, &to, &to_left);
    used = static_cast<size_t>(to - out.data());
    if (result != static_cast<size_t>(-1) || errno == E2BIG)
      continue;
    // EILSEQ or EINVAL: a character GBK lacks, or bytes that are not (whole) UTF-8. The
    // check at the top of the loop has not run since iconv may have filled the buffer.
    if (used == out.size())
      out.resize(out.size() * 2);
    const size_t length = utf8_sequence_length(std::string_view(in, in_left), 0);
    const size_t skip = length == 0 ? 1 : length;
    out[used++] = '?';
    in += skip;
    in_left -= skip;
  }
  out.resize(used);
  return out;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && text.size() - i >= 3) {
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<std::string_view> query_value(std::string_view target, std::string_view key) {
  const size_t question = target.find('?');
  if (question == std::string_view::npos)
    return std::nullopt;
  std::string_view query = target.substr(question + 1);
  const size_t fragment = query.find('#');
  if (fragment != std::string_view::npos)
    query = query.substr(0, fragment);
  while (true) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t equals = pair.find('=');
    const std::string_view name = pair.substr(0, equals);
    if (name == key) {
      if (equals == std::string_view::npos)
        return std::string_view{};
      return pair.substr(equals + 1);
    }
    if (amp == std::string_view::npos)
      return std::nullopt;
    query = query.substr(amp + 1);
  }
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  size_t i = 0;
  while (i < text.size()) {
    const size_t length = utf8_sequence_length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(text[i]);
        break;
    }
    ++i;
  }
  return out;
}

bool contains_folded(std::string_view haystack, std::string_view needle) {
  if (needle.empty())
    return true;
  if (needle.size() > haystack.size())
    return false;
  for (size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
    size_t k = 0;
    while (k < needle.size() && fold(haystack[start + k]) == fold(needle[k])) ++k;
    if (k == needle.size())
      return true;
  }
  return false;
}

}  // namespace demo_site
