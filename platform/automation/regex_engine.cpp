#include "platform/automation/regex_engine.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <atomic>
#include <new>

namespace automation::regex {
namespace {

using Clock = std::chrono::steady_clock;

// Per start position: the matcher's own step count, and the interpreter's heap in KiB.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kHeapLimitKiB = 64 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 1024 * 1024;
constexpr PCRE2_SIZE kMaxPatternUnits = 1 << 20;
// Offsets kept for one run (128 MiB), and the longest replacement result (128 MiB).
constexpr size_t kMaxStoredOffsets = size_t{1} << 25;
constexpr size_t kMaxReplacedUnits = size_t{1} << 26;
// The clock is read at every so many start positions.
constexpr uint32_t kClockEvery = 16;

std::atomic<int64_t> g_time_limit_ms{5000};

const PCRE2_UCHAR16* units(std::u16string_view s) {
  static const char16_t kEmpty[1] = {0};
  return reinterpret_cast<const PCRE2_UCHAR16*>(s.data() ? s.data() : kEmpty);
}

// Each thread matches on its own JIT stack, made at its first run.
class JitStack {
 public:
  ~JitStack() {
    if (stack_)
      pcre2_jit_stack_free_16(stack_);
  }
  pcre2_jit_stack_16* get() {
    if (!stack_)
      stack_ = pcre2_jit_stack_create_16(kJitStackStart, kJitStackMax, nullptr);
    return stack_;
  }

 private:
  pcre2_jit_stack_16* stack_ = nullptr;
};
thread_local JitStack t_jit_stack;

struct Budget {
  Clock::time_point deadline;
  uint32_t countdown = kClockEvery;
};

// Called at every start position the matcher tries beyond its first plain characters.
int check_budget(pcre2_callout_block_16*, void* data) {
  auto* budget = static_cast<Budget*>(data);
  if (--budget->countdown != 0)
    return 0;
  budget->countdown = kClockEvery;
  return Clock::now() > budget->deadline ? PCRE2_ERROR_CALLOUT : 0;
}

// One run over one subject, match after match.
class Scan {
 public:
  Scan(const Pattern& pattern, std::u16string_view subject)
      : code_(static_cast<const pcre2_code_16*>(pattern.code())), subject_(subject) {
    budget_.deadline = Clock::now() + time_limit();
    context_ = pcre2_match_context_create_16(nullptr);
    data_ = pcre2_match_data_create_from_pattern_16(code_, nullptr);
    if (!context_ || !data_)
      return;
    pcre2_set_match_limit_16(context_, kMatchLimit);
    pcre2_set_heap_limit_16(context_, kHeapLimitKiB);
    pcre2_set_callout_16(context_, &check_budget, &budget_);
    if (pcre2_jit_stack_16* stack = t_jit_stack.get()) {
      pcre2_jit_stack_assign_16(context_, nullptr, stack);
    }
    ready_ = true;
  }
  ~Scan() {
    pcre2_match_data_free_16(data_);
    pcre2_match_context_free_16(context_);
  }
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  // 1: a match (see ovector); 0: no more matches; negative: the run failed.
  int next() {
    if (!ready_)
      return PCRE2_ERROR_NOMEMORY;
    if (done_ || start_ > subject_.size())
      return 0;
    const int rc =
        pcre2_match_16(code_, units(subject_), subject_.size(), start_, options_, data_, context_);
    // The first call validated the whole subject; later ones skip that.
    options_ = PCRE2_NO_UTF_CHECK;
    if (rc == PCRE2_ERROR_NOMATCH) {
      done_ = true;
      return 0;
    }
    if (rc < 0)
      return rc;
    ovector_ = pcre2_get_ovector_pointer_16(data_);
    const PCRE2_SIZE start = ovector_[0];
    const PCRE2_SIZE end = ovector_[1];
    if (end < start || end > subject_.size())
      return PCRE2_ERROR_INTERNAL;
    start_ = end > start ? end : step_over(end);
    return 1;
  }

  const PCRE2_SIZE* ovector() const { return ovector_; }

 private:
  // After an empty match the search goes on one character later (a surrogate pair is one).
  size_t step_over(size_t at) const {
    if (at + 1 < subject_.size() && subject_[at] >= 0xD800 && subject_[at] <= 0xDBFF &&
        subject_[at + 1] >= 0xDC00 && subject_[at + 1] <= 0xDFFF) {
      return at + 2;
    }
    return at + 1;
  }

