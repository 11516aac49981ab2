// Plain reference coders for the fuzz harnesses: UTF-8, code page 936 and GB18030 decoded one
// byte decision at a time (one U+FFFD per maximal subpart of broken input, iconv for what each
// whole code means), and UTF-16 written in code page 936 and UTF-8. Slow on purpose: they say
// what the kernel's table-driven coders must answer.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fuzz::reference {

inline constexpr char16_t kReplacement = 0xFFFD;

// --- What iconv says one whole code means ---

class Converter {
 public:
  explicit Converter(const char* from) : cd_(iconv_open("UTF-32LE", from)) {}
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  std::optional<uint32_t> operator()(std::string_view code) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string in(code);
    char out[8];
    char* src = in.data();
    size_t src_left = in.size();
    char* dst = out;
    size_t dst_left = sizeof out;
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) || src_left != 0 ||
        dst_left != 4)
      return std::nullopt;
    uint32_t code_point;
    std::memcpy(&code_point, out, 4);
    return code_point;
  }

 private:
  iconv_t cd_;
};

inline std::optional<uint32_t> iconv_one(const char* from, std::string_view code) {
  static Converter gbk("CP936");
  static Converter gb18030("GB18030");
  return std::string_view(from) == "CP936" ? gbk(code) : gb18030(code);
}

inline std::optional<uint32_t> meaning(const char* charset, std::string_view code) {
  static std::unordered_map<std::string, std::optional<uint32_t>> cache;
  const std::string key = std::string(charset) + ':' + std::string(code);
  const auto found = cache.find(key);
  if (found != cache.end())
    return found->second;
  return cache[key] = iconv_one(charset, code);
}

// Each UTF-16 unit's code page 936 bytes; empty where it has none.
inline const std::vector<std::string>& gbk_codes() {
  static const std::vector<std::string> codes = [] {
    std::vector<std::string> table(0x10000);
    iconv_t cd = iconv_open("CP936", "UTF-16LE");
    for (uint32_t unit = 1; unit < 0x10000; ++unit) {
      if (unit >= 0xD800 && unit <= 0xDFFF)
        continue;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
      char out[8];
      char* src = in;
      size_t src_left = 2;
      char* dst = out;
      size_t dst_left = sizeof out;
      if (iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1))
        table[unit].assign(out, sizeof out - dst_left);
    }
    iconv_close(cd);
    return table;
  }();
  return codes;
}

// --- Reference decoders: plain, one byte decision at a time ---

struct Decoded {
  std::u16string units;
  bool broken = false;
};

inline void put(std::u16string& out, uint32_t code_point) {
  if (code_point >= 0x10000) {
    out += static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
  } else {
    out += static_cast<char16_t>(code_point);
  }
}

// Unicode's table 3-7; a sequence that breaks off costs one U+FFFD for the bytes taken so far.
inline Decoded reference_utf8(std::string_view in) {
  Decoded d;
  size_t i = 0;
  while (i < in.size()) {
    const auto b = static_cast<uint8_t>(in[i]);
    if (b < 0x80) {
      put(d.units, b);
      ++i;
      continue;
    }
    size_t trails = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      trails = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      trails = 2;
      low = b == 0xE0 ? 0xA0 : 0x80;
      high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
      trails = 3;
      low = b == 0xF0 ? 0x90 : 0x80;
      high = b == 0xF4 ? 0x8F : 0xBF;
    }
    uint32_t code_point = b & (trails == 1 ? 0x1Fu : trails == 2 ? 0x0Fu : 0x07u);
    size_t k = 1;
    for (; trails > 0 && k <= trails && i + k < in.size(); ++k) {
      const auto c = static_cast<uint8_t>(in[i + k]);
      if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
        break;
      code_point = code_point << 6 | (c & 0x3Fu);
    }
    if (trails == 0 || k <= trails) {
      d.units += kReplacement;
      d.broken = true;
      i += k;
      continue;
    }
    put(d.units, code_point);
    i += trails + 1;
  }
  return d;
}

inline bool in_range(uint8_t b, uint8_t low, uint8_t high) {
  return b >= low && b <= high;
}
inline bool gbk_trail(uint8_t b) {
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

inline Decoded reference_gbk(std::string_view in) {
  Decoded d;
  for (size_t i = 0; i < in.size();) {
    const auto b = static_cast<uint8_t>(in[i]);
    size_t length = 1;
    if (in_range(b, 0x81, 0xFE) && i + 1 < in.size() && gbk_trail(static_cast<uint8_t>(in[i + 1])))
      length = 2;
    const std::optional<uint32_t> code_point =
        b < 0x80 ? std::optional<uint32_t>(b) : meaning("CP936", in.substr(i, length));
    d.units += code_point ? static_cast<char16_t>(*code_point) : kReplacement;
    d.broken |= !code_point;
    i += length;
  }
  return d;
}

// The WHATWG gb18030 decoder's shape: at the end one U+FFFD for the code begun; a byte that
// cannot go on costs the lead byte alone.
inline Decoded reference_gb18030(std::string_view in) {
  Decoded d;
  const auto at = [&](size_t i) { return static_cast<uint8_t>(in[i]); };
  const auto bad = [&](size_t& i, size_t length) {
    d.units += kReplacement;
    d.broken = true;
    i += length;
  };
  for (size_t i = 0; i < in.size();) {
    const uint8_t b = at(i);
    if (b < 0x80) {
      put(d.units, b);
      ++i;
    } else if (!in_range(b, 0x81, 0xFE) || i + 1 == in.size()) {
      bad(i, 1);
    } else if (in_range(at(i + 1), 0x30, 0x39)) {
      if (i + 2 == in.size()) {
        bad(i, 2);
      } else if (!in_range(at(i + 2), 0x81, 0xFE)) {
        bad(i, 1);
      } else if (i + 3 == in.size()) {
        bad(i, 3);
      } else if (!in_range(at(i + 3), 0x30, 0x39)) {
        bad(i, 1);
      } else {
        const std::optional<uint32_t> code_point = meaning("GB18030", in.substr(i, 4));
        if (!code_point) {
          bad(i, 4);
        } else {
          put(d.units, *code_point);
          i += 4;
        }
      }
    } else if (gbk_trail(at(i + 1))) {
      const std::optional<uint32_t> code_point = meaning("GB18030", in.substr(i, 2));
      if (!code_point) {
        bad(i, 2);
      } else {
        put(d.units, *code_point);
        i += 2;
      }
    } else {
      bad(i, 1);
    }
  }
  return d;
}

// --- Reference encoders ---

inline std::string reference_to_gbk(std::u16string_view units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      out += '?';  // one character beyond the code page
      ++i;
    } else if (u == 0) {
      out += '\0';
    } else {
      const std::string& code = gbk_codes()[u];
      out += code.empty() ? "?" : code;
    }
  }
  return out;
}

inline std::string reference_to_utf8(std::u16string_view units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace fuzz::reference
