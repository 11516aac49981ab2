// RegexObject: one pattern run over one page, then its matches and groups read by number.
//
// It drives the scripting regular-expression object ("VBScript.RegExp") through the automation
// bridge: create it, set its options and pattern, run "Execute" once over the whole subject,
// then index the match collection. Texts in and out are code page 936; numbers of matches and
// groups count from 1. Every failure (no engine, a pattern that does not compile, a number out of
// range) is an empty result: false, 0 or the empty text.
//
// An instance belongs to the thread that made it: constructing one initialises the automation
// runtime on that thread and destroying it uninitialises it, one call each.
//
// Reading the results binds the collection's, a match's and a sub-match collection's members
// once per run and keeps the match last asked for, so that reading every group of every match
// of a page asks the engine for each match once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "bridges/automation_bridge.h"
#include "runtime/values.h"

namespace bridges {

// Each option of RegexObject::create may be left out: case_sensitive false, multiline true,
// global true, and quote_placeholder false (when true, every "#引号" in the pattern becomes a
// double quote).
struct RegexOptions {
  std::optional<bool> case_sensitive = std::nullopt;
  std::optional<bool> multiline = std::nullopt;
  std::optional<bool> global = std::nullopt;
  std::optional<bool> quote_placeholder = std::nullopt;
};

class RegexObject {
 public:
  using Options = RegexOptions;

  RegexObject();
  ~RegexObject();
  // Shares the other's engine and matches, and copies its subject.
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);

  // Sets up a fresh engine and runs `pattern` over `subject` once. True when the run produced a
  // match collection, also an empty one; false when the engine cannot be made or the run fails.
  bool create(const char* pattern, const char* subject, const Options& options = {});

  // The engine's current pattern; empty before the first create.
  rt::Text pattern() const;
  // The engine's Replace over the subject of the last create (group references $1.. allowed).
  rt::Text replace(const char* replacement) const;

  int32_t match_count() const;
  // The text of match n (from 1). When `position` is given it receives the 0-based byte offset
  // of the match in the subject, or -1 when there is no such match.
  rt::Text match_text(int32_t n, int32_t* position = nullptr) const;
  // The text of group k (from 1) of match n (from 1); empty for a group that took no part. When
  // `position` is given it receives the 0-based byte offset of the first occurrence of that text
  // at or after the start of the match, or -1 when the text is empty or there is no such match.
  rt::Text submatch_text(int32_t n, int32_t k, int32_t* position = nullptr) const;
  // The number of groups of the first match; 0 when there is no match.
  int32_t submatch_count() const;

 private:
  struct Cursor;

  int32_t byte_offset(double first_index) const;
  const char* subject_text() const;
  // The reader of the run's results, made at the first read after a create.
  Cursor& cursor() const;

  Object engine_;
  Object matches_;
  Variant subject_;

  // Positions are asked for in ascending order by most callers, so the conversion of the
  // subject's prefix goes on from the last one asked for.
  mutable int32_t cached_units_ = 0;
  mutable int32_t cached_bytes_ = 0;
  mutable rt::Text subject_text_;
  mutable std::unique_ptr<Cursor> cursor_;
};

}  // namespace bridges