  const pcre2_code_16* code_;
  std::u16string_view subject_;
  Budget budget_;
  pcre2_match_context_16* context_ = nullptr;
  pcre2_match_data_16* data_ = nullptr;
  const PCRE2_SIZE* ovector_ = nullptr;
  size_t start_ = 0;
  uint32_t options_ = 0;
  bool ready_ = false;
  bool done_ = false;
};

uint32_t offset_or_unset(PCRE2_SIZE v) {
  return v == PCRE2_UNSET ? kUnset : static_cast<uint32_t>(v);
}

pcre2_code_16* compile_text(std::u16string_view source, uint32_t options,
                            pcre2_compile_context_16* context) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  return pcre2_compile_16(units(source), source.size(), options, &error, &offset, context);
}

// Whether c stands for itself at the top level of a pattern.
bool plain_literal(char16_t c) {
  if (c >= 0x80)
    return true;
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
    return true;
  return std::u16string_view(u" !\"%&',-/:;<=>@_~`").find(c) != std::u16string_view::npos;
}

bool high_surrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool low_surrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Where the escape starting at s[i] ("\\") ends. "\\cX" takes the character after it whatever it
// is; every other escape that goes on past its letter goes on with letters, digits or braces.
size_t escape_end(std::u16string_view s, size_t i) {
  return i + 1 < s.size() && s[i + 1] == u'c' ? i + 3 : i + 2;
}

bool option_letter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'^' || c == u'-';
}

// Whether every "|" of a pattern that compiles lies inside a group, so that every match begins
// with the pattern's leading characters. Answers false for what it does not follow exactly:
// quoted runs, extended mode (where "#" comments hide anything), callouts of the pattern's own,
// verbs and POSIX classes.
bool one_alternative(std::u16string_view s) {
  size_t depth = 0;
  for (size_t i = 0; i < s.size();) {
    const std::u16string_view rest = s.substr(i);
    const char16_t c = s[i];
    if (c == u'\\') {
      if (rest.starts_with(u"\\Q"))
        return false;
      i = escape_end(s, i);
    } else if (c == u'[') {
      // A class runs to its closing "]"; with empty classes allowed, a "]" right after "[" or
      // "[^" closes it.
      i += rest.starts_with(u"[^") ? 2 : 1;
      while (i < s.size() && s[i] != u']') {
        if (s[i] == u'\\') {
          if (s.substr(i).starts_with(u"\\Q"))
            return false;
          i = escape_end(s, i);
        } else if (s[i] == u'[' && i + 1 < s.size() &&
                   std::u16string_view(u":.=").find(s[i + 1]) != std::u16string_view::npos) {
          return false;
        } else {
          ++i;
        }
      }
      ++i;
    } else if (c == u'(') {
      if (rest.starts_with(u"(?#")) {  // a comment ends at the first ")"
        const size_t close = s.find(u')', i);
        if (close == std::u16string_view::npos)
          return false;
        i = close + 1;
        continue;
      }
      if (rest.starts_with(u"(*") || rest.starts_with(u"(?C"))
        return false;
      if (rest.starts_with(u"(?")) {
        for (size_t j = i + 2; j < s.size() && option_letter(s[j]); ++j) {
          if (s[j] == u'x')
            return false;
        }
      }
      ++depth;
      ++i;
    } else if (c == u')') {
      if (depth == 0)
        return false;
      --depth;
      ++i;
    } else if (c == u'|' && depth == 0) {
      return false;
    } else {
      ++i;
    }
  }
  return depth == 0;
}

