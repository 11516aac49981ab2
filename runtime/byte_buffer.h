// The growable byte buffer behind the runtime's registries and lists.
//
// Storage comes from the runtime heap with 128 bytes of slack: a size that needs more room, or
// one that would leave more than 256 bytes unused, reallocates the block to size + 128.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rt {

class ByteBuffer {
 public:
  static constexpr size_t kSlack = 128;
  static constexpr size_t kMaxUnused = 256;

  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& o) noexcept;
  ByteBuffer& operator=(ByteBuffer&& o) noexcept;
  ~ByteBuffer();

  const uint8_t* data() const { return data_; }
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

  void append_u8(uint8_t v) { append(&v, 1); }
  void append_u16(uint16_t v) { append(&v, 2); }
  void append_u32(uint32_t v) { append(&v, 4); }
  void append(const void* bytes, size_t n);
  // Inserts n bytes at offset (clamped to the end).
  void insert(size_t offset, const void* bytes, size_t n);
  // Replaces `length` bytes at offset by n new ones; the range is clamped to the contents.
  void replace(size_t offset, size_t length, const void* bytes, size_t n);
  void remove(size_t offset, size_t length);
  void clear() { resize(0); }
  // Index of the first aligned 32-bit word equal to `word`, or -1.
  int64_t find_word(uint32_t word) const;
  uint32_t word_at(size_t index) const;

  // int32 length, then the bytes.
  void serialise_into(ByteBuffer& out) const;
  // Reads a serialised buffer from `in`; answers the bytes consumed, 0 when `in` is too short.
  // A length of 0 or less reads as empty.
  size_t deserialise(std::span<const uint8_t> in);

 private:
  void resize(size_t new_size);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace rt
