#include "web/cookies.h"

#include <algorithm>
#include <string>
#include <vector>

#include "web/codepage.h"

namespace web::cmd {
namespace {

rt::Text name_of(const char* item) {
  const int32_t equals = web::find_text(item, "=");
  if (equals == -1)
    return web::trim_both_ends(item);
  return web::trim_both_ends(web::text_left(item, equals - 1).c_str());
}

constexpr std::string_view kDeleted = "=deleted";

// Drops the last n bytes; an empty text stays empty.
rt::Text without_last(const std::string& text, size_t n) {
  return web::text_left(text.c_str(), static_cast<int32_t>(text.size()) - static_cast<int32_t>(n));
}

rt::Text without_duplicates(const char* text, const char* separator) {
  const rt::Array parts = web::split_text(text, separator);
  std::vector<std::string_view> seen;
  std::string result;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string_view part = rt::text_view(parts.text_at(i));
    if (std::find(seen.begin(), seen.end(), part) != seen.end())
      continue;
    seen.push_back(part);
    result.append(part).append(separator);
  }
  return without_last(result, std::char_traits<char>::length(separator));
}

}  // namespace

void cookie_name(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, name_of(text_argument(args, 0)).release());
}

void has_cookie_named(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const TextList items(args.at(0));
  const std::string_view name = text_argument(args, 1);
  for (size_t i = 0; i < items.size(); ++i) {
    if (name_of(items.at(i)).view() == name) {
      rt::set_bool(r, true);
      return;
    }
  }
  rt::set_bool(r, false);
}

void index_of_item(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const TextList items(args.at(0));
  const std::string_view text = text_argument(args, 1);
  for (size_t i = 0; i < items.size(); ++i) {
    if (text == items.at(i)) {
      rt::set_int(r, static_cast<int32_t>(i + 1));
      return;
    }
  }
  rt::set_int(r, -1);
}

void remove_duplicate_items(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, without_duplicates(text_argument(args, 0), text_argument(args, 1)).release());
}

void merge_cookies(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::Text old_cookies = web::remove_spaces(text_argument(args, 0));
  rt::Text new_cookies = web::remove_spaces(text_argument(args, 1));
  const rt::Array old_items = web::split_text(old_cookies.c_str(), ";");
  const rt::Array new_items = web::split_text(new_cookies.c_str(), ";");

  // The new items first, then each old item whose name is not there yet. Names are worked out
  // once per item, so a long cookie text costs comparisons, not conversions.
  std::vector<std::string_view> items;
  std::vector<rt::Text> names;
  for (size_t i = 0; i < new_items.size(); ++i) {
    items.push_back(rt::text_view(new_items.text_at(i)));
    names.push_back(name_of(new_items.text_at(i) ? new_items.text_at(i) : ""));
  }
  for (size_t i = 0; i < old_items.size(); ++i) {
    const char* item = old_items.text_at(i) ? old_items.text_at(i) : "";
    rt::Text name = name_of(item);
    const bool known = std::any_of(names.begin(), names.end(), [&](const rt::Text& other) {
      return other.view() == name.view();
    });
    if (known)
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
  rt::Text result = without_duplicates(without_last(merged, 2).c_str(), "; ");

  store_text(args.at(1), std::move(new_cookies));
  store_text(args.at(0), result.copy());
  rt::set_text(r, result.release());
}

}  // namespace web::cmd