// Where the pattern's leading plain characters end, so that callout 1 can go there without
// parting the last of them from a quantifier. Zero when the pattern has alternatives outside
// any group: the callout then goes in front of them all.
size_t plain_prefix(std::u16string_view source) {
  if (!one_alternative(source))
    return 0;
  size_t prefix = 0;
  while (prefix < source.size() && plain_literal(source[prefix])) ++prefix;
  if (prefix == 0)
    return 0;
  // Items that match nothing and are no atom may stand between a character and its quantifier:
  // "\E" outside a quoted run, an empty "\Q\E" and a "(?#...)" comment.
  std::u16string_view rest = source.substr(prefix);
  for (;;) {
    if (rest.starts_with(u"\\Q\\E")) {
      rest.remove_prefix(4);
    } else if (rest.starts_with(u"\\E")) {
      rest.remove_prefix(2);
    } else if (rest.starts_with(u"(?#")) {
      const size_t close = rest.find(u')');
      if (close == std::u16string_view::npos)
        break;
      rest.remove_prefix(close + 1);
    } else {
      break;
    }
  }
  // A quantifier takes the last character with it, a surrogate pair being one character.
  if (!rest.empty() &&
      std::u16string_view(u"*+?{").find(rest.front()) != std::u16string_view::npos) {
    --prefix;
    if (prefix > 0 && low_surrogate(source[prefix]) && high_surrogate(source[prefix - 1]))
      --prefix;
  }
  return prefix;
}

// The pattern compiled with callout 1 at each start position. A pattern without alternatives
// that begins with plain characters gets it right after them: the matcher skips ahead to where
// they occur, each position that fails them costs a bounded comparison, and a callout at every
// candidate start would be most of the run's time on a page.
pcre2_code_16* compile_with_time_checks(std::u16string_view source, uint32_t flags,
                                        pcre2_compile_context_16* context) {
  std::u16string text;
  if (const size_t prefix = plain_prefix(source); prefix > 0) {
    text.append(source.substr(0, prefix));
    text.append(u"(?C1)");
    text.append(source.substr(prefix));
    return compile_text(text, flags, context);
  }
  // Otherwise the whole pattern goes into a group behind the callout. The group's closing
  // parenthesis must not join a quoted run or a comment that the pattern ends in: "\E" ends a
  // "\Q" run and is ignored anywhere else. Should that closing still be swallowed, the pattern
  // ends in an extended-mode comment, which a line break ends; comments exist only in extended
  // mode, which skips the line break itself.
  text = u"(?C1)(?:";
  text.append(source);
  text.append(u"\\E)");
  pcre2_code_16* code = compile_text(text, flags, context);
  if (code || source.find(u'#') == std::u16string_view::npos)
    return code;
  text.resize(text.size() - 3);
  text.append(u"\n)");
  return compile_text(text, flags, context);
}

// Appends the replacement for the current match, resolving its $ references.
bool append_replacement(std::u16string& out, std::u16string_view replacement,
                        std::u16string_view subject, const PCRE2_SIZE* ov, uint32_t groups) {
  auto append_group = [&](uint32_t g) {
    const PCRE2_SIZE s = ov[2 * g], e = ov[2 * g + 1];
    if (s != PCRE2_UNSET && e >= s)
      out.append(subject.substr(s, e - s));
  };
  auto digit = [](char16_t c) { return c >= u'0' && c <= u'9' ? c - u'0' : -1; };
  for (size_t i = 0; i < replacement.size();) {
    const char16_t c = replacement[i];
    if (c != u'$' || i + 1 == replacement.size()) {
      out.push_back(c);
      ++i;
      continue;
    }
    const char16_t n = replacement[i + 1];
    if (n == u'$') {
      out.push_back(u'$');
      i += 2;
    } else if (n == u'&') {
      append_group(0);
      i += 2;
    } else if (n == u'`') {
      out.append(subject.substr(0, ov[0]));
      i += 2;
    } else if (n == u'\'') {
      out.append(subject.substr(ov[1]));
      i += 2;
    } else if (const int d1 = digit(n); d1 >= 0) {
      // Two digits when they name a group, else one digit when it does, else a plain "$".
      const int d2 = i + 2 < replacement.size() ? digit(replacement[i + 2]) : -1;
      const int two = d2 >= 0 ? d1 * 10 + d2 : -1;
      if (two >= 1 && static_cast<uint32_t>(two) <= groups) {
        append_group(static_cast<uint32_t>(two));
        i += 3;
      } else if (d1 >= 1 && static_cast<uint32_t>(d1) <= groups) {
        append_group(static_cast<uint32_t>(d1));
        i += 2;
      } else {
        out.push_back(u'$');
        ++i;
      }
    } else {
      out.push_back(u'$');
      ++i;
    }
    if (out.size() > kMaxReplacedUnits)
      return false;
  }
  return out.size() <= kMaxReplacedUnits;
}

}  // namespace

