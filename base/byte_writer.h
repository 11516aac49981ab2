// The writing half of byte_reader.h: little-endian integers, length-prefixed and NUL-ended
// texts, appended to a vector the caller owns. Build steps and encoders use it; what it writes,
// ByteReader reads back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace base {

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

  void u32(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    out_.insert(out_.end(), b, b + 4);
  }
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void bytes(std::string_view text) {
    bytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  // An int32 length, then the bytes (what ByteReader::prefixed and sized read).
  void prefixed(std::span<const uint8_t> b) {
    i32(static_cast<int32_t>(b.size()));
    bytes(b);
  }
  void prefixed(std::string_view text) {
    i32(static_cast<int32_t>(text.size()));
    bytes(text);
  }
  // The bytes and a NUL (what ByteReader::c_string reads).
  void c_string(std::string_view text) {
    bytes(text);
    out_.push_back(0);
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace base
