// Typed calls of the built-in commands, for code that means the command call itself (its tests,
// callers of the cell interface). Every call still travels through argument cells and the
// command gateway; left-out optionals travel as zero cells. C++ code that only wants the
// operation calls text_ops.h, byte_ops.h, codepage.h (code_pages) and address.h (addresses).
//
// Results that hold blocks come back in owners (rt::Text, rt::Bytes, rt::Array). Texts taken
// as `const char*` may be null (read as empty).
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>

#include "runtime/command.h"
#include "web/builtins.h"

namespace web {

using OptInt = std::optional<int32_t>;
using OptBool = std::optional<bool>;
using OptText = std::optional<const char*>;

// --- Texts ---

inline int32_t text_len(const char* text) {
  return rt::call_int(&cmd::text_len, text);
}
inline rt::Text text_left(const char* text, int32_t n) {
  return rt::call_text(&cmd::text_left, text, n);
}
inline rt::Text text_right(const char* text, int32_t n) {
  return rt::call_text(&cmd::text_right, text, n);
}
inline rt::Text text_middle(const char* text, int32_t start, int32_t n) {
  return rt::call_text(&cmd::text_middle, text, start, n);
}
inline int32_t find_text(const char* text, const char* sought, OptInt start = {},
                         OptBool case_insensitive = {}) {
  return rt::call_int(&cmd::find_text, text, sought, start, case_insensitive);
}
inline int32_t find_text_backward(const char* text, const char* sought, OptInt start = {},
                                  OptBool case_insensitive = {}) {
  return rt::call_int(&cmd::find_text_backward, text, sought, start, case_insensitive);
}
// Case is folded unless case_sensitive is true.
inline rt::Text replace_text(const char* text, const char* sought, OptText replacement = {},
                             OptInt start = {}, OptInt count = {}, OptBool case_sensitive = {}) {
  return rt::call_text(&cmd::replace_text, text, sought, replacement, start, count, case_sensitive);
}
// A text array; the separator defaults to ",".
inline rt::Array split_text(const char* text, OptText separator = {}, OptInt max_count = {}) {
  return rt::call_array(&cmd::split_text, rt::kText, text, separator, max_count);
}
inline rt::Text trim_both_ends(const char* text) {
  return rt::call_text(&cmd::trim_both_ends, text);
}
inline rt::Text remove_spaces(const char* text) {
  return rt::call_text(&cmd::remove_spaces, text);
}
inline rt::Text to_lower_case(const char* text) {
  return rt::call_text(&cmd::to_lower_case, text);
}
inline rt::Text spaces_text(int32_t n) {
  return rt::call_text(&cmd::spaces_text, n);
}
inline rt::Text char_text(uint8_t code) {
  return rt::call_text(&cmd::char_text, rt::Cell::of_byte(code));
}
inline rt::Text copy_text(const char* text) {
  return rt::call_text(&cmd::copy_text, text);
}
// Only the sign counts. Case is folded unless case_sensitive is true.
inline int32_t compare_texts(const char* a, const char* b, OptBool case_sensitive = {}) {
  return rt::call_int(&cmd::compare_texts, a, b, case_sensitive);
}
inline rt::Text hex_text(int32_t value) {
  return rt::call_text(&cmd::hex_text, value);
}

// --- Conversions of any value ---

inline int32_t to_integer(const rt::Cell& value) {
  return rt::call_int(&cmd::to_integer, value);
}
inline int32_t to_integer(const char* text) {
  return rt::call_int(&cmd::to_integer, text);
}
inline rt::Text to_text(const rt::Cell& value) {
  return rt::call_text(&cmd::to_text, value);
}
inline rt::Bytes to_bytes(const rt::Cell& value) {
  return rt::call_bytes(&cmd::to_bytes, value);
}

// --- Byte sets ---

inline int32_t bytes_len(const rt::Bytes& bytes) {
  return rt::call_int(&cmd::bytes_len, bytes);
}
inline rt::Bytes bytes_left(const rt::Bytes& bytes, int32_t n) {
  return rt::call_bytes(&cmd::bytes_left, bytes, n);
}
inline rt::Bytes bytes_right(const rt::Bytes& bytes, int32_t n) {
  return rt::call_bytes(&cmd::bytes_right, bytes, n);
}
inline rt::Bytes bytes_middle(const rt::Bytes& bytes, int32_t start, int32_t n) {
  return rt::call_bytes(&cmd::bytes_middle, bytes, start, n);
}
inline rt::Bytes zero_bytes(int32_t n) {
  return rt::call_bytes(&cmd::zero_bytes, n);
}

// The kinds read_bytes_value produces.
enum class ValueKind : int32_t {
  Byte = 1,
  Short,
  Int,
  Int64,
  Float,
  Double,
  Bool,
  DateTime,
  Subroutine,
  Text,
};

// Reads one value at *position (1-based; left out: the start) and moves *position past it, or
// to -1 once the end is reached. A text result in the cell is the caller's: adopt it.
inline rt::Cell read_bytes_value(const rt::Bytes& bytes, ValueKind kind,
                                 std::optional<rt::Ref<int32_t>> position = {}) {
  return rt::call(&cmd::read_bytes_value, bytes, static_cast<int32_t>(kind), position);
}
inline rt::Bytes pointer_to_bytes(const void* address, int32_t n) {
  return rt::call_bytes(&cmd::pointer_to_bytes, rt::Cell::of_pointer(address, rt::kInt), n);
}
inline void write_memory(const rt::Cell& value, void* address, OptInt max = {}) {
  rt::call(&cmd::write_memory, value, rt::Cell::of_pointer(address, rt::kInt), max);
}

// --- Numbers ---

template <std::same_as<int32_t>... More>
int32_t bit_and(int32_t first, More... more) {
  return rt::call_int(&cmd::bit_and, first, more...);
}
template <std::same_as<int32_t>... More>
int32_t bit_or(int32_t first, More... more) {
  return rt::call_int(&cmd::bit_or, first, more...);
}
inline double absolute_value(double x) {
  return rt::call_double(&cmd::absolute_value, x);
}
inline int32_t integer_part(double x) {
  return rt::call_int(&cmd::integer_part, x);
}
inline double sine_of(double x) {
  return rt::call_double(&cmd::sine_of, x);
}
inline double cosine_of(double x) {
  return rt::call_double(&cmd::cosine_of, x);
}

}  // namespace web
