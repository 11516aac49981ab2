#include "units/property_data.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "units/byte_io.h"

namespace units {
namespace {

using rt::PropertyInfo;

const char* const kBorderChoices[] = {"none", "sunken", "raised", "shallow",
                                      "bump", "line",   nullptr};
const char* const kWindowBorderChoices[] = {"none", "sizeable",      "fixed", "dialog",
                                            "tool", "sizeable_tool", nullptr};
const char* const kPictureModeChoices[] = {"tiled", "top_left", "stretched", "centred", nullptr};
const char* const kStartPositionChoices[] = {"as_given", "centred", "minimised", "maximised",
                                             nullptr};
const char* const kScrollBarChoices[] = {"none", "horizontal", "vertical", "both", nullptr};
const char* const kAlignmentChoices[] = {"left", "centre", "right", nullptr};
const char* const kVerticalChoices[] = {"top", "centre", "bottom", nullptr};
const char* const kInputModeChoices[] = {"normal", "read_only", "password", "digits", nullptr};
const char* const kCaseChoices[] = {"none", "upper", "lower", nullptr};
const char* const kSpinnerChoices[] = {"none", "spin", nullptr};
const char* const kDisplayModeChoices[] = {"top_left",           "scaled", "centred",
                                           "scaled_keep_aspect", "tiled",  nullptr};
const char* const kButtonTypeChoices[] = {"normal", "default", nullptr};
const char* const kViewChoices[] = {"large_icons", "small_icons", "list", "report", nullptr};
const char* const kIconAlignmentChoices[] = {"top", "left", nullptr};
const char* const kSortingChoices[] = {"none", "ascending", "descending", nullptr};
const char* const kTextEffectChoices[] = {"none", "shadow", "outline", nullptr};

constexpr PropertyInfo prop(const char* english, uint16_t type,
                            const char* const* choices = nullptr) {
  return PropertyInfo{"", english, "", type, 0, choices};
}

#define FF_COMMON_PROPERTIES                                                                    \
  prop("left", rt::kPropInt), prop("top", rt::kPropInt), prop("width", rt::kPropInt),           \
      prop("height", rt::kPropInt), prop("tag", rt::kPropText), prop("visible", rt::kPropBool), \
      prop("disabled", rt::kPropBool), prop("mouse_cursor", rt::kPropCursor)

const PropertyInfo kWindowProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("caption", rt::kPropText),
    prop("border", rt::kPropChoice, kWindowBorderChoices),
    prop("background_colour", rt::kPropColourOrNone),
    prop("background_picture", rt::kPropPicture),
    prop("background_picture_mode", rt::kPropChoice, kPictureModeChoices),
    prop("background_sound", rt::kPropBytes1012),
    prop("sound_repeat_count", rt::kPropChoice),
    prop("control_box", rt::kPropBool),
    prop("maximise_button", rt::kPropBool),
    prop("minimise_button", rt::kPropBool),
    prop("start_position", rt::kPropChoice, kStartPositionChoices),
    prop("movable", rt::kPropBool),
    prop("icon", rt::kPropBytes1010),
    prop("enter_moves_focus", rt::kPropBool),
    prop("escape_closes", rt::kPropBool),
    prop("f1_opens_help", rt::kPropBool),
    prop("help_file", rt::kPropText1016),
    prop("help_context", rt::kPropInt),
    prop("show_in_taskbar", rt::kPropBool),
    prop("drag_anywhere", rt::kPropBool),
    prop("shape", rt::kPropChoice),
    prop("always_on_top", rt::kPropBool),
    prop("keep_title_active", rt::kPropBool),
    prop("class_name", rt::kPropText),
};

const PropertyInfo kEditBoxProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("content", rt::kPropText),
    prop("border", rt::kPropChoice, kBorderChoices),
    prop("text_colour", rt::kPropColour),
    prop("background_colour", rt::kPropColourOrNone),
    prop("font", rt::kPropFont),
    prop("hide_selection", rt::kPropBool),
    prop("max_length", rt::kPropInt),
    prop("multi_line", rt::kPropBool),
    prop("scroll_bars", rt::kPropChoice, kScrollBarChoices),
    prop("alignment", rt::kPropChoice, kAlignmentChoices),
    prop("input_mode", rt::kPropChoice, kInputModeChoices),
    prop("password_char", rt::kPropText),
    prop("case_conversion", rt::kPropChoice, kCaseChoices),
    prop("spinner", rt::kPropChoice, kSpinnerChoices),
    prop("spin_minimum", rt::kPropInt),
    prop("spin_maximum", rt::kPropInt),
    prop("selection_start", rt::kPropInt),
    prop("selection_length", rt::kPropInt),
    prop("selected_text", rt::kPropText),
    prop("data_source", rt::kPropText1018),
    prop("data_column", rt::kPropText1020),
};

