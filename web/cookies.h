// Merging cookie texts: "name=value" items separated by ";" (written back separated by "; ").
//
// New values replace old ones by name, old cookies the new text does not mention survive after
// the new ones, and an item whose value is "deleted" removes its cookie. Names are the text
// before the first "=", trimmed, compared byte for byte.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "web/commands.h"
#include "web/variables.h"

namespace web {

namespace cmd {
// (old text variable, new text variable) -> text. The old variable receives the merged text,
// the new one its form without spaces.
void merge_cookies(rt::Cell* r, int32_t n, const rt::Cell* a);
// (item) -> text
void cookie_name(rt::Cell* r, int32_t n, const rt::Cell* a);
// (text array, name) -> bool
void has_cookie_named(rt::Cell* r, int32_t n, const rt::Cell* a);
// (text, separator) -> text
void remove_duplicate_items(rt::Cell* r, int32_t n, const rt::Cell* a);
// (text array, text) -> int
void index_of_item(rt::Cell* r, int32_t n, const rt::Cell* a);
}  // namespace cmd

// The same as plain C++: views in, owned texts out; the commands run these.
namespace cookie_texts {

struct Merged {
  std::string merged;       // new items first, then the old ones the new text does not name
  std::string new_cookies;  // the new text without spaces
};
Merged merge(std::string_view old_cookies, std::string_view new_cookies);

// The text before the first "=", trimmed (the whole item, trimmed, without one).
std::string name_of(std::string_view item);
bool has_named(std::span<const std::string_view> items, std::string_view name);
// The parts of `text` between separators, each kept the first time it occurs.
std::string without_duplicates(std::string_view text, std::string_view separator);
// 1-based index of the first item equal to `text`, or -1.
int32_t index_of(std::span<const std::string_view> items, std::string_view text);

}  // namespace cookie_texts

// Both variables are overwritten: old_cookies with the merged text, new_cookies with itself
// without spaces. Answers a copy of the merged text.
inline rt::Text merge_cookies(rt::Text& old_cookies, rt::Text& new_cookies) {
  TextLoan old_loan(&old_cookies);
  TextLoan new_loan(&new_cookies);
  return rt::call_text(&cmd::merge_cookies, old_loan.cell(), new_loan.cell());
}

inline rt::Text cookie_name(const char* item) {
  return rt::call_text(&cmd::cookie_name, item);
}

inline bool has_cookie_named(const rt::Array& items, const char* name) {
  return rt::call_bool(&cmd::has_cookie_named,
                       rt::Cell::of_pointer(items.get(), rt::kText | rt::kByRef), name);
}

// The parts of `text` between separators, each kept the first time it occurs.
inline rt::Text remove_duplicate_items(const char* text, const char* separator) {
  return rt::call_text(&cmd::remove_duplicate_items, text, separator);
}

// 1-based index of the first element equal to `text`, or -1.
inline int32_t index_of_item(const rt::Array& items, const char* text) {
  return rt::call_int(&cmd::index_of_item,
                      rt::Cell::of_pointer(items.get(), rt::kText | rt::kByRef), text);
}

}  // namespace web
