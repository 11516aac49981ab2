#include "web/cookies.h"

#include <algorithm>
#include <string>
#include <vector>

#include "web/codepage.h"
#include "web/text_ops.h"

namespace web {
namespace cookie_texts {
namespace {

constexpr std::string_view kDeleted = "=deleted";

// Drops the last n bytes; an empty text stays empty.
std::string without_last(const std::string& text, size_t n) {
  return text_ops::left(text, static_cast<int32_t>(text.size()) - static_cast<int32_t>(n));
}

}  // namespace

std::string name_of(std::string_view item) {
  const int32_t equals = text_ops::find(item, "=");
  if (equals == -1)
    return text_ops::trim_both_ends(item);
  return text_ops::trim_both_ends(text_ops::left(item, equals - 1));
}

bool has_named(std::span<const std::string_view> items, std::string_view name) {
  return std::any_of(items.begin(), items.end(),
                     [name](std::string_view item) { return name_of(item) == name; });
}

int32_t index_of(std::span<const std::string_view> items, std::string_view text) {
  const auto it = std::find(items.begin(), items.end(), text);
  return it == items.end() ? -1 : static_cast<int32_t>(it - items.begin() + 1);
}

std::string without_duplicates(std::string_view text, std::string_view separator) {
  const std::vector<std::string> parts = text_ops::split(text, separator);
  std::vector<std::string_view> seen;
  std::string result;
  for (const std::string& part : parts) {
    if (std::find(seen.begin(), seen.end(), part) != seen.end())
      continue;
    seen.push_back(part);
    result.append(part).append(separator);
  }
  return without_last(result, separator.size());
}

Merged merge(std::string_view old_cookies, std::string_view new_cookies) {
  Merged out;
  out.new_cookies = text_ops::remove_spaces(new_cookies);
  const std::vector<std::string> old_items =
      text_ops::split(text_ops::remove_spaces(old_cookies), ";");
  const std::vector<std::string> new_items = text_ops::split(out.new_cookies, ";");

  // The new items first, then each old item whose name is not there yet. Names are worked out
  // once per item, so a long cookie text costs comparisons, not conversions.
  std::vector<std::string_view> items;
  std::vector<std::string> names;
  for (const std::string& item : new_items) {
    items.push_back(item);
    names.push_back(name_of(item));
  }
  for (const std::string& item : old_items) {
    std::string name = name_of(item);
    if (std::find(names.begin(), names.end(), name) != names.end())
      continue;
    items.push_back(item);
    names.push_back(std::move(name));
  }

  std::string merged;
  for (const std::string_view item : items) {
    if (item.size() >= kDeleted.size() && item.ends_with(kDeleted))
      continue;
    merged.append(item).append("; ");
  }
  out.merged = without_duplicates(without_last(merged, 2), "; ");
  return out;
}

}  // namespace cookie_texts

namespace cmd {
namespace {

// The elements of a text array argument as views (null elements are empty texts).
std::vector<std::string_view> items_of(const rt::Cell& cell) {
  const TextList list(cell);
  std::vector<std::string_view> items;
  items.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) items.emplace_back(list.at(i));
  return items;
}

}  // namespace

void cookie_name(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, rt::make_text(cookie_texts::name_of(text_argument(args, 0))));
}

void has_cookie_named(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_bool(r, cookie_texts::has_named(items_of(args.at(0)), text_argument(args, 1)));
}

void index_of_item(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_int(r, cookie_texts::index_of(items_of(args.at(0)), text_argument(args, 1)));
}

void remove_duplicate_items(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, rt::make_text(cookie_texts::without_duplicates(text_argument(args, 0),
                                                                 text_argument(args, 1))));
}

void merge_cookies(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const cookie_texts::Merged merged =
      cookie_texts::merge(text_argument(args, 0), text_argument(args, 1));
  store_text(args.at(1), rt::Text(merged.new_cookies));
  store_text(args.at(0), rt::Text(merged.merged));
  rt::set_text(r, rt::make_text(merged.merged));
}

}  // namespace cmd
}  // namespace web
