// Finding a fetched page's charset. Everything here is plain byte work on bounded input (the
// header block, and at most 1024 bytes of the body); it allocates only short attribute texts.
#include "web/page_text.h"

#include <algorithm>
#include <array>
#include <string>

namespace web {
namespace {

constexpr size_t kPrescanBytes = 1024;

uint8_t lower(uint8_t b) {
  return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 0x20) : b;
}
bool is_letter(uint8_t b) {
  return lower(b) >= 'a' && lower(b) <= 'z';
}
// ASCII whitespace as HTML has it.
bool is_space(uint8_t b) {
  return b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
}
// Whitespace inside a header value.
bool is_header_space(char c) {
  return c == ' ' || c == '\t';
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lower(static_cast<uint8_t>(x)) == lower(static_cast<uint8_t>(y));
         });
}

template <typename IsSpace>
std::string_view trimmed(std::string_view s, IsSpace is_blank) {
  while (!s.empty() && is_blank(static_cast<uint8_t>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && is_blank(static_cast<uint8_t>(s.back()))) s.remove_suffix(1);
  return s;
}

// --- The Content-Type header ---

// The first charset parameter of a Content-Type value ("text/html; charset=gbk"), as a MIME
// type's parameters are parsed: no whitespace around "=", a quoted value may hold "\" escapes
// and ends at its closing quote, an unquoted one at the next ";" less trailing whitespace.
std::string charset_parameter(std::string_view value) {
  size_t at = value.find(';');
  while (at < value.size()) {
    ++at;  // past the ';'
    while (at < value.size() && is_header_space(value[at])) ++at;
    const size_t name_end = std::min(value.find_first_of(";=", at), value.size());
    const std::string_view name = value.substr(at, name_end - at);
    at = name_end;
    if (at == value.size() || value[at] == ';')
      continue;
    ++at;  // past the '='
    std::string parameter;
    if (at < value.size() && value[at] == '"') {
      for (++at; at < value.size() && value[at] != '"'; ++at) {
        if (value[at] == '\\' && at + 1 < value.size())
          ++at;
        parameter += value[at];
      }
      at = std::min(value.find(';', at), value.size());
    } else {
      const size_t end = std::min(value.find(';', at), value.size());
      parameter = trimmed(value.substr(at, end - at), is_header_space);
      at = end;
    }
    if (equals_ignoring_case(name, "charset") && !parameter.empty())
      return parameter;
  }
  return {};
}

// The charset label of the last Content-Type header of the last response in the block.
std::string header_label(std::string_view headers) {
  std::string label;
  while (!headers.empty()) {
    const size_t end = std::min(headers.find('\n'), headers.size());
    std::string_view line = headers.substr(0, end);
    headers.remove_prefix(std::min(end + 1, headers.size()));
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {  // a redirect's headers go before the page's
      label.clear();
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
      continue;
    if (equals_ignoring_case(trimmed(line.substr(0, colon), is_header_space), "content-type"))
      label = charset_parameter(line.substr(colon + 1));
  }
  return label;
}

// --- The prescan of the body's head ---

// The label after "charset=" in a meta element's content attribute (already in lower case).
std::optional<std::string> label_in_content(std::string_view content) {
  size_t at = 0;
  for (;;) {
    const size_t word = content.find("charset", at);
    if (word == std::string_view::npos)
      return std::nullopt;
    at = word + 7;
    while (at < content.size() && is_space(static_cast<uint8_t>(content[at]))) ++at;
    if (at == content.size() || content[at] != '=')
      continue;  // look again from here
    ++at;
    while (at < content.size() && is_space(static_cast<uint8_t>(content[at]))) ++at;
    if (at == content.size())
      return std::nullopt;
    const char quote = content[at];
    if (quote == '"' || quote == '\'') {
      const size_t close = content.find(quote, at + 1);
      if (close == std::string_view::npos)
        return std::nullopt;
      return std::string(content.substr(at + 1, close - at - 1));
    }
    size_t end = at;
    while (end < content.size() && !is_space(static_cast<uint8_t>(content[end])) &&
           content[end] != ';')
      ++end;
    return std::string(content.substr(at, end - at));
  }
}

// The WHATWG "prescan a byte stream to determine its encoding", over the bytes given. Running
// out of bytes anywhere inside a construct ends the prescan without a result.
class Prescan {
 public:
  explicit Prescan(std::span<const uint8_t> head) : bytes_(head) {}

  std::optional<PageEncoding> run() {
    while (at_ < bytes_.size()) {
      // Each step leaves at_ on the last byte of what it read, or answers false when the bytes
      // ran out first.
      bool read = true;
      if (looking_at("<!--")) {
        read = skip_comment();
      } else if (looking_at_meta()) {
        at_ += 5;
        std::optional<PageEncoding> found;
        read = read_meta(found);
        if (found)
          return found;
      } else if (looking_at_tag()) {
        read = skip_tag();
      } else if (looking_at("<!") || looking_at("</") || looking_at("<?")) {
        read = skip_to_tag_end();
      }
      if (!read)
        return std::nullopt;
      ++at_;
    }
    return std::nullopt;
  }

 private:
  enum class Got { kAttribute, kTagEnd, kOutOfBytes };
  struct Attribute {
    std::string name;
    std::string value;
  };

  bool looking_at(std::string_view s) const {
    if (bytes_.size() - at_ < s.size())
      return false;
    for (size_t i = 0; i < s.size(); ++i) {
      if (lower(bytes_[at_ + i]) != static_cast<uint8_t>(s[i]))
        return false;
    }
    return true;
  }
  bool looking_at_meta() const {
    return looking_at("<meta") && at_ + 5 < bytes_.size() &&
           (is_space(bytes_[at_ + 5]) || bytes_[at_ + 5] == '/');
  }
  // "<" or "</", then a letter.
  bool looking_at_tag() const {
    if (bytes_.size() - at_ < 2 || bytes_[at_] != '<')
      return false;
    const size_t name = bytes_[at_ + 1] == '/' ? at_ + 2 : at_ + 1;
    return name < bytes_.size() && is_letter(bytes_[name]);
  }

  bool skip_to_tag_end() {
    const auto rest = bytes_.subspan(at_ + 1);
    at_ += 1 + static_cast<size_t>(std::find(rest.begin(), rest.end(), '>') - rest.begin());
    return at_ < bytes_.size();
  }
  // To the '>' of the first "-->" after "<!" (its dashes may be those of "<!--").
  bool skip_comment() {
    for (size_t i = at_ + 2; bytes_.size() - i >= 3; ++i) {
      if (bytes_[i] == '-' && bytes_[i + 1] == '-' && bytes_[i + 2] == '>') {
        at_ = i + 2;
        return true;
      }
    }
    return false;
  }
  // Another tag: its name, then its attributes, then its '>'.
  bool skip_tag() {
    while (at_ < bytes_.size() && !is_space(bytes_[at_]) && bytes_[at_] != '>') ++at_;
    Attribute attribute;
    Got got = Got::kAttribute;
    while (got == Got::kAttribute) got = get_attribute(attribute);
    return got == Got::kTagEnd;
  }

  // The meta element's attributes: a charset attribute, or a content attribute with a charset
  // together with http-equiv="content-type". Only the first attribute of each name counts.
  bool read_meta(std::optional<PageEncoding>& found) {
    enum class Need { kNothing, kPragma, kNoPragma };
    bool seen_http_equiv = false;
    bool seen_content = false;
    bool seen_charset = false;
    bool got_pragma = false;
    Need need = Need::kNothing;
    // Set by the first charset attribute, or by a content attribute before it: a charset
    // attribute's unknown label still blocks a later content attribute.
    bool label_set = false;
    std::optional<PageEncoding> encoding;
    Attribute attribute;
    for (;;) {
      const Got got = get_attribute(attribute);
      if (got == Got::kOutOfBytes)
        return false;
      if (got == Got::kTagEnd)
        break;
      const std::string_view name = attribute.name;
      if (name == "http-equiv" && !seen_http_equiv) {
        seen_http_equiv = true;
        got_pragma = attribute.value == "content-type";
      } else if (name == "content" && !seen_content) {
        seen_content = true;
        const std::optional<std::string> label = label_in_content(attribute.value);
        // A content label the program does not read counts as none at all.
        const std::optional<PageEncoding> named = label ? encoding_of_label(*label) : std::nullopt;
        if (named && !label_set) {
          label_set = true;
          encoding = named;
          need = Need::kPragma;
        }
      } else if (name == "charset" && !seen_charset) {
        seen_charset = true;
        label_set = true;
        encoding = encoding_of_label(attribute.value);
        need = Need::kNoPragma;
      }
    }
    if (need == Need::kNoPragma || (need == Need::kPragma && got_pragma))
      found = encoding;
    return true;
  }

  // One attribute (name and value in lower case), or the tag's end at a '>'.
  Got get_attribute(Attribute& attribute) {
    while (at_ < bytes_.size() && (is_space(bytes_[at_]) || bytes_[at_] == '/')) ++at_;
    if (at_ == bytes_.size())
      return Got::kOutOfBytes;
    if (bytes_[at_] == '>')
      return Got::kTagEnd;
    attribute.name.clear();
    attribute.value.clear();
    for (;;) {  // the name; a first '=' belongs to it
      if (at_ == bytes_.size())
        return Got::kOutOfBytes;
      const uint8_t b = bytes_[at_];
      if (b == '=' && !attribute.name.empty())
        break;
      if (is_space(b)) {
        while (at_ < bytes_.size() && is_space(bytes_[at_])) ++at_;
        if (at_ == bytes_.size())
          return Got::kOutOfBytes;
        if (bytes_[at_] != '=')
          return Got::kAttribute;  // no value
        break;
      }
      if (b == '/' || b == '>')
        return Got::kAttribute;
      attribute.name += static_cast<char>(lower(b));
      ++at_;
    }
    ++at_;  // past the '='
    while (at_ < bytes_.size() && is_space(bytes_[at_])) ++at_;
    if (at_ == bytes_.size())
      return Got::kOutOfBytes;
    const uint8_t first = bytes_[at_];
    if (first == '"' || first == '\'') {
      for (++at_; at_ < bytes_.size(); ++at_) {
        if (bytes_[at_] == first) {
          ++at_;
          return Got::kAttribute;
        }
        attribute.value += static_cast<char>(lower(bytes_[at_]));
      }
      return Got::kOutOfBytes;
    }
    if (first == '>')
      return Got::kAttribute;
    for (; at_ < bytes_.size(); ++at_) {
      if (is_space(bytes_[at_]) || bytes_[at_] == '>')
        return Got::kAttribute;
      attribute.value += static_cast<char>(lower(bytes_[at_]));
    }
    return Got::kOutOfBytes;
  }

  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace

std::optional<PageEncoding> encoding_of_label(std::string_view label) {
  struct Name {
    std::string_view label;
    PageEncoding encoding;
  };
  static constexpr Name kNames[] = {
      {"utf-8", PageEncoding::kUtf8},
      {"utf8", PageEncoding::kUtf8},
      {"unicode-1-1-utf-8", PageEncoding::kUtf8},
      {"unicode11utf8", PageEncoding::kUtf8},
      {"unicode20utf8", PageEncoding::kUtf8},
      {"x-unicode20utf8", PageEncoding::kUtf8},
      {"gbk", PageEncoding::kGbk},
      {"gb2312", PageEncoding::kGbk},
      {"gb_2312", PageEncoding::kGbk},
      {"gb_2312-80", PageEncoding::kGbk},
      {"x-gbk", PageEncoding::kGbk},
      {"chinese", PageEncoding::kGbk},
      {"csgb2312", PageEncoding::kGbk},
      {"csiso58gb231280", PageEncoding::kGbk},
      {"iso-ir-58", PageEncoding::kGbk},
      {"cp936", PageEncoding::kGbk},
      {"ms936", PageEncoding::kGbk},
      {"windows-936", PageEncoding::kGbk},
      {"gb18030", PageEncoding::kGb18030},
  };
  const std::string_view name = trimmed(label, is_space);
  for (const Name& n : kNames) {
    if (equals_ignoring_case(name, n.label))
      return n.encoding;
  }
  return std::nullopt;
}

DeclaredCharset declared_charset(std::span<const uint8_t> body, std::string_view response_headers) {
  constexpr std::array<uint8_t, 3> kUtf8Mark = {0xEF, 0xBB, 0xBF};
  if (body.size() >= kUtf8Mark.size() &&
      std::equal(kUtf8Mark.begin(), kUtf8Mark.end(), body.begin()))
    return {PageEncoding::kUtf8, CharsetSource::kByteOrderMark};
  const std::optional<PageEncoding> in_header = encoding_of_label(header_label(response_headers));
  if (in_header)
    return {*in_header, CharsetSource::kHeader};
  const std::optional<PageEncoding> in_meta =
      Prescan(body.first(std::min(body.size(), kPrescanBytes))).run();
  if (in_meta)
    return {*in_meta, CharsetSource::kMeta};
  return {};
}

}  // namespace web