const PropertyInfo kPicBoxProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("border", rt::kPropChoice, kBorderChoices),
    prop("background_colour", rt::kPropColourOrNone),
    prop("picture", rt::kPropPicture),
    prop("display_mode", rt::kPropChoice, kDisplayModeChoices),
    prop("animate", rt::kPropBool),
    prop("data_source", rt::kPropText1018),
    prop("data_column", rt::kPropText1020),
};

const PropertyInfo kGroupBoxProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("caption", rt::kPropText),
    prop("caption_alignment", rt::kPropChoice, kAlignmentChoices),
    prop("text_colour", rt::kPropColour),
    prop("background_colour", rt::kPropColourOrNone),
    prop("font", rt::kPropFont),
};

const PropertyInfo kButtonProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("picture", rt::kPropPicture),
    prop("button_type", rt::kPropChoice, kButtonTypeChoices),
    prop("caption", rt::kPropText),
    prop("horizontal_alignment", rt::kPropChoice, kAlignmentChoices),
    prop("vertical_alignment", rt::kPropChoice, kVerticalChoices),
    prop("font", rt::kPropFont),
};

const PropertyInfo kListViewProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("border", rt::kPropChoice, kBorderChoices),
    prop("text_colour", rt::kPropColour),
    prop("text_background_colour", rt::kPropColourOrNone),
    prop("background_colour", rt::kPropColourOrNone),
    prop("font", rt::kPropFont),
    prop("view", rt::kPropChoice, kViewChoices),
    prop("icon_alignment", rt::kPropChoice, kIconAlignmentChoices),
    prop("auto_arrange", rt::kPropBool),
    prop("label_wrap", rt::kPropBool),
    prop("columns", rt::kPropBytes1024),
    prop("no_column_header", rt::kPropBool),
    prop("header_images", rt::kPropBytes1023),
    prop("clickable_headers", rt::kPropBool),
    prop("full_row_select", rt::kPropBool),
    prop("grid_lines", rt::kPropBool),
    prop("header_drag_drop", rt::kPropBool),
    prop("item_images", rt::kPropBytes1023),
    prop("state_images", rt::kPropBytes1023),
    prop("hot_tracking", rt::kPropBool),
    prop("hand_cursor", rt::kPropBool),
    prop("underline_cold", rt::kPropBool),
    prop("underline_hot", rt::kPropBool),
    prop("edit_labels", rt::kPropBool),
    prop("sorting", rt::kPropChoice, kSortingChoices),
    prop("check_boxes", rt::kPropBool),
    prop("flat_scroll_bars", rt::kPropBool),
    prop("single_selection", rt::kPropBool),
    prop("current_row", rt::kPropInt),
    prop("keep_selection", rt::kPropBool),
    prop("rows", rt::kPropBytes1024),
    prop("current_text", rt::kPropText),
};

const PropertyInfo kTransLabelProperties[] = {
    FF_COMMON_PROPERTIES,
    prop("caption", rt::kPropText),
    prop("alignment", rt::kPropChoice, kAlignmentChoices),
    prop("font", rt::kPropFont),
    prop("text_colour", rt::kPropColour),
    prop("vertical_alignment", rt::kPropChoice, kVerticalChoices),
    prop("word_wrap", rt::kPropBool),
    prop("text_effect", rt::kPropChoice, kTextEffectChoices),
};

