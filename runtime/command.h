// Built-in command calls through argument cells.
//
// A command takes (result cell, argument count, first argument cell). The gateway zeroes the
// result cell before the call; omitted optional arguments are zero cells and still counted.
// Arguments stay the caller's; a text, byte set or array in the result is the caller's new block.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "runtime/value.h"
#include "runtime/values.h"

namespace rt {

using CommandFn = void (*)(Cell* result, int32_t count, const Cell* args);

// The command gateway. The second entry of the runtime's entry table ("accumulator preserved")
// is the same call here: C++ keeps no accumulator across calls.
Cell call_command(CommandFn command, int32_t count, const Cell* args);

// Reads a command's arguments; a missing index reads as a zero cell, never out of bounds.
class Args {
 public:
  Args(int32_t count, const Cell* cells) : count_(cells && count > 0 ? count : 0), cells_(cells) {}

  int32_t count() const { return count_; }
  const Cell& at(int32_t i) const {
    static constexpr Cell kZero{};
    return i >= 0 && i < count_ ? cells_[i] : kZero;
  }
  bool given(int32_t i) const { return at(i).given(); }
  // A text argument; null (the empty text) reads as "".
  const char* text(int32_t i) const;
  std::string_view text_view(int32_t i) const { return rt::text_view(text(i)); }
  std::span<const uint8_t> bytes(int32_t i) const;
  int32_t int_or(int32_t i, int32_t fallback) const { return given(i) ? at(i).as_int() : fallback; }
  // A bool argument: left out counts as false; any non-zero value is true.
  bool flag(int32_t i) const { return given(i) && at(i).low != 0; }
  // A bool argument where only the value 1 counts as true.
  bool flag_exactly_one(int32_t i) const { return given(i) && at(i).low == 1; }
  double number(int32_t i) const;  // int, float or double argument as double

 private:
  int32_t count_;
  const Cell* cells_;
};

// Result writers.
inline void set_int(Cell* r, int32_t v) {
  *r = Cell::of_int(v);
}
inline void set_bool(Cell* r, bool v) {
  *r = Cell::of_bool(v);
}
inline void set_double(Cell* r, double v) {
  *r = Cell::of_double(v);
}
inline void set_text(Cell* r, char* text) {
  *r = Cell::of_pointer(text, kText);
}
inline void set_bytes(Cell* r, uint8_t* block) {
  *r = Cell::of_pointer(block, kBytes);
}
inline void set_array(Cell* r, void* block, TypeCode element) {
  *r = Cell::of_pointer(block, plain_code(element) | kByRef);
}

// --- Typed calls: application code reads naturally, every call still goes through cells ---

struct Omitted {};
inline constexpr Omitted omitted{};

template <typename T>
struct Ref {
  T* variable;
};

inline Cell to_cell(const Cell& c) {
  return c;
}
inline Cell to_cell(Omitted) {
  return {};
}
inline Cell to_cell(const char* text) {
  return Cell::of_pointer(text, kText);
}
inline Cell to_cell(const Text& text) {
  return Cell::of_pointer(text.get(), kText);
}
inline Cell to_cell(const Bytes& bytes) {
  return Cell::of_pointer(bytes.get(), kBytes);
}
inline Cell to_cell(bool v) {
  return Cell::of_bool(v);
}
inline Cell to_cell(int32_t v) {
  return Cell::of_int(v);
}
inline Cell to_cell(double v) {
  return Cell::of_double(v);
}
inline Cell to_cell(Ref<int32_t> r) {
  return Cell::by_ref(r.variable, kInt);
}
inline Cell to_cell(Ref<char*> r) {
  return Cell::by_ref(r.variable, kText);
}
inline Cell to_cell(Ref<const char*> r) {
  return Cell::by_ref(r.variable, kText);
}
inline Cell to_cell(Ref<uint8_t*> r) {
  return Cell::by_ref(r.variable, kBytes);
}
inline Cell to_cell(Ref<const uint8_t*> r) {
  return Cell::by_ref(r.variable, kBytes);
}

template <typename T>
inline Cell to_cell(const std::optional<T>& v) {
  return v ? to_cell(*v) : Cell{};
}

template <typename... A>
Cell call(CommandFn command, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return call_command(command, 0, nullptr);
  } else {
    const std::array<Cell, sizeof...(A)> cells{to_cell(args)...};
    return call_command(command, static_cast<int32_t>(cells.size()), cells.data());
  }
}

template <typename... A>
int32_t call_int(CommandFn command, const A&... args) {
  return call(command, args...).as_int();
}
template <typename... A>
bool call_bool(CommandFn command, const A&... args) {
  return call(command, args...).low != 0;
}
template <typename... A>
double call_double(CommandFn command, const A&... args) {
  return call(command, args...).as_double();
}
template <typename... A>
Text call_text(CommandFn command, const A&... args) {
  return Text::adopt(call(command, args...).template pointer<char>());
}
template <typename... A>
Bytes call_bytes(CommandFn command, const A&... args) {
  return Bytes::adopt(call(command, args...).template pointer<uint8_t>());
}
template <typename... A>
Array call_array(CommandFn command, TypeCode element, const A&... args) {
  return Array::adopt(call(command, args...).template pointer<void>(), element);
}

}  // namespace rt