void set_time_limit(std::chrono::milliseconds limit) {
  g_time_limit_ms.store(limit.count());
}
std::chrono::milliseconds time_limit() {
  return std::chrono::milliseconds(g_time_limit_ms.load());
}

std::shared_ptr<const Pattern> Pattern::compile(std::u16string_view source, Options options,
                                                HRESULT* error) {
  *error = kErrorPatternSyntax;
  if (source.size() > kMaxPatternUnits)
    return nullptr;
  uint32_t flags = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                   PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_BACKSLASH_C;
  if (options.ignore_case)
    flags |= PCRE2_CASELESS;
  flags |= options.multiline ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;

  pcre2_compile_context_16* context = pcre2_compile_context_create_16(nullptr);
  if (!context) {
    *error = E_OUTOFMEMORY;
    return nullptr;
  }
  pcre2_set_newline_16(context, PCRE2_NEWLINE_ANYCRLF);

  // The pattern must stand on its own; then callout 1, where the run's time limit is checked,
  // goes in where every start position that gets past a constant amount of work reaches it.
  pcre2_code_16* alone = compile_text(source, flags, context);
  uint32_t groups = 0;
  pcre2_code_16* code = nullptr;
  if (alone) {
    pcre2_pattern_info_16(alone, PCRE2_INFO_CAPTURECOUNT, &groups);
    pcre2_code_free_16(alone);
    code = compile_with_time_checks(source, flags, context);
  }
  pcre2_compile_context_free_16(context);
  if (!code)
    return nullptr;
  // Without JIT (an unsupported machine, or no memory for it) the interpreter runs instead.
  pcre2_jit_compile_16(code, PCRE2_JIT_COMPLETE);
  auto* pattern = new (std::nothrow) Pattern(code, groups);
  if (!pattern) {
    pcre2_code_free_16(code);
    *error = E_OUTOFMEMORY;
    return nullptr;
  }
  *error = S_OK;
  return std::shared_ptr<const Pattern>(pattern);
}

Pattern::~Pattern() {
  pcre2_code_free_16(static_cast<pcre2_code_16*>(code_));
}

HRESULT find_matches(const Pattern& pattern, std::u16string_view subject, bool global,
                     Matches& out) try {
  out.groups = pattern.group_count();
  out.offsets.clear();
  const size_t pairs = size_t{out.groups} + 1;
  Scan scan(pattern, subject);
  for (;;) {
    const int rc = scan.next();
    if (rc < 0)
      return kErrorMatchAbandoned;
    if (rc == 0)
      return S_OK;
    if (out.offsets.size() + 2 * pairs > kMaxStoredOffsets)
      return kErrorMatchAbandoned;
    const PCRE2_SIZE* ov = scan.ovector();
    for (size_t i = 0; i < 2 * pairs; ++i) out.offsets.push_back(offset_or_unset(ov[i]));
    if (!global)
      return S_OK;
  }
} catch (const std::bad_alloc&) {
  return E_OUTOFMEMORY;
}

HRESULT replace_matches(const Pattern& pattern, std::u16string_view subject,
                        std::u16string_view replacement, bool global, std::u16string& out) try {
  out.clear();
  Scan scan(pattern, subject);
  size_t copied = 0;  // the subject is copied up to here
  for (;;) {
    const int rc = scan.next();
    if (rc < 0)
      return kErrorMatchAbandoned;
    if (rc == 0)
      break;
    const PCRE2_SIZE* ov = scan.ovector();
    out.append(subject.substr(copied, ov[0] - copied));
    if (!append_replacement(out, replacement, subject, ov, pattern.group_count())) {
      return kErrorMatchAbandoned;
    }
    copied = ov[1];
    if (!global)
      break;
  }
  if (out.size() + (subject.size() - copied) > kMaxReplacedUnits)
    return kErrorMatchAbandoned;
  out.append(subject.substr(copied));
  return S_OK;
} catch (const std::bad_alloc&) {
  return E_OUTOFMEMORY;
}

HRESULT test_match(const Pattern& pattern, std::u16string_view subject, bool& found) {
  Scan scan(pattern, subject);
  const int rc = scan.next();
  if (rc < 0)
    return kErrorMatchAbandoned;
  found = rc == 1;
  return S_OK;
}

}  // namespace automation::regex
