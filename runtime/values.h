// Making and owning texts, byte sets and arrays; the data of a value and a value from bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "runtime/heap.h"
#include "runtime/value.h"

namespace rt {

// New text of exactly these bytes; null for n < 1.
char* make_text(const void* bytes, size_t n);
inline char* make_text(std::string_view s) {
  return make_text(s.data(), s.size());
}
// New text from a NUL-terminated source; null for a null or empty source.
char* copy_text(const char* source);
// New byte set; null for n == 0.
uint8_t* make_bytes(const void* bytes, size_t n);
// New byte set of n bytes whose data the caller fills; null for n == 0.
uint8_t* make_bytes_uninitialised(size_t n);
// New one-dimensional array of n pointer-wide elements, all null (texts or byte sets).
void* make_pointer_array(size_t n);

// Frees an array block, first freeing every element when the element kind is text or byte set.
void release_array(void* block, TypeCode element_code);

// If the array in *variable lies in the constant data area, replace it by a heap copy.
void make_writable(void** variable, size_t element_width);

// The data bytes of a value held in a cell: the payload for numbers, a text with its
// terminator, a byte set's data; empty for any other code.
std::span<const uint8_t> value_data(const Cell& value);

// Builds a value of `target` from raw bytes (the caller supplies at least the storage width for
// non-texts). For a text, *consumed receives the bytes used. Returns false (and leaves `out`
// alone) for codes outside the basic table.
bool value_from_bytes(TypeCode target, const uint8_t* bytes, size_t count, Cell& out,
                      size_t* consumed = nullptr);

// --- Owners: overwriting one frees the old block (constants are never freed) ---

class Text {
 public:
  Text() = default;
  explicit Text(std::string_view s) : p_(make_text(s)) {}
  static Text adopt(char* p) {
    Text t;
    t.p_ = p;
    return t;
  }
  Text(Text&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Text& operator=(Text&& o) noexcept {
    if (this != &o)
      reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { free_block(p_); }

  const char* get() const { return p_; }
  const char* c_str() const { return p_ ? p_ : ""; }
  std::string_view view() const { return text_view(p_); }
  size_t size() const { return text_length(p_); }
  bool empty() const { return !p_ || !*p_; }
  Text copy() const { return adopt(copy_text(p_)); }
  char* release() { return std::exchange(p_, nullptr); }
  void reset(char* p = nullptr) {
    if (p != p_)
      free_block(p_);
    p_ = p;
  }

 private:
  char* p_ = nullptr;
};

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::span<const uint8_t> s) : p_(make_bytes(s.data(), s.size())) {}
  static Bytes adopt(uint8_t* block) {
    Bytes b;
    b.p_ = block;
    return b;
  }
  Bytes(Bytes&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Bytes& operator=(Bytes&& o) noexcept {
    if (this != &o)
      reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes() { free_block(p_); }

  const uint8_t* get() const { return p_; }
  std::span<const uint8_t> view() const { return bytes_view(p_); }
  const uint8_t* data() const { return view().data(); }
  size_t size() const { return view().size(); }
  bool empty() const { return size() == 0; }
  uint8_t* release() { return std::exchange(p_, nullptr); }
  void reset(uint8_t* block = nullptr) {
    if (block != p_)
      free_block(p_);
    p_ = block;
  }

 private:
  uint8_t* p_ = nullptr;
};

// An array block together with its element kind, so that texts and byte sets inside are freed.
class Array {
 public:
  Array() = default;
  static Array adopt(void* block, TypeCode element_code) {
    Array a;
    a.p_ = block;
    a.element_ = plain_code(element_code);
    return a;
  }
  Array(Array&& o) noexcept : p_(std::exchange(o.p_, nullptr)), element_(o.element_) {}
  Array& operator=(Array&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
      element_ = o.element_;
    }
    return *this;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  ~Array() { reset(); }

  void* get() const { return p_; }
  TypeCode element_code() const { return element_; }
  ArrayShape shape() const { return array_shape(p_); }
  size_t size() const { return shape().element_count; }
  // Element i of a text array; null (the empty text) past the end.
  const char* text_at(size_t i) const;
  void* release() { return std::exchange(p_, nullptr); }
  void reset() {
    if (p_ && !in_constant_area(p_))
      release_array(p_, element_);
    p_ = nullptr;
  }

 private:
  void* p_ = nullptr;
  TypeCode element_ = kNoValue;
};

}  // namespace rt
