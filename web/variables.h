// The caller's variables handed to a command by reference (bit 29 on the type code): writing
// into them, and text arrays passed as arguments.
//
// Overwriting a variable frees its old block (blocks in the constant data area are left alone).
// A value argument in place of a variable is read like any other and receives nothing.
#pragma once

#include <span>

#include "runtime/command.h"
#include "runtime/heap.h"

namespace web {

// Whether the cell is the caller's variable of that kind.
inline bool is_variable(const rt::Cell& cell, rt::TypeCode kind) {
  return cell.type == (kind | rt::kByRef) && cell.pointer<void>() != nullptr;
}

inline void store_text(const rt::Cell& cell, rt::Text value) {
  if (!is_variable(cell, rt::kText))
    return;
  char** variable = cell.pointer<char*>();
  rt::free_block(*variable);
  *variable = value.release();
}

inline void store_bytes(const rt::Cell& cell, rt::Bytes value) {
  if (!is_variable(cell, rt::kBytes))
    return;
  uint8_t** variable = cell.pointer<uint8_t*>();
  rt::free_block(*variable);
  *variable = value.release();
}

// The elements of a one-dimensional text array argument (null elements are empty texts).
// Anything else reads as no elements.
class TextList {
 public:
  explicit TextList(const rt::Cell& cell) {
    if (cell.type != (rt::kText | rt::kByRef))
      return;
    shape_ = rt::array_shape(cell.pointer<void>());
  }
  size_t size() const { return shape_.element_count; }
  const char* at(size_t i) const {
    const auto* text = static_cast<const char*>(rt::array_pointer_at(shape_, i));
    return text ? text : "";
  }

 private:
  rt::ArrayShape shape_;
};

// Lends an owner's block to a command as the caller's variable for the length of one call, and
// takes back whatever the command left in it. A null owner stands for a left-out argument.
template <typename Owner, typename Block, rt::TypeCode kKind>
class VariableLoan {
 public:
  explicit VariableLoan(Owner* owner)
      : owner_(owner), variable_(owner ? owner->release() : nullptr) {}
  VariableLoan(const VariableLoan&) = delete;
  VariableLoan& operator=(const VariableLoan&) = delete;
  ~VariableLoan() {
    if (owner_)
      owner_->reset(variable_);
  }
  rt::Cell cell() { return owner_ ? rt::Cell::by_ref(&variable_, kKind) : rt::Cell{}; }
  // The variable itself, for C++ callees; null for a left-out argument.
  Block** variable() { return owner_ ? &variable_ : nullptr; }

 private:
  Owner* owner_;
  Block* variable_;
};

using TextLoan = VariableLoan<rt::Text, char, rt::kText>;
using BytesLoan = VariableLoan<rt::Bytes, uint8_t, rt::kBytes>;

}  // namespace web