#undef FF_COMMON_PROPERTIES

template <size_t N>
constexpr KindTable table(rt::TypeCode code, const char* name, const char* english,
                          const PropertyInfo (&properties)[N]) {
  return KindTable{code, name, english, static_cast<int32_t>(N), properties};
}

const KindTable kKinds[] = {
    table(kKindWindow, "窗口", "window", kWindowProperties),
    table(kKindEditBox, "编辑框", "EditBox", kEditBoxProperties),
    table(kKindPicBox, "图片框", "PicBox", kPicBoxProperties),
    table(kKindGroupBox, "分组框", "GroupBox", kGroupBoxProperties),
    table(kKindButton, "按钮", "Button", kButtonProperties),
    table(kKindListView, "超级列表框", "ListView", kListViewProperties),
    table(kKindTransLabel, "透明标签", "TransLabel", kTransLabelProperties),
};

void set_defaults(PropertyValues& v) {
  switch (v.kind()) {
    case kKindWindow:
      v.set_word(window_property::kBorder, 1);
      v.set_word(window_property::kBackgroundColour, kColourDefault);
      v.set_word(window_property::kSoundRepeatCount, 1);
      v.set_word(window_property::kControlBox, 1);
      v.set_word(window_property::kMinimiseButton, 1);
      v.set_word(window_property::kMovable, 1);
      v.set_word(window_property::kShowInTaskbar, 1);
      return;
    case kKindEditBox:
      v.set_word(edit_property::kBorder, kBorderSunken);
      v.set_word(edit_property::kBackgroundColour, colour(255, 255, 255));
      v.set_word(edit_property::kHideSelection, 1);
      v.set_text(edit_property::kPasswordChar, "*");
      v.set_word(edit_property::kSpinMaximum, 100);
      return;
    case kKindPicBox:
      v.set_word(picture_property::kBackgroundColour, kColourDefault);
      v.set_word(picture_property::kAnimate, 1);
      return;
    case kKindGroupBox:
      v.set_word(group_property::kBackgroundColour, kColourDefault);
      return;
    case kKindButton:
      v.set_word(button_property::kHorizontalAlignment, 1);
      v.set_word(button_property::kVerticalAlignment, 1);
      return;
    case kKindListView:
      v.set_word(list_property::kBorder, kBorderSunken);
      v.set_word(list_property::kTextBackgroundColour, colour(255, 255, 255));
      v.set_word(list_property::kBackgroundColour, colour(255, 255, 255));
      v.set_word(list_property::kView, 3);
      v.set_word(list_property::kAutoArrange, 1);
      v.set_word(list_property::kLabelWrap, 1);
      v.set_word(list_property::kClickableHeaders, 1);
      v.set_word(list_property::kFullRowSelect, 1);
      v.set_word(list_property::kGridLines, 1);
      v.set_word(list_property::kSingleSelection, 1);
      v.set_word(list_property::kCurrentRow, -1);
      v.set_word(list_property::kKeepSelection, 1);
      return;
    case kKindTransLabel:
      return;
    default:
      return;
  }
}

bool read_font(base::ByteReader& in, rt::LogicalFont& font) {
  int32_t words[5];
  for (int32_t& w : words) w = in.i32();
  const std::span<const uint8_t> tail = in.bytes(8 + sizeof font.face_name);
  if (!in.ok())
    return false;
  font.height = words[0];
  font.width = words[1];
  font.escapement = words[2];
  font.orientation = words[3];
  font.weight = words[4];
  font.italic = tail[0];
  font.underline = tail[1];
  font.strike_out = tail[2];
  font.charset = tail[3];
  font.out_precision = tail[4];
  font.clip_precision = tail[5];
  font.quality = tail[6];
  font.pitch_and_family = tail[7];
  std::memcpy(font.face_name, tail.data() + 8, sizeof font.face_name);
  return std::memchr(font.face_name, 0, sizeof font.face_name) != nullptr;
}

