#include "runtime/byte_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "runtime/heap.h"

namespace rt {

ByteBuffer::ByteBuffer(ByteBuffer&& o) noexcept
    : data_(std::exchange(o.data_, nullptr)),
      size_(std::exchange(o.size_, 0)),
      capacity_(std::exchange(o.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& o) noexcept {
  if (this != &o) {
    free_block(data_);
    data_ = std::exchange(o.data_, nullptr);
    size_ = std::exchange(o.size_, 0);
    capacity_ = std::exchange(o.capacity_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { free_block(data_); }

void ByteBuffer::resize(size_t new_size) {
  const bool fits = data_ && new_size <= capacity_;
  if (!fits || capacity_ - new_size > kMaxUnused) {
    data_ = static_cast<uint8_t*>(reallocate(data_, new_size + kSlack));
    capacity_ = new_size + kSlack;
  }
  size_ = new_size;
}

void ByteBuffer::append(const void* bytes, size_t n) { insert(size_, bytes, n); }

void ByteBuffer::insert(size_t offset, const void* bytes, size_t n) {
  replace(offset, 0, bytes, n);
}

void ByteBuffer::replace(size_t offset, size_t length, const void* bytes, size_t n) {
  offset = std::min(offset, size_);
  length = std::min(length, size_ - offset);
  const size_t tail = size_ - offset - length;
  const size_t old_size = size_;
  if (n > length) resize(old_size + (n - length));
  if (tail > 0) std::memmove(data_ + offset + n, data_ + offset + length, tail);
  if (n > 0 && bytes) std::memcpy(data_ + offset, bytes, n);
  if (n < length) resize(old_size - (length - n));
}

void ByteBuffer::remove(size_t offset, size_t length) { replace(offset, length, nullptr, 0); }

int64_t ByteBuffer::find_word(uint32_t word) const {
  for (size_t i = 0; i + 4 <= size_; i += 4) {
    if (word_at(i / 4) == word) return static_cast<int64_t>(i / 4);
  }
  return -1;
}

uint32_t ByteBuffer::word_at(size_t index) const {
  uint32_t w = 0;
  if ((index + 1) * 4 <= size_) std::memcpy(&w, data_ + index * 4, 4);
  return w;
}

void ByteBuffer::serialise_into(ByteBuffer& out) const {
  out.append_u32(static_cast<uint32_t>(size_));
  out.append(data_, size_);
}

size_t ByteBuffer::deserialise(std::span<const uint8_t> in) {
  clear();
  if (in.size() < 4) return 0;
  int32_t length;
  std::memcpy(&length, in.data(), 4);
  if (length <= 0) return 4;
  if (static_cast<size_t>(length) > in.size() - 4) return 0;
  append(in.data() + 4, static_cast<size_t>(length));
  return 4 + static_cast<size_t>(length);
}

}  // namespace rt
