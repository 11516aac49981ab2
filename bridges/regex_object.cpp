#include "bridges/regex_object.h"

#include <cmath>
#include <limits>
#include <utility>

#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "web/text_ops.h"

namespace bridges {
namespace {

using CoInitializeFn = automation::HRESULT(void*);
using CoUninitializeFn = void();

void initialise_thread() {
  rt::dll_function<CoInitializeFn>(rt::kImportCoInitialize)(nullptr);
}
void uninitialise_thread() {
  rt::dll_function<CoUninitializeFn>(rt::kImportCoUninitialize)();
}

// A count read as a double, truncated toward zero and kept within int range.
int32_t truncate_count(double d) {
  if (!(d > 0))
    return 0;
  if (d >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(d);
}

// Item numbers travel as doubles, 0-based.
double item_index(int32_t n) {
  return static_cast<double>(n) - 1.0;
}

}  // namespace

RegexObject::RegexObject() {
  initialise_thread();
}

RegexObject::~RegexObject() {
  clear_object(engine_);
  clear_object(matches_);
  clear_variant(subject_);
  uninitialise_thread();
}

RegexObject::RegexObject(const RegexObject& other) {
  initialise_thread();
  copy_object(engine_, other.engine_);
  copy_object(matches_, other.matches_);
  assign_variant(subject_, other.subject_);
}

RegexObject& RegexObject::operator=(const RegexObject& other) {
  if (this == &other)
    return *this;
  copy_object(engine_, other.engine_);
  copy_object(matches_, other.matches_);
  assign_variant(subject_, other.subject_);
  cached_units_ = 0;
  cached_bytes_ = 0;
  subject_text_.reset();
  return *this;
}

bool RegexObject::create(const char* pattern, const char* subject, const Options& options) {
  const bool ignore_case = !options.case_sensitive.value_or(false);
  const bool multiline = options.multiline.value_or(true);
  const bool global = options.global.value_or(true);

  // An instance is reused page after page: nothing of the last run stays.
  clear_object(engine_);
  clear_object(matches_);
  cached_units_ = 0;
  cached_bytes_ = 0;
  subject_text_.reset();

  create_object(engine_, "VBScript.RegExp");
  write_property(engine_, "IgnoreCase", ignore_case);
  write_property(engine_, "Multiline", multiline);
  // The engine has no such member; the write fails quietly and "." keeps its meaning. Patterns
  // that cross lines use [\s\S].
  write_property(engine_, "Singleline", true);
  write_property(engine_, "Global", global);

  rt::Text prepared = options.quote_placeholder.value_or(false)
                          ? rt::Text(web::text_ops::replace(rt::text_view(pattern), "#引号", "\"",
                                                            web::text_ops::Case::kExact))
                          : rt::Text::adopt(rt::copy_text(pattern));
  char* pattern_variable = prepared.release();
  write_property(engine_, "Pattern", rt::Ref<char*>{&pattern_variable});
  prepared.reset(pattern_variable);

  set_variant(subject_, subject ? subject : "");
  matches_ = call_object_method(engine_, "Execute", subject_);
  return !object_is_empty(matches_);
}

rt::Text RegexObject::pattern() const {
  if (object_is_empty(engine_))
    return {};
  return read_text_property(engine_, "Pattern");
}

rt::Text RegexObject::replace(const char* replacement) const {
  Variant with;
  set_variant(with, replacement ? replacement : "");
  rt::Text result = call_text_method(engine_, "Replace", subject_, with.ref_cell());
  clear_variant(with);
  return result;
}

int32_t RegexObject::match_count() const {
  return truncate_count(read_number_property(matches_, "Count"));
}

rt::Text RegexObject::match_text(int32_t n, int32_t* position) const {
  const Object match = read_object_property(matches_, "Item", item_index(n));
  Variant value = read_variant_property(match, "Value");
  rt::Text text = variant_to_text(value);
  clear_variant(value);
  if (position) {
    *position = match.empty() ? -1 : byte_offset(read_number_property(match, "FirstIndex"));
  }
  return text;
}

rt::Text RegexObject::submatch_text(int32_t n, int32_t k, int32_t* position) const {
  const Object match = read_object_property(matches_, "Item", item_index(n));
  const Object groups = read_object_property(match, "SubMatches");
  Variant value = read_variant_property(groups, "Item", item_index(k));
  rt::Text text = variant_to_text(value);
  clear_variant(value);
  if (position) {
    *position = -1;
    // The engine gives no offsets for groups: the text is looked for from the match's start.
    if (!text.empty() && !match.empty()) {
      const int32_t from = byte_offset(read_number_property(match, "FirstIndex"));
      if (from >= 0) {
        const int32_t found =
            web::text_ops::find(rt::text_view(subject_text()), text.view(), from + 1);
        *position = found > 0 ? found - 1 : -1;
      }
    }
  }
  return text;
}

int32_t RegexObject::submatch_count() const {
  Object match = read_object_property(matches_, "Item", int32_t{0});
  Object groups = read_object_property(match, "SubMatches");
  clear_object(match);
  const double count = read_number_property(groups, "Count");
  clear_object(groups);
  return truncate_count(count);
}

// The byte offset in the subject's local text of the UTF-16 offset `first_index`: the length of
// the local form of the units before it.
int32_t RegexObject::byte_offset(double first_index) const {
  const automation::VARIANT* subject = subject_.get();
  if (!subject || subject->vt != automation::VT_BSTR || !std::isfinite(first_index))
    return -1;
  const uint32_t length = SysStringLen(subject->bstrVal);
  if (first_index < 0 || first_index > length)
    return -1;
  const auto units = static_cast<int32_t>(first_index);
  if (units < cached_units_) {
    cached_units_ = 0;
    cached_bytes_ = 0;
  }
  const size_t more =
      local_length(subject->bstrVal + cached_units_, static_cast<size_t>(units - cached_units_));
  const size_t bytes = static_cast<size_t>(cached_bytes_) + more;
  if (bytes > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return -1;
  cached_units_ = units;
  cached_bytes_ = static_cast<int32_t>(bytes);
  return cached_bytes_;
}

const char* RegexObject::subject_text() const {
  if (subject_text_.empty())
    subject_text_ = variant_to_text(subject_);
  return subject_text_.c_str();
}

}  // namespace bridges
