// Searching, replacing and splitting: byte positions, character stepping, ranges, and the fast
// search checked against a plain character-by-character walk on random and periodic texts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "web/commands.h"

namespace {

using web::OptBool;
using web::OptInt;
using web::OptText;

TEST(FindText, PositionsRangesAndCharacterStarts) {
  const struct {
    const char* text;
    const char* sought;
    OptInt start;
    OptBool fold;
    int32_t forward, backward;
  } cases[] = {
      {"abcabc", "c", 4, {}, 6, 3},
      {"abcabc", "c", {}, {}, 3, 6},
      {"abcabc", "c", 6, {}, 6, 3},
      {"abcabc", "c", 3, {}, 3, -1},
      {"abcabc", "abc", 100, {}, -1, 4},
      {"abcabc", "abc", -5, {}, 1, -1},
      {"ABC", "b", {}, true, 2, 2},
      {"ABC", "b", {}, false, -1, -1},
      {"abc", "", 3, {}, 1, 1},
      {"abc", "", 4, {}, -1, 1},
      {"", "", {}, {}, -1, -1},
      {"abc", "abcd", {}, {}, -1, -1},
      {nullptr, "a", {}, {}, -1, -1},
      {"a", nullptr, {}, {}, 1, 1},
      {"\xB0\x61", "a", {}, {}, -1, -1},  // 'a' as a trail byte
      {"\xB0\x61\x61", "a", {}, {}, 3, 3},
      {"\xB0\xB0\xB0\xB0", "\xB0\xB0", {}, {}, 1, 3},
      {"\xB0\x41", "a", {}, true, -1, -1},
      {"\xB0\x61", "a", 2, {}, 2, -1},     // a start inside a character begins the walk there
      {"ab\xB0", "\xB0", {}, {}, -1, -1},  // a lone lead byte at the end ends the walk
      {"\xB0\xA1", "\xB0", 2, {}, -1, 1},  // the backward range may end inside a character
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text ? c.text : "")) + " / " +
                 (c.sought ? c.sought : ""));
    EXPECT_EQ(web::find_text(c.text, c.sought, c.start, c.fold), c.forward);
    EXPECT_EQ(web::find_text_backward(c.text, c.sought, c.start, c.fold), c.backward);
  }
}

TEST(ReplaceText, CountStartCaseAndNoRescan) {
  const struct {
    const char* text;
    const char* sought;
    OptText replacement;
    OptInt start, count;
    OptBool case_sensitive;
    std::string_view expected;
  } cases[] = {
      {"aaa", "a", "b", {}, 2, true, "bba"},
      {"abc", "b", {}, {}, {}, true, "ac"},
      {"xAx", "a", "-", {}, {}, false, "x-x"},
      {"xAx", "a", "-", {}, {}, {}, "x-x"},
      {"xAx", "a", "-", {}, {}, true, "xAx"},
      {"aaa", "a", "b", 2, -3, {}, "abb"},
      {"aaa", "a", "b", 4, {}, {}, "aaa"},
      {"aa", "a", "aa", {}, {}, {}, "aaaa"},  // the replacement is not searched again
      {"\xB0\x61\x61",
       "a",
       "b",
       {},
       {},
       {},
       "\xB0\x61"
       "b"},
      {"a\xB0", "\xB0", "b", {}, {}, {}, "a\xB0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(web::replace_text(c.text, c.sought, c.replacement, c.start, c.count, c.case_sensitive)
                  .view(),
              c.expected);
  }
}

TEST(SplitText, ElementsAndLimits) {
  using List = std::vector<std::string>;
  const struct {
    const char* text;
    OptText separator;
    OptInt max_count;
    List expected;
  } cases[] = {
      {"a,b,c", {}, {}, {"a", "b", "c"}},
      {"", {}, {}, {}},
      {"a,,b", {}, {}, {"a", "", "b"}},
      {"a,b,", {}, {}, {"a", "b"}},
      {",a", {}, {}, {"", "a"}},
      {"a,b,c", {}, 2, {"a", "b"}},
      {"a,b,c", {}, -1, {}},
      {"a,b", "", {}, {"a,b"}},
      {"a<>b", "<>", {}, {"a", "b"}},
      {"aXbxc", "x", {}, {"aXb", "c"}},
      {"\xB0,\xB1,", ",", {}, {"\xB0,\xB1,"}},  // commas as trail bytes never cut
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    const rt::Array array = web::split_text(c.text, c.separator, c.max_count);
    ASSERT_EQ(array.shape().dimensions, 1);
    List got;
    for (size_t i = 0; i < array.size(); ++i) got.emplace_back(rt::text_view(array.text_at(i)));
    EXPECT_EQ(got, c.expected);
  }
}

