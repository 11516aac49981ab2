// The one bounds-checked little-endian reader for every binary format the program reads: window
// templates, unit property data, the skin format and the picture headers.
//
// Two ways in, both never reading outside their span:
// - ByteReader walks forward. A read that does not fit answers 0 (or an empty span), and the
//   reader stays failed from then on, so a parser may read a whole record and check ok() once.
// - le16_at / le32_at read at an offset, for formats that jump (picture headers); they answer
//   nullopt when the bytes are not there.
// Header-only and free of exceptions, so the skin engine's plain library can use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>

namespace base {

using Bytes = std::span<const uint8_t>;

// Whether n bytes start at offset inside bytes, without overflow.
inline bool fits(Bytes bytes, size_t offset, size_t n) {
  return offset <= bytes.size() && n <= bytes.size() - offset;
}

// Unchecked loads for callers that checked fits() for the whole record.
inline uint16_t load_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t load_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline std::optional<uint16_t> le16_at(Bytes bytes, size_t offset) {
  if (!fits(bytes, offset, 2))
    return std::nullopt;
  return load_le16(bytes.data() + offset);
}
inline std::optional<uint32_t> le32_at(Bytes bytes, size_t offset) {
  if (!fits(bytes, offset, 4))
    return std::nullopt;
  return load_le32(bytes.data() + offset);
}

class ByteReader {
 public:
  explicit ByteReader(Bytes data) : data_(data) {}

  bool ok() const { return ok_; }
  size_t position() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }
  bool at_end() const { return pos_ == data_.size(); }
  // Marks the data bad (a value read whole but out of its range).
  void fail() { ok_ = false; }

  uint8_t u8() { return take(1) ? data_[pos_ - 1] : 0; }
  uint16_t u16() { return take(2) ? load_le16(data_.data() + pos_ - 2) : 0; }
  uint32_t u32() { return take(4) ? load_le32(data_.data() + pos_ - 4) : 0; }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  Bytes bytes(size_t n) { return take(n) ? data_.subspan(pos_ - n, n) : Bytes{}; }
  bool skip(size_t n) { return take(n); }

  // An int32 count of items of at least item_size bytes each: negative, above cap, or more
  // than the remaining bytes can hold fails before the caller allocates anything for it.
  uint32_t count(size_t item_size, size_t cap = std::numeric_limits<int32_t>::max()) {
    const int32_t n = i32();
    if (!ok_ || n < 0 || static_cast<size_t>(n) > cap ||
        (item_size != 0 && static_cast<size_t>(n) > remaining() / item_size)) {
      ok_ = false;
      return 0;
    }
    return static_cast<uint32_t>(n);
  }

  // An int32 length, then that many bytes. A length of 0 or less reads as empty.
  Bytes prefixed() {
    const int32_t n = i32();
    if (n <= 0)
      return {};
    return bytes(static_cast<size_t>(n));
  }

  // An int32 length, then that many bytes; a negative length or one above cap fails.
  Bytes sized(size_t cap) {
    const int32_t n = i32();
    if (!ok_ || n < 0 || static_cast<size_t>(n) > cap) {
      ok_ = false;
      return {};
    }
    return bytes(static_cast<size_t>(n));
  }

  // Bytes up to a NUL, which is consumed; a text without one fails.
  std::string c_string() {
    if (!ok_)
      return {};
    const auto* start = data_.data() + pos_;
    const void* zero = remaining() == 0 ? nullptr : std::memchr(start, 0, remaining());
    if (!zero) {
      ok_ = false;
      return {};
    }
    const auto n = static_cast<size_t>(static_cast<const uint8_t*>(zero) - start);
    pos_ += n + 1;
    return std::string(reinterpret_cast<const char*>(start), n);
  }

 private:
  bool take(size_t n) {
    if (!ok_ || n > remaining()) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }

  Bytes data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace base
