// libFuzzer harness for merging cookie texts (web/cookies.cpp), through its argument cells with
// both variables lent the way web_request lends them. Checked against the contract read with
// the plain walk of reference_text.h: spaces go (at character starts; the ideographic space
// too), both texts split at ";", the new items first, then each old item whose name (the text
// before the first "=", trimmed) is not there yet, items ending "=deleted" dropped, joined with
// "; " and duplicates removed. The old variable receives the merged text, the new one its form
// without spaces.
//
// Input: old cookies, then new cookies, separated by a zero byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"
#include "web/cookies.h"

namespace {

using namespace fuzz::reference;

std::vector<std::string> split(std::string_view t, std::string_view separator) {
  std::vector<std::string> parts;
  if (t.empty())
    return parts;
  size_t pos = 0;
  for (size_t q; (q = reference_find(t, separator, false, pos, t.size())) != kNone;) {
    parts.emplace_back(t.substr(pos, q - pos));
    pos = q + separator.size();
  }
  if (pos < t.size())
    parts.emplace_back(t.substr(pos));
  return parts;
}

std::string name_of(std::string_view item) {
  const size_t equals = reference_find(item, "=", false, 0, item.size());
  return reference_trim(equals == kNone ? item : item.substr(0, equals));
}

std::string without_duplicates(std::string_view text, std::string_view separator) {
  std::vector<std::string> seen;
  std::string out;
  for (const std::string& part : split(text, separator)) {
    if (std::find(seen.begin(), seen.end(), part) != seen.end())
      continue;
    seen.push_back(part);
    out.append(part).append(separator);
  }
  return out.substr(0, out.size() - std::min(out.size(), separator.size()));
}

std::string merged(std::string_view old_text, std::string_view new_text) {
  std::vector<std::string> items;
  std::vector<std::string> names;
  for (const std::string& item : split(reference_remove_spaces(new_text), ";")) {
    items.push_back(item);
    names.push_back(name_of(item));
  }
  for (const std::string& item : split(reference_remove_spaces(old_text), ";")) {
    std::string name = name_of(item);
    if (std::find(names.begin(), names.end(), name) != names.end())
      continue;
    items.push_back(item);
    names.push_back(std::move(name));
  }
  std::string joined;
  for (const std::string& item : items) {
    if (std::string_view(item).ends_with("=deleted"))
      continue;
    joined.append(item).append("; ");
  }
  return without_duplicates(joined.substr(0, joined.size() - std::min<size_t>(joined.size(), 2)),
                            "; ");
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const std::string old_text(in.field());
  const std::string new_text(in.field());
  rt::Text old_cookies(old_text);
  rt::Text new_cookies(new_text);
  const rt::Text result = web::merge_cookies(old_cookies, new_cookies);
  const std::string expected = merged(old_text, new_text);
  FF_CHECK(result.view() == expected);
  FF_CHECK(old_cookies.view() == expected);
  FF_CHECK(new_cookies.view() == reference_remove_spaces(new_text));
  return 0;
}