void write_font(base::ByteWriter& out, const rt::LogicalFont& font) {
  out.i32(font.height);
  out.i32(font.width);
  out.i32(font.escapement);
  out.i32(font.orientation);
  out.i32(font.weight);
  const uint8_t bytes[8] = {font.italic,  font.underline,       font.strike_out,
                            font.charset, font.out_precision,   font.clip_precision,
                            font.quality, font.pitch_and_family};
  out.bytes(bytes);
  out.bytes(std::span(reinterpret_cast<const uint8_t*>(font.face_name), sizeof font.face_name));
}

// Length of the longest prefix of `s`, at most `limit` bytes, that ends on a character boundary.
size_t whole_characters(std::string_view s, size_t limit) {
  size_t i = 0;
  while (i < s.size()) {
    const size_t step = static_cast<uint8_t>(s[i]) >= 0x80 ? 2 : 1;
    if (i + step > limit || i + step > s.size())
      break;
    i += step;
  }
  return i;
}

}  // namespace

// --- Tables ---

std::span<const KindTable> kind_tables() {
  return kKinds;
}

const KindTable* kind_table(rt::TypeCode kind) {
  for (const KindTable& t : kKinds) {
    if (t.code == kind)
      return &t;
  }
  return nullptr;
}

const PropertyInfo* property_info(rt::TypeCode kind, int32_t index) {
  const KindTable* t = kind_table(kind);
  if (!t || index < 0 || index >= t->property_count)
    return nullptr;
  return &t->properties[index];
}

int32_t property_index(rt::TypeCode kind, std::string_view english_name) {
  const KindTable* t = kind_table(kind);
  if (!t)
    return -1;
  for (int32_t i = 0; i < t->property_count; ++i) {
    if (english_name == t->properties[i].english_name)
      return i;
  }
  return -1;
}

int32_t choice_count(const PropertyInfo& info) {
  int32_t n = 0;
  if (info.choices) {
    while (info.choices[n]) ++n;
  }
  return n;
}

int32_t normalised(const PropertyInfo& info, int32_t value) {
  switch (info.type) {
    case rt::kPropBool:
      return value != 0 ? 1 : 0;
    case rt::kPropChoice: {
      if (value < 0)
        return 0;
      const int32_t n = choice_count(info);
      return n > 0 ? std::min(value, n - 1) : value;
    }
    default:
      return value;
  }
}

ValueForm value_form(uint16_t type) {
  switch (type) {
    case rt::kPropTwoWords:
    case rt::kPropTwoWordsAlt:
      return ValueForm::kTwoWords;
    case rt::kPropText:
    case rt::kPropText1016:
    case rt::kPropText1018:
    case rt::kPropText1020:
      return ValueForm::kText;
    case rt::kPropPicture:
    case rt::kPropBytes1010:
    case rt::kPropCursor:
    case rt::kPropBytes1012:
    case rt::kPropBytes1023:
    case rt::kPropBytes1024:
      return ValueForm::kBytes;
    case rt::kPropFont:
      return ValueForm::kFont;
    default:
      return ValueForm::kWord;
  }
}

// --- Values ---

PropertyValues PropertyValues::defaults(rt::TypeCode kind) {
  PropertyValues v;
  const KindTable* t = kind_table(kind);
  if (!t)
    return v;
  v.kind_ = kind;
  for (int32_t i = kFirstKindProperty; i < t->property_count; ++i) {
    PropertyValue value;
    value.type = t->properties[i].type;
    v.values_.push_back(std::move(value));
  }
  set_defaults(v);
  return v;
}

std::optional<PropertyValues> PropertyValues::decode(rt::TypeCode kind,
                                                     std::span<const uint8_t> data) {
  PropertyValues v = defaults(kind);
  if (v.values_.empty())
    return std::nullopt;
  base::ByteReader in(data);
  for (PropertyValue& value : v.values_) {
    std::span<const uint8_t> bytes;
    switch (value_form(value.type)) {
      case ValueForm::kWord:
        value.word = in.i32();
        if (!in.ok())
          return std::nullopt;
        break;
      case ValueForm::kTwoWords:
        value.word = in.i32();
        value.high = in.i32();
        if (!in.ok())
          return std::nullopt;
        break;
      case ValueForm::kText:
        bytes = in.sized(kMaxTextLength);
        if (!in.ok() || io::has_nul(bytes))
          return std::nullopt;
        value.bytes.assign(io::as_text(bytes));
        break;
      case ValueForm::kBytes:
        bytes = in.sized(kMaxByteSetLength);
        if (!in.ok())
          return std::nullopt;
        value.bytes.assign(io::as_text(bytes));
        break;
      case ValueForm::kFont:
        if (!read_font(in, value.font))
          return std::nullopt;
        break;
    }
  }
  if (!in.at_end())
    return std::nullopt;
  return v;
}

