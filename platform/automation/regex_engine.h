// The matcher behind the regular-expression object: PCRE2 in 16-bit code units with JIT, set up
// for the scripting dialect.
//
// Dialect: ECMAScript-style escapes (\uhhhh, \xhh), "[]" matches nothing and "[^]" anything, a
// back reference to a group that took no part matches the empty string, "$" without multi-line
// matches only at the very end, and CR, LF and CRLF end lines. Offsets count UTF-16 code units.
// Global runs move one character on after an empty match.
//
// A character beyond U+FFFF (a surrogate pair) is one character: "." matches it whole and a
// quantifier after it repeats the whole pair, as in ECMAScript's Unicode mode. The platform's
// object reads patterns unit by unit, so its quantifier takes only the pair's second unit: with
// X for U+1F600, over valid text its "X+" matches one X at most, its "X{2}" never matches and
// its "X?" can match half a character. A matcher that keeps every match on whole characters
// cannot give those results, and they are of no use to a caller; pairs stay whole.
//
// Beyond that dialect, PCRE2's own syntax is taken with PCRE2's meaning: "\Q" quotes everything
// up to "\E" or to the end of the pattern, "|" and ")" included; "(?x)" turns on extended mode,
// where "#" starts a comment that runs to the next line break or to the end of the pattern;
// "(?#...)" is a comment. The platform's object has none of these (it reads "\Q" and "\E" as the
// letters and refuses "(?x)" and "(?#"), so patterns written for it do not meet them; a pattern
// that uses them matches as PCRE2 matches it.
//
// Bounds: each run has a match limit per start position, a heap limit, a JIT stack of its thread
// (at most 1 MiB) and a time limit for the whole run, checked at every start position that gets
// past the pattern's leading plain characters; the subject's UTF-16 is validated once per run.
// Any of these failing fails the whole run, never ends it early with the matches so far.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/automation.h"

namespace automation::regex {

struct Options {
  bool ignore_case = false;
  bool multiline = false;
};

class Pattern {
 public:
  // The compiled pattern, or null with kErrorPatternSyntax (or E_OUTOFMEMORY) in *error.
  static std::shared_ptr<const Pattern> compile(std::u16string_view source, Options options,
                                                HRESULT* error);
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  uint32_t group_count() const { return groups_; }
  const void* code() const { return code_; }

 private:
  Pattern(void* code, uint32_t groups) : code_(code), groups_(groups) {}
  void* code_;  // pcre2_code_16
  uint32_t groups_;
};

inline constexpr uint32_t kUnset = 0xFFFFFFFFu;

// The matches of one run: for match i, (groups + 1) pairs of start and end offsets, kUnset for a
// group that took no part.
struct Matches {
  uint32_t groups = 0;
  std::vector<uint32_t> offsets;

  size_t count() const { return offsets.size() / (2 * (size_t{groups} + 1)); }
  uint32_t start(size_t match, uint32_t group) const { return at(match, group, 0); }
  uint32_t end(size_t match, uint32_t group) const { return at(match, group, 1); }

 private:
  uint32_t at(size_t match, uint32_t group, size_t which) const {
    return offsets[(match * (size_t{groups} + 1) + group) * 2 + which];
  }
};

// Every match (or only the first, when `global` is false). S_OK, or kErrorMatchAbandoned when
// the run hit a limit, the subject is not valid UTF-16, or more matches were found than we keep.
HRESULT find_matches(const Pattern& pattern, std::u16string_view subject, bool global,
                     Matches& out);

// The subject with every match (or the first) replaced by `replacement`, whose $1..$99, $&, $`,
// $' and $$ name a group, the match, the text before and after it, and "$".
HRESULT replace_matches(const Pattern& pattern, std::u16string_view subject,
                        std::u16string_view replacement, bool global, std::u16string& out);

// Whether the pattern matches anywhere in the subject.
HRESULT test_match(const Pattern& pattern, std::u16string_view subject, bool& found);

// Time allowed for one run over one subject (process-wide; tests shorten it).
FF_AUTOMATION_EXPORT void set_time_limit(std::chrono::milliseconds limit);
FF_AUTOMATION_EXPORT std::chrono::milliseconds time_limit();

}  // namespace automation::regex
