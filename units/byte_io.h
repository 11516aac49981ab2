// Little-endian reading and writing of the unit data formats (property data, columns, rows).
//
// The reader never reads past its span: every read answers false when the bytes are not there,
// and a length field is checked against both its cap and the bytes that remain before anything
// is taken. Internal to the unit data code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace units::io {

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> in) : in_(in) {}

  size_t remaining() const { return in_.size() - pos_; }
  bool at_end() const { return pos_ == in_.size(); }

  bool i32(int32_t& out) {
    if (remaining() < 4)
      return false;
    const uint8_t* p = in_.data() + pos_;
    out = static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                               uint32_t{p[3]} << 24);
    pos_ += 4;
    return true;
  }

  bool raw(size_t n, std::span<const uint8_t>& out) {
    if (remaining() < n)
      return false;
    out = in_.subspan(pos_, n);
    pos_ += n;
    return true;
  }

  // An int32 length, then that many bytes; a negative length or one above `cap` is bad data.
  bool sized(std::span<const uint8_t>& out, size_t cap) {
    int32_t n = 0;
    if (!i32(n) || n < 0 || static_cast<size_t>(n) > cap)
      return false;
    return raw(static_cast<size_t>(n), out);
  }

  // A count of records that each take at least `min_record` bytes: a count the remaining bytes
  // cannot hold is refused before anything is allocated for it.
  bool count(int32_t& out, size_t cap, size_t min_record) {
    if (!i32(out) || out < 0 || static_cast<size_t>(out) > cap)
      return false;
    return min_record == 0 || static_cast<size_t>(out) <= remaining() / min_record;
  }

 private:
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
};

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}

  void i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                          static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
    out_.insert(out_.end(), b, b + 4);
  }
  void raw(std::span<const uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  void sized(std::span<const uint8_t> bytes) {
    i32(static_cast<int32_t>(bytes.size()));
    raw(bytes);
  }
  void sized(std::string_view text) {
    sized(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }

 private:
  std::vector<uint8_t>& out_;
};

inline std::string_view as_text(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline bool has_nul(std::span<const uint8_t> bytes) {
  return !bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr;
}

}  // namespace units::io