std::vector<uint8_t> PropertyValues::encode() const {
  std::vector<uint8_t> data;
  base::ByteWriter out(data);
  for (const PropertyValue& value : values_) {
    switch (value_form(value.type)) {
      case ValueForm::kWord:
        out.i32(value.word);
        break;
      case ValueForm::kTwoWords:
        out.i32(value.word);
        out.i32(value.high);
        break;
      case ValueForm::kText:
      case ValueForm::kBytes:
        out.prefixed(std::string_view(value.bytes));
        break;
      case ValueForm::kFont:
        write_font(out, value.font);
        break;
    }
  }
  return data;
}

const PropertyValue* PropertyValues::find(int32_t index) const {
  if (index < kFirstKindProperty)
    return nullptr;
  const auto i = static_cast<size_t>(index - kFirstKindProperty);
  return i < values_.size() ? &values_[i] : nullptr;
}

PropertyValue* PropertyValues::slot(int32_t index) {
  return const_cast<PropertyValue*>(std::as_const(*this).find(index));
}

uint16_t PropertyValues::type(int32_t index) const {
  const PropertyValue* v = find(index);
  return v ? v->type : 0;
}

int32_t PropertyValues::word(int32_t index) const {
  const PropertyValue* v = find(index);
  if (!v)
    return 0;
  const ValueForm form = value_form(v->type);
  return form == ValueForm::kWord || form == ValueForm::kTwoWords ? v->word : 0;
}

std::string_view PropertyValues::text(int32_t index) const {
  const PropertyValue* v = find(index);
  if (!v)
    return {};
  const ValueForm form = value_form(v->type);
  return form == ValueForm::kText || form == ValueForm::kBytes ? std::string_view(v->bytes)
                                                               : std::string_view();
}

std::span<const uint8_t> PropertyValues::bytes(int32_t index) const {
  const std::string_view t = text(index);
  return {reinterpret_cast<const uint8_t*>(t.data()), t.size()};
}

rt::LogicalFont PropertyValues::font(int32_t index) const {
  const PropertyValue* v = find(index);
  return v && v->type == rt::kPropFont ? v->font : rt::LogicalFont{};
}

void PropertyValues::set_word(int32_t index, int32_t value) {
  PropertyValue* v = slot(index);
  if (!v || value_form(v->type) != ValueForm::kWord)
    return;
  const PropertyInfo* info = property_info(kind_, index);
  v->word = info ? normalised(*info, value) : value;
}

void PropertyValues::set_two_words(int32_t index, int32_t low, int32_t high) {
  PropertyValue* v = slot(index);
  if (!v || value_form(v->type) != ValueForm::kTwoWords)
    return;
  v->word = low;
  v->high = high;
}

void PropertyValues::set_text(int32_t index, std::string_view value) {
  PropertyValue* v = slot(index);
  if (!v || value_form(v->type) != ValueForm::kText)
    return;
  value = value.substr(0, std::min(value.find('\0'), kMaxTextLength));
  v->bytes.assign(value);
}

void PropertyValues::set_bytes(int32_t index, std::span<const uint8_t> value) {
  PropertyValue* v = slot(index);
  if (!v || value_form(v->type) != ValueForm::kBytes)
    return;
  v->bytes.assign(io::as_text(value.first(std::min(value.size(), kMaxByteSetLength))));
}

void PropertyValues::set_font(int32_t index, const rt::LogicalFont& value) {
  PropertyValue* v = slot(index);
  if (!v || v->type != rt::kPropFont)
    return;
  v->font = value;
  v->font.face_name[sizeof v->font.face_name - 1] = '\0';
}