// --- The same rules walked one character at a time, as plainly as they read ---

bool lead(char c) {
  return static_cast<uint8_t>(c) >= 0x80;
}
char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
bool same_at(const std::string& t, size_t p, const std::string& s, bool folding) {
  if (p + s.size() > t.size())
    return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (folding ? fold(t[p + i]) != fold(s[i]) : t[p + i] != s[i])
      return false;
  }
  return true;
}
bool walk_ends(const std::string& t, size_t i) {
  return lead(t[i]) && i + 1 == t.size();
}

void expect_same_as_plain_walk(const std::string& t, const std::string& s, size_t from) {
  SCOPED_TRACE(testing::PrintToString(t) + " / " + testing::PrintToString(s));
  const auto start = static_cast<int32_t>(from + 1);
  const size_t range = std::min(from, t.size());
  for (const bool folding : {false, true}) {
    int32_t forward = -1, backward = -1;
    for (size_t i = from; i < t.size() && !walk_ends(t, i); i += lead(t[i]) ? 2 : 1) {
      if (forward < 0 && same_at(t, i, s, folding))
        forward = static_cast<int32_t>(i + 1);
    }
    for (size_t i = 0; i < t.size() && !walk_ends(t, i); i += lead(t[i]) ? 2 : 1) {
      if (i + s.size() > range)
        break;
      if (same_at(t, i, s, folding))
        backward = static_cast<int32_t>(i + 1);
    }
    EXPECT_EQ(web::find_text(t.c_str(), s.c_str(), start, folding), forward);
    EXPECT_EQ(web::find_text_backward(t.c_str(), s.c_str(), start, folding), backward);
  }
  if (from >= t.size())
    return;
  std::string replaced = t.substr(0, from);
  size_t i = from;
  while (i < t.size() && !walk_ends(t, i)) {
    const bool match = same_at(t, i, s, false);
    const size_t step = match ? s.size() : lead(t[i]) ? 2 : 1;
    replaced += match ? "#" : t.substr(i, step);
    i += step;
  }
  replaced += t.substr(std::min(i, t.size()));
  EXPECT_EQ(web::replace_text(t.c_str(), s.c_str(), "#", start, {}, true).view(), replaced);
}

std::string random_text(std::mt19937& rng, size_t length) {
  static constexpr char kAlphabet[] = {'a', 'A', 'b', ' ', ',', '\xB0', '\xA1', '\x81'};
  std::string t;
  for (size_t i = 0; i < length; ++i) t += kAlphabet[rng() % sizeof kAlphabet];
  return t;
}

TEST(SearchAgreesWithPlainWalk, ShortRandomTexts) {
  std::mt19937 rng(936);
  for (int round = 0; round < 3000; ++round) {
    const std::string t = random_text(rng, rng() % 24);
    expect_same_as_plain_walk(t, random_text(rng, 1 + rng() % 3), rng() % (t.size() + 2));
  }
}

// Long periodic texts make candidates fail (or overlap) again and again, which moves the search
// onto its prefix table; the answers must not change.
TEST(SearchAgreesWithPlainWalk, LongPeriodicTexts) {
  std::mt19937 rng(20);
  for (int round = 0; round < 60; ++round) {
    const std::string unit = random_text(rng, 1 + rng() % 3);
    std::string t;
    while (t.size() < 12000) t += unit;
    t[rng() % t.size()] = 'b';
    std::string s = t.substr(rng() % (t.size() - 80), 20 + rng() % 60);
    if (round % 2 == 0)
      s.back() = 'b';
    expect_same_as_plain_walk(t, s, round % 3 == 0 ? rng() % t.size() : 0);
  }
}

}  // namespace
