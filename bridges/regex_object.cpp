#include "bridges/regex_object.h"

#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "platform/automation/object_model.h"
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

using automation::DISPID;
using automation::FAILED;
using automation::IDispatch;
using automation::Ref;
using automation::VARIANT;

// A variant that clears what it holds when it goes.
struct Value {
  VARIANT v;
  Value() { VariantInit(&v); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value() { VariantClear(&v); }
};

DISPID member_id(IDispatch* object, const char16_t* name, automation::LCID lcid) {
  DISPID id = automation::DISPID_UNKNOWN;
  const char16_t* names[] = {name};
  if (!object || FAILED(object->GetIDsOfNames(automation::IID_NULL, names, 1, lcid, &id)))
    return automation::DISPID_UNKNOWN;
  return id;
}

// Reads a property by member id, with an item number (from 0) when `index` is given; false and
// an empty `out` when the read fails.
bool read(IDispatch* object, DISPID id, automation::LCID lcid, const int32_t* index, Value& out) {
  if (!object || id == automation::DISPID_UNKNOWN)
    return false;
  VARIANT argument;
  VariantInit(&argument);
  automation::DISPPARAMS params{nullptr, nullptr, 0, 0};
  if (index) {
    argument.vt = automation::VT_I4;
    argument.lVal = *index;
    params.rgvarg = &argument;
    params.cArgs = 1;
  }
  uint32_t argument_error = 0;
  if (FAILED(object->Invoke(id, automation::IID_NULL, lcid, automation::DISPATCH_PROPERTYGET,
                            &params, &out.v, nullptr, &argument_error))) {
    VariantClear(&out.v);
    return false;
  }
  return true;
}

// The object a property gives, or null.
Ref<IDispatch> read_object(IDispatch* object, DISPID id, automation::LCID lcid,
                           const int32_t* index) {
  Value value;
  if (!read(object, id, lcid, index, value))
    return {};
  if (value.v.vt == automation::VT_DISPATCH) {
    value.v.vt = automation::VT_EMPTY;  // the reference moves out
    return Ref<IDispatch>(value.v.pdispVal);
  }
  if (value.v.vt == automation::VT_UNKNOWN)
    return automation::query<IDispatch>(value.v.punkVal, automation::IID_IDispatch);
  return {};
}

// A property's value as local text: empty when the read fails or the value has no text form.
rt::Text read_text(IDispatch* object, DISPID id, automation::LCID lcid, const int32_t* index) {
  Value value;
  if (!read(object, id, lcid, index, value))
    return {};
  if (value.v.vt == automation::VT_BSTR) {
    return rt::Text::adopt(string_to_text(value.v.bstrVal, SysStringLen(value.v.bstrVal)));
  }
  return variant_to_text(&value.v);
}

// A property's value as a number; 0 when the read or the change to a number fails.
double read_number(IDispatch* object, DISPID id, automation::LCID lcid) {
  Value value, number;
  if (!read(object, id, lcid, nullptr, value) ||
      FAILED(VariantChangeType(&number.v, &value.v, 0, automation::VT_R8))) {
    return 0;
  }
  return number.v.dblVal;
}

// An item number from 1 as the engine's index from 0, when it has one.
std::optional<int32_t> index_of(int32_t n) {
  if (n == std::numeric_limits<int32_t>::min())
    return std::nullopt;
  return n - 1;
}

}  // namespace

// The run's results by member id: the collection's members are bound once per run, a match's and
// a sub-match collection's at the first match taken (every match is of one class), and the
// match last asked for is kept with its sub-match collection.
struct RegexObject::Cursor {
  automation::LCID lcid = GetUserDefaultLCID();
  Ref<IDispatch> matches;
  DISPID item = automation::DISPID_UNKNOWN;
  bool match_members_bound = false;
  DISPID value = automation::DISPID_UNKNOWN;
  DISPID first_index = automation::DISPID_UNKNOWN;
  DISPID sub_matches = automation::DISPID_UNKNOWN;
  DISPID group_item = automation::DISPID_UNKNOWN;

  int32_t number = 0;  // the match held (from 1); 0: none
  Ref<IDispatch> match;
  Ref<IDispatch> groups;  // its sub-match collection, once asked for
  bool groups_read = false;

  explicit Cursor(const Object& collection) {
    matches = automation::query<IDispatch>(collection.get(), automation::IID_IDispatch);
    item = member_id(matches.get(), u"Item", lcid);
  }

  // Match n (from 1), or null.
  IDispatch* take(int32_t n) {
    if (n == number && n != 0)
      return match.get();
    number = 0;
    match.reset();
    groups.reset();
    groups_read = false;
    const std::optional<int32_t> index = index_of(n);
    if (!index)
      return nullptr;
    match = read_object(matches.get(), item, lcid, &*index);
    if (!match)
      return nullptr;
    number = n;
    if (!match_members_bound) {
      value = member_id(match.get(), u"Value", lcid);
      first_index = member_id(match.get(), u"FirstIndex", lcid);
      sub_matches = member_id(match.get(), u"SubMatches", lcid);
      match_members_bound = true;
    }
    return match.get();
  }

  // The sub-match collection of match n, or null.
  IDispatch* groups_of(int32_t n) {
    if (!take(n))
      return nullptr;
    if (!groups_read) {
      groups_read = true;
      groups = read_object(match.get(), sub_matches, lcid, nullptr);
      if (groups && group_item == automation::DISPID_UNKNOWN)
        group_item = member_id(groups.get(), u"Item", lcid);
    }
    return groups.get();
  }
};

RegexObject::RegexObject() {
  initialise_thread();
}

RegexObject::~RegexObject() {
  cursor_.reset();
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
  cursor_.reset();
  return *this;
}

bool RegexObject::create(const char* pattern, const char* subject, const Options& options) {
  const bool ignore_case = !options.case_sensitive.value_or(false);
  const bool multiline = options.multiline.value_or(true);
  const bool global = options.global.value_or(true);

  // An instance is reused page after page: nothing of the last run stays.
  cursor_.reset();
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

RegexObject::Cursor& RegexObject::cursor() const {
  if (!cursor_)
    cursor_ = std::make_unique<Cursor>(matches_);
  return *cursor_;
}

rt::Text RegexObject::match_text(int32_t n, int32_t* position) const {
  Cursor& c = cursor();
  IDispatch* match = c.take(n);
  rt::Text text = read_text(match, c.value, c.lcid, nullptr);
  if (position)
    *position = match ? byte_offset(read_number(match, c.first_index, c.lcid)) : -1;
  return text;
}

rt::Text RegexObject::submatch_text(int32_t n, int32_t k, int32_t* position) const {
  Cursor& c = cursor();
  const std::optional<int32_t> group = index_of(k);
  // The collection first: its first use binds group_item.
  IDispatch* groups = group ? c.groups_of(n) : nullptr;
  rt::Text text = groups ? read_text(groups, c.group_item, c.lcid, &*group) : rt::Text();
  if (position) {
    *position = -1;
    // The engine gives no offsets for groups: the text is looked for from the match's start.
    if (!text.empty() && c.take(n)) {
      const int32_t from = byte_offset(read_number(c.match.get(), c.first_index, c.lcid));
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