// --- Fonts ---

std::string_view face_name(const rt::LogicalFont& font) {
  const void* end = std::memchr(font.face_name, 0, sizeof font.face_name);
  const size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - font.face_name)
                       : sizeof font.face_name;
  return {font.face_name, n};
}

bool has_own_font(const rt::LogicalFont& font) {
  return !face_name(font).empty();
}

rt::LogicalFont make_font(std::string_view face, int32_t height, int32_t weight) {
  rt::LogicalFont font;
  font.height = height;
  font.weight = weight;
  font.charset = 1;  // the default character set
  const size_t n = whole_characters(face, sizeof font.face_name - 1);
  std::memcpy(font.face_name, face.data(), n);
  return font;
}

// --- List view columns and rows ---

std::string_view cell_prefix(std::string_view text) {
  if (text.size() <= kMaxCellBytes)
    return text;
  return text.substr(0, whole_characters(text, kMaxCellBytes));
}

std::vector<uint8_t> encode_columns(std::span<const ListColumn> columns) {
  std::vector<uint8_t> data;
  if (columns.empty())
    return data;
  base::ByteWriter out(data);
  out.i32(static_cast<int32_t>(columns.size()));
  for (const ListColumn& c : columns) {
    out.prefixed(std::string_view(c.title));
    out.i32(c.width);
    out.i32(c.alignment);
  }
  return data;
}

std::optional<std::vector<ListColumn>> decode_columns(std::span<const uint8_t> data) {
  std::vector<ListColumn> columns;
  if (data.empty())
    return columns;
  base::ByteReader in(data);
  const uint32_t count = in.count(12, kMaxColumns);
  if (!in.ok())
    return std::nullopt;
  columns.resize(count);
  for (ListColumn& c : columns) {
    const std::span<const uint8_t> title = in.sized(kMaxTextLength);
    if (!in.ok() || io::has_nul(title))
      return std::nullopt;
    c.width = in.i32();
    c.alignment = in.i32();
    if (!in.ok())
      return std::nullopt;
    if (c.width < 0 || c.width > kMaxColumnWidth)
      return std::nullopt;
    if (c.alignment < kColumnLeft || c.alignment > kColumnCentre)
      return std::nullopt;
    c.title.assign(io::as_text(title));
  }
  if (!in.at_end())
    return std::nullopt;
  return columns;
}

std::vector<uint8_t> encode_rows(std::span<const ListRow> rows) {
  std::vector<uint8_t> data;
  if (rows.empty())
    return data;
  base::ByteWriter out(data);
  out.i32(static_cast<int32_t>(rows.size()));
  for (const ListRow& r : rows) {
    out.i32(r.image);
    out.i32(r.state_image);
    out.i32(r.indent);
    out.i32(r.data);
    out.i32(static_cast<int32_t>(r.cells.size()));
    for (const std::string& cell : r.cells) out.prefixed(std::string_view(cell));
  }
  return data;
}

std::optional<std::vector<ListRow>> decode_rows(std::span<const uint8_t> data) {
  std::vector<ListRow> rows;
  if (data.empty())
    return rows;
  base::ByteReader in(data);
  const uint32_t count = in.count(20, kMaxRows);
  if (!in.ok())
    return std::nullopt;
  rows.resize(count);
  for (ListRow& r : rows) {
    r.image = in.i32();
    r.state_image = in.i32();
    r.indent = in.i32();
    r.data = in.i32();
    if (!in.ok())
      return std::nullopt;
    if (r.image < -1 || r.state_image < 0 || r.indent < 0)
      return std::nullopt;
    const uint32_t cells = in.count(4, kMaxColumns);
    if (!in.ok())
      return std::nullopt;
    r.cells.resize(cells);
    for (std::string& cell : r.cells) {
      const std::span<const uint8_t> text = in.sized(kMaxTextLength);
      if (!in.ok() || io::has_nul(text))
        return std::nullopt;
      cell.assign(io::as_text(text));
    }
  }
  if (!in.at_end())
    return std::nullopt;
  return rows;
}

}  // namespace units
