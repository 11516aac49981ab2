// libFuzzer harness for the regular-expression engine behind RegexObject
// (platform/automation/regex_engine.cpp): random patterns over small subjects. A pattern either
// compiles or answers the syntax error; a run answers within its time limit (here 200 ms; the
// harness's -timeout catches a run that ignores it) with matches in order that do not overlap
// and offsets inside the subject, or says it was abandoned. Replacing where nothing matched
// keeps the subject.
//
// Input: an options byte (ignore case, multi-line, global; units from single bytes or from
// UTF-8 that reaches surrogates; a repeat count for the subject), then pattern, subject and
// replacement separated by zero bytes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/automation/regex_engine.h"

namespace {

using namespace automation;

constexpr size_t kMaxSubjectUnits = 2048;

// Bytes as UTF-16 units: one unit a byte, or read as UTF-8 that may also write surrogates and
// U+0000 (as C0 80), so that every unit, lone surrogates included, can be reached.
std::u16string units_of(std::string_view bytes, bool utf8) {
  std::u16string out;
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    const size_t length = !utf8 || b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (length == 1 || i + length > bytes.size()) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    uint32_t c = b & (0x7Fu >> length);
    for (size_t k = 1; k < length; ++k) c = c << 6 | (static_cast<uint8_t>(bytes[i + k]) & 0x3Fu);
    if (c >= 0x10000) {
      c = (c - 0x10000) & 0xFFFFF;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return out;
}

void check_matches(const regex::Matches& m, size_t subject_size, bool global) {
  FF_CHECK(global || m.count() <= 1);
  uint32_t last_end = 0;
  for (size_t i = 0; i < m.count(); ++i) {
    const uint32_t start = m.start(i, 0);
    const uint32_t end = m.end(i, 0);
    FF_CHECK(start <= end && end <= subject_size);
    FF_CHECK(i == 0 || start >= last_end);
    last_end = end;
    for (uint32_t g = 1; g <= m.groups; ++g) {
      const uint32_t gs = m.start(i, g);
      const uint32_t ge = m.end(i, g);
      FF_CHECK((gs == regex::kUnset) == (ge == regex::kUnset));
      if (gs != regex::kUnset)
        FF_CHECK(gs <= ge && ge <= subject_size);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  regex::set_time_limit(std::chrono::milliseconds(200));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t options = in.byte();
  const bool utf8 = (options & 8) != 0;
  const std::u16string pattern_text = units_of(in.field(), utf8);
  std::u16string subject = units_of(in.field(), utf8);
  const std::u16string replacement = units_of(in.field(), utf8);
  // Short subjects made longer by repeating them: backtracking shows on a few hundred units.
  const std::u16string once = subject;
  for (int i = 0; i < (options >> 4) && subject.size() + once.size() <= kMaxSubjectUnits; ++i)
    subject += once;

  HRESULT error = S_OK;
  const regex::Options flags{(options & 1) != 0, (options & 2) != 0};
  const std::shared_ptr<const regex::Pattern> pattern =
      regex::Pattern::compile(pattern_text, flags, &error);
  if (!pattern) {
    FF_CHECK(error == kErrorPatternSyntax || error == E_OUTOFMEMORY);
    return 0;
  }
  FF_CHECK(error == S_OK);
  const bool global = (options & 4) != 0;
  regex::Matches matches;
  const HRESULT found = regex::find_matches(*pattern, subject, global, matches);
  FF_CHECK(found == S_OK || found == kErrorMatchAbandoned);
  if (found == S_OK)
    check_matches(matches, subject.size(), global);

  bool any = false;
  const HRESULT tested = regex::test_match(*pattern, subject, any);
  FF_CHECK(tested == S_OK || tested == kErrorMatchAbandoned);
  if (tested == S_OK && found == S_OK)
    FF_CHECK(any == (matches.count() > 0));

  std::u16string replaced;
  const HRESULT replace = regex::replace_matches(*pattern, subject, replacement, global, replaced);
  FF_CHECK(replace == S_OK || replace == kErrorMatchAbandoned);
  if (replace == S_OK && found == S_OK && matches.count() == 0)
    FF_CHECK(replaced == subject);
  return 0;
}
