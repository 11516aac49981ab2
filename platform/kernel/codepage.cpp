#include "platform/kernel/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

const char* iconv_name(uint32_t code_page) {
  switch (code_page) {
    case kernel::kCodePageLocal:
    case kernel::kCodePageGbk: return "CP936";
    case kernel::kCodePageUtf8: return "UTF-8";
    default: return nullptr;
  }
}

// Converts with iconv; an input sequence with no form in the target is replaced and skipped.
std::string convert(const char* from, const char* to, const char* in, size_t in_len,
                    size_t skip_unit, std::string_view replacement) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(in_len * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t src_left = in_len;
  char* dst = out.data();
  size_t dst_left = out.size();
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      const size_t used = out.size() - dst_left;
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL: replace one unit and go on.
    const size_t skip = std::min(skip_unit, src_left);
    src += skip;
    src_left -= skip;
    if (dst_left < replacement.size()) {
      const size_t used = out.size() - dst_left;
      out.resize(out.size() * 2 + replacement.size());
      dst = out.data() + used;
      dst_left = out.size() - used;
    }
    std::memcpy(dst, replacement.data(), replacement.size());
    dst += replacement.size();
    dst_left -= replacement.size();
  }
  out.resize(out.size() - dst_left);
  iconv_close(cd);
  return out;
}

std::u16string decode(uint32_t code_page, std::string_view bytes) {
  const char* name = iconv_name(code_page);
  if (!name) return {};
  static const char16_t kReplacement[] = u"\uFFFD";
  const std::string raw = convert(name, "UTF-16LE", bytes.data(), bytes.size(), 1,
                                  std::string_view(reinterpret_cast<const char*>(kReplacement), 2));
  return std::u16string(reinterpret_cast<const char16_t*>(raw.data()), raw.size() / 2);
}

std::string encode(uint32_t code_page, std::u16string_view units, std::string_view replacement) {
  const char* name = iconv_name(code_page);
  if (!name) return {};
  return convert("UTF-16LE", name, reinterpret_cast<const char*>(units.data()), units.size() * 2,
                 2, replacement);
}

}  // namespace

namespace kernel {

std::u16string local_to_utf16(std::string_view text) { return decode(kCodePageLocal, text); }
std::string utf16_to_local(std::u16string_view text) { return encode(kCodePageLocal, text, "?"); }

}  // namespace kernel

int MultiByteToWideChar(uint32_t code_page, uint32_t /*flags*/, const char* bytes, int byte_count,
                        char16_t* units, int unit_capacity) {
  if (!bytes || byte_count == 0 || byte_count < -1 || unit_capacity < 0) return 0;
  if (!iconv_name(code_page)) return 0;
  const size_t length = byte_count == -1 ? std::strlen(bytes) + 1 : static_cast<size_t>(byte_count);
  const std::u16string decoded = decode(code_page, std::string_view(bytes, length));
  if (decoded.empty()) return 0;
  const auto needed = static_cast<int>(decoded.size());
  if (unit_capacity == 0) return needed;
  if (!units || needed > unit_capacity) return 0;
  std::memcpy(units, decoded.data(), decoded.size() * sizeof(char16_t));
  return needed;
}

int WideCharToMultiByte(uint32_t code_page, uint32_t /*flags*/, const char16_t* units,
                        int unit_count, char* bytes, int byte_capacity, const char* default_char,
                        int* used_default) {
  if (!units || unit_count == 0 || unit_count < -1 || byte_capacity < 0) return 0;
  if (!iconv_name(code_page)) return 0;
  size_t length = 0;
  if (unit_count == -1) {
    while (units[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(unit_count);
  }
  const std::string replacement = default_char && *default_char ? default_char : "?";
  const std::string encoded = encode(code_page, std::u16string_view(units, length), replacement);
  if (used_default) *used_default = 0;
  if (encoded.empty()) return 0;
  const auto needed = static_cast<int>(encoded.size());
  if (byte_capacity == 0) return needed;
  if (!bytes || needed > byte_capacity) return 0;
  std::memcpy(bytes, encoded.data(), encoded.size());
  return needed;
}
