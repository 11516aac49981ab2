// The growable byte buffer of the runtime heap: the runtime's registries and lists, and bytes
// that grow with outside input.
//
// Storage is one runtime heap block. Its growth is the buffer's policy:
// - kSlack (the registries' rule): a size that needs more room, or one that would leave more
//   than 256 bytes unused, reallocates the block to size + 128.
// - kGeometric (input of unknown length): the block at least doubles, from 16 KiB, and never
//   shrinks; appending stays linear. A step stops at the size expect() names, when the contents
//   still fit there. Blocks of 4 MiB and more get huge pages where the system offers them, and
//   the room a step adds up to the expected size is faulted in at once.
// Either way nothing grows past max_size(): an edit that would answers false and changes
// nothing. release() hands the block over to the caller, who frees it with rt::free_block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rt {

class ByteBuffer {
 public:
  enum class Growth { kSlack, kGeometric };
  static constexpr size_t kSlack = 128;
  static constexpr size_t kMaxUnused = 256;
  static constexpr size_t kFirstGeometricBlock = size_t{16} << 10;
  // Far beyond any block the heap gives; keeps size + slack from overflowing.
  static constexpr size_t kUnlimited = SIZE_MAX / 2;

  ByteBuffer() = default;
  explicit ByteBuffer(Growth growth, size_t max_size = kUnlimited)
      : growth_(growth), max_size_(max_size < kUnlimited ? max_size : kUnlimited) {}
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& o) noexcept;
  ByteBuffer& operator=(ByteBuffer&& o) noexcept;
  ~ByteBuffer();

  const uint8_t* data() const { return data_; }
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  size_t max_size() const { return max_size_; }
  Growth growth() const { return growth_; }
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

  // Each answers false, changing nothing, when the result would pass max_size().
  bool append_u8(uint8_t v) { return append(&v, 1); }
  bool append_u16(uint16_t v) { return append(&v, 2); }
  bool append_u32(uint32_t v) { return append(&v, 4); }
  bool append(const void* bytes, size_t n);
  // Inserts n bytes at offset (clamped to the end).
  bool insert(size_t offset, const void* bytes, size_t n);
  // Replaces `length` bytes at offset by n new ones; the range is clamped to the contents.
  bool replace(size_t offset, size_t length, const void* bytes, size_t n);
  void remove(size_t offset, size_t length);
  void clear() { resize(0); }

  // For kGeometric: the size the contents are expected to reach (a length the source declared).
  // Steps still double from what is stored, so a wrong size costs no more than the doubling
  // does; the step that reaches it stops there, and contents that grow past it grow on as before.
  void expect(size_t size) { expected_ = size; }

  // Room for n more bytes at the end, to be filled and then taken in with commit(n); null when
  // the size would pass max_size(). For a writer that fills the bytes itself (a read call).
  // (A geometric block that has the room answers inline: writers ask once per piece.)
  uint8_t* room_for(size_t n) {
    if (growth_ == Growth::kGeometric && n <= capacity_ - size_)
      return data_ + size_;  // a geometric capacity never passes max_size()
    return grow_for(n);
  }
  // Takes n bytes of the room last asked for as part of the contents.
  void commit(size_t n) { size_ += n < capacity_ - size_ ? n : capacity_ - size_; }

  // Hands the block over: the caller owns `data` (null when nothing was ever stored) and frees
  // it with rt::free_block; its first `size` bytes are the contents. The buffer is empty after,
  // with the same policy and maximum.
  struct Block {
    uint8_t* data = nullptr;
    size_t size = 0;
  };
  Block release();

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
  // Grows (or, for kSlack, trims) the block by the policy to hold `wanted` bytes.
  void make_room(size_t wanted);
  uint8_t* grow_for(size_t n);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  Growth growth_ = Growth::kSlack;
  size_t max_size_ = kUnlimited;
  size_t expected_ = 0;
};

}  // namespace rt
