#include "runtime/byte_buffer.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/byte_reader.h"
#include "runtime/heap.h"

namespace rt {
namespace {

constexpr uintptr_t kPage = 4096;
// Blocks from this size on are prepared for being written in bulk (prepare_large_block).
constexpr size_t kLargeBlock = size_t{4} << 20;

uintptr_t page_down(uintptr_t a) {
  return a & ~(kPage - 1);
}
uintptr_t page_up(uintptr_t a) {
  return page_down(a + kPage - 1);
}

// A large block just grown: asks for huge pages under it, so that a fault maps 2 MiB rather than
// 4 KiB, and faults [from, to), room about to be written, in with one call instead of one fault
// per page; for bodies of many megabytes that is most of the cost of writing them. The huge-page
// advice spans the whole pages around the block, so that a block of its own mapping stays one
// mapping and realloc can still move it without a copy (for a block inside the heap it is only a
// hint about a few neighbouring pages). Both are hints: a system without them leaves the block as
// it is.
void prepare_large_block(uint8_t* data, size_t from, size_t to) {
  const auto start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t whole_start = page_down(start);
  const uintptr_t whole_end = page_up(start + malloc_usable_size(data));
  madvise(reinterpret_cast<void*>(whole_start), whole_end - whole_start, MADV_HUGEPAGE);
  const uintptr_t room_start = page_up(start + from);
  const uintptr_t room_end = page_down(start + to);
  if (room_end > room_start) {
    madvise(reinterpret_cast<void*>(room_start), room_end - room_start, MADV_POPULATE_WRITE);
  }
}

}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& o) noexcept
    : data_(std::exchange(o.data_, nullptr)),
      size_(std::exchange(o.size_, 0)),
      capacity_(std::exchange(o.capacity_, 0)),
      growth_(o.growth_),
      max_size_(o.max_size_),
      expected_(o.expected_) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& o) noexcept {
  if (this != &o) {
    free_block(data_);
    data_ = std::exchange(o.data_, nullptr);
    size_ = std::exchange(o.size_, 0);
    capacity_ = std::exchange(o.capacity_, 0);
    growth_ = o.growth_;
    max_size_ = o.max_size_;
    expected_ = o.expected_;
  }
  return *this;
}

ByteBuffer::~ByteBuffer() {
  free_block(data_);
}

void ByteBuffer::make_room(size_t wanted) {
  switch (growth_) {
    case Growth::kSlack: {
      const bool fits = data_ && wanted <= capacity_;
      if (fits && capacity_ - wanted <= kMaxUnused)
        return;
      data_ = static_cast<uint8_t*>(reallocate(data_, wanted + kSlack));
      capacity_ = wanted + kSlack;
      return;
    }
    case Growth::kGeometric: {
      if (wanted <= capacity_)
        return;
      // wanted never passes max_size_: the edits check before they grow.
      size_t grown = std::max({wanted, capacity_ * 2, kFirstGeometricBlock});
      if (wanted <= expected_)
        grown = std::min(grown, expected_);
      const size_t old_capacity = capacity_;
      capacity_ = std::min(grown, max_size_);
      data_ = static_cast<uint8_t*>(reallocate(data_, capacity_));
      // Only room up to the expected size is sure to be written soon.
      if (capacity_ >= kLargeBlock)
        prepare_large_block(data_, old_capacity, std::min(capacity_, expected_));
      return;
    }
  }
}

void ByteBuffer::resize(size_t new_size) {
  make_room(new_size);
  size_ = new_size;
}

bool ByteBuffer::append(const void* bytes, size_t n) {
  return insert(size_, bytes, n);
}

bool ByteBuffer::insert(size_t offset, const void* bytes, size_t n) {
  return replace(offset, 0, bytes, n);
}

bool ByteBuffer::replace(size_t offset, size_t length, const void* bytes, size_t n) {
  offset = std::min(offset, size_);
  length = std::min(length, size_ - offset);
  if (n > length && n - length > max_size_ - size_)
    return false;
  const size_t tail = size_ - offset - length;
  const size_t old_size = size_;
  if (n > length)
    resize(old_size + (n - length));
  if (tail > 0)
    std::memmove(data_ + offset + n, data_ + offset + length, tail);
  if (n > 0 && bytes)
    std::memcpy(data_ + offset, bytes, n);
  if (n < length)
    resize(old_size - (length - n));
  return true;
}

void ByteBuffer::remove(size_t offset, size_t length) {
  replace(offset, length, nullptr, 0);
}

uint8_t* ByteBuffer::grow_for(size_t n) {
  if (n > max_size_ - size_)
    return nullptr;
  make_room(size_ + n);
  return data_ + size_;
}

ByteBuffer::Block ByteBuffer::release() {
  const Block block{std::exchange(data_, nullptr), std::exchange(size_, 0)};
  capacity_ = 0;
  return block;
}

int64_t ByteBuffer::find_word(uint32_t word) const {
  for (size_t i = 0; i + 4 <= size_; i += 4) {
    if (word_at(i / 4) == word)
      return static_cast<int64_t>(i / 4);
  }
  return -1;
}

uint32_t ByteBuffer::word_at(size_t index) const {
  uint32_t w = 0;
  if ((index + 1) * 4 <= size_)
    std::memcpy(&w, data_ + index * 4, 4);
  return w;
}

void ByteBuffer::serialise_into(ByteBuffer& out) const {
  out.append_u32(static_cast<uint32_t>(size_));
  out.append(data_, size_);
}

size_t ByteBuffer::deserialise(std::span<const uint8_t> in) {
  clear();
  const std::optional<uint32_t> word = base::le32_at(in, 0);
  if (!word)
    return 0;
  const auto length = static_cast<int32_t>(*word);
  if (length <= 0)
    return 4;
  if (static_cast<size_t>(length) > in.size() - 4)
    return 0;
  append(in.data() + 4, static_cast<size_t>(length));
  return 4 + static_cast<size_t>(length);
}

}  // namespace rt
