// Property get and set by window id, unit id and property index.
#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/windowing/font_size.h"
#include "platform/windowing/native_window.h"
#include "platform/windowing/window_thread.h"
#include "runtime/fatal.h"
#include "runtime/runtime.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"

namespace rt {
namespace {

using namespace detail;

constexpr int32_t kCoordinateLimit = 32627;
constexpr int32_t kDefaultFontPoints = 9;
constexpr const char kDefaultFace[] = "宋体";

// The type of a kind property, or nothing past the kind's table: such a property has no type
// to carry a value by, so it is refused rather than taken for a text.
std::optional<uint16_t> property_type(const KindDescriptor* kind, int32_t kind_index) {
  if (!kind || !kind->properties || kind_index < 0)
    return std::nullopt;
  // The kind's table lists every property, the common ones 0 to 7 first.
  const int32_t i = kind_index + 8;
  if (i >= kind->property_count)
    return std::nullopt;
  return kind->properties[i].type;
}

template <typename Fn>
Fn kind_interface(const KindDescriptor* kind, int32_t number) {
  if (!kind || !kind->interface_of)
    return nullptr;
  return reinterpret_cast<Fn>(kind->interface_of(number));
}

uint64_t pointer_payload(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

std::string_view answer_text(PropertyPair answer) {
  const auto* p = reinterpret_cast<const char*>(answer.first);
  if (!p)
    return {};
  return {p, answer.second != 0 ? answer.second : std::strlen(p)};
}

LogicalFont default_font(NativeWindow screen_of) {
  LogicalFont f;
  f.height = -windowing::font_pixels(kDefaultFontPoints, screen_of);
  f.weight = 400;
  f.charset = 134;
  std::memcpy(f.face_name, kDefaultFace, sizeof kDefaultFace);
  return f;
}

LogicalFont read_font(const KindDescriptor* kind, UnitObject* unit, int32_t kind_index) {
  auto get = kind_interface<GetUnitPropertyFn>(kind, kInterfaceGetProperty);
  if (get) {
    const PropertyPair answer = get(unit, kind_index);
    if (answer.first && answer.second == sizeof(LogicalFont)) {
      LogicalFont f;
      std::memcpy(&f, answer.bytes(), sizeof f);
      return f;
    }
  }
  return default_font(unit->native());
}

// The whole-font record: angle, bold, italic, underline, strike-out, size in points, then the
// face name (GBK, NUL-terminated, at most 31 bytes).
struct FontRecord {
  int32_t words[kFontAttributeCount];
  char face[32];
};

// Sizes in points are converted at the resolution of the screen the unit is on, as the unit
// kinds convert them.
uint64_t font_attribute(const LogicalFont& f, int32_t element, NativeWindow unit) {
  switch (element) {
    case kFontAngle:
      return static_cast<uint32_t>(((f.escapement % 3600) + 3600) % 3600);
    case kFontBold:
      return f.weight >= 700 ? 1 : 0;
    case kFontItalic:
      return f.italic ? 1 : 0;
    case kFontUnderline:
      return f.underline ? 1 : 0;
    case kFontStrikeOut:
      return f.strike_out ? 1 : 0;
    case kFontSize:
      return static_cast<uint32_t>(windowing::font_points(f.height, unit));
    case kFontFace:
      return pointer_payload(copy_text(f.face_name));
    default: {
      FontRecord r{};
      for (int i = 0; i < kFontAttributeCount; ++i)
        r.words[i] = static_cast<int32_t>(font_attribute(f, i, unit));
      std::memcpy(r.face, f.face_name, sizeof r.face);
      r.face[31] = 0;
      return pointer_payload(make_bytes(&r, sizeof r));
    }
  }
}

void set_face(LogicalFont& f, std::string_view face, size_t longest) {
  if (face.empty() || face.size() > longest)
    face = kDefaultFace;
  std::memset(f.face_name, 0, sizeof f.face_name);
  std::memcpy(f.face_name, face.data(), std::min(face.size(), sizeof f.face_name - 1));
}

void apply_font_attribute(LogicalFont& f, int32_t element, uint64_t value, NativeWindow unit) {
  const auto v = static_cast<int32_t>(value);
  switch (element) {
    case kFontAngle:
      f.escapement = f.orientation = ((v % 3600) + 3600) % 3600;
      return;
    case kFontBold:
      f.weight = v ? 700 : 0;
      return;
    case kFontItalic:
      f.italic = v ? 1 : 0;
      return;
    case kFontUnderline:
      f.underline = v ? 1 : 0;
      return;
    case kFontStrikeOut:
      f.strike_out = v ? 1 : 0;
      return;
    case kFontSize:
      f.height = -windowing::font_pixels(v, unit);
      return;
    case kFontFace:
      set_face(f, text_view(reinterpret_cast<const char*>(static_cast<uintptr_t>(value))), 31);
      return;
    default: {
      const auto bytes = bytes_view(reinterpret_cast<const void*>(static_cast<uintptr_t>(value)));
      if (bytes.size() < sizeof(FontRecord))
        return;
      FontRecord r;
      std::memcpy(&r, bytes.data(), sizeof r);
      r.face[31] = 0;
      for (int i = 0; i < kFontAttributeCount; ++i) {
        apply_font_attribute(f, i, static_cast<uint32_t>(r.words[i]), unit);
      }
      set_face(f, r.face, 30);
      return;
    }
  }
}

uint64_t convert_answer(uint16_t type, PropertyPair answer, const LogicalFont* font,
                        int32_t element, NativeWindow unit) {
  switch (type) {
    case kPropInt0:
    case kPropInt:
    case kPropColour:
    case kPropInt1015:
    case kPropColourOrNone:
    case kPropChoice:
      return answer.as_u32();
    case kPropTwoWords:
    case kPropTwoWordsAlt:
      return (uint64_t{answer.second} << 32) | answer.as_u32();
    case kPropBool:
      return answer.as_u32() == 1 ? 1 : 0;
    case kPropPicture:
    case kPropBytes1010:
    case kPropBytes1012:
    case kPropBytes1023:
    case kPropBytes1024:
    case kPropCursor:
      return pointer_payload(make_bytes(answer.bytes(), answer.first ? answer.second : 0));
    case kPropFont:
      return font ? font_attribute(*font, element, unit) : 0;
    default:
      return pointer_payload(make_text(answer_text(answer)));
  }
}

PropertyPair convert_value(uint16_t type, uint32_t low, uint32_t high) {
  const uint64_t payload = (uint64_t{high} << 32) | low;
  switch (type) {
    case kPropInt0:
    case kPropInt:
    case kPropColour:
    case kPropInt1015:
    case kPropColourOrNone:
      return PropertyPair::value(low);
    case kPropTwoWords:
    case kPropTwoWordsAlt:
      return {low, high};
    case kPropBool:
      return PropertyPair::value(low != 0 ? 1 : 0);
    case kPropChoice:
      return PropertyPair::value(static_cast<int32_t>(low) < 0 ? 0 : low);
    case kPropPicture:
    case kPropBytes1010:
    case kPropBytes1012:
    case kPropBytes1023:
    case kPropBytes1024:
    case kPropCursor: {
      const auto bytes = bytes_view(reinterpret_cast<const void*>(static_cast<uintptr_t>(payload)));
      return PropertyPair::data(bytes.data(), bytes.size());
    }
    default: {
      const auto* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(payload));
      if (!text)
        text = "";
      return PropertyPair::data(text, std::strlen(text));
    }
  }
}

struct Located {
  WindowEntry* window = nullptr;
  int32_t index = -1;
};

Located locate(uint32_t window_id, uint32_t unit_id) {
  Located at;
  at.window = registry().find(window_id);
  if (!at.window)
    fatal_error("未载入欲访问窗口组件所在的窗口", 0);
  at.index = at.window->working.find(unit_id);
  return at;
}

void recreate_unit(WindowEntry& w, uint32_t index);

uint64_t get_on_window_thread(uint32_t window_id, uint32_t unit_id, int32_t index,
                              int32_t element) {
  const Located at = locate(window_id, unit_id);
  if (at.index < 0)
    return 0;  // a unit the window does not contain
  WindowEntry& w = *at.window;
  const auto i = static_cast<uint32_t>(at.index);
  auto record = decode_unit_record(w.working.record(i), is_menu_item_id(w.working.id_at(i)));
  if (!record)
    return 0;
  if (record->is_menu_item) {
    switch (index) {
      case kMenuItemCaption:
        return pointer_payload(copy_text(record->menu_caption.c_str()));
      case kMenuItemChecked:
        return (record->menu_state & kMenuStateChecked) ? 1 : 0;
      case kMenuItemDisabled:
        return (record->menu_state & kMenuStateDisabled) ? 1 : 0;
      case kMenuItemVisible:
        return (record->menu_state & kMenuStateHidden) ? 0 : 1;
      default:
        return 0;
    }
  }
  UnitObject* unit = live_unit(w, i);
  NativeWindow h = unit ? unit->native() : nullptr;
  if (index >= kFirstKindProperty) {
    if (!unit)
      fatal_error("指定窗口尚未载入", 0);
    const KindDescriptor* kind = find_kind(record->kind);
    const int32_t own = index - kFirstKindProperty;
    auto get = kind_interface<GetUnitPropertyFn>(kind, kInterfaceGetProperty);
    if (!get)
      return 0;
    const std::optional<uint16_t> type = property_type(kind, own);
    if (!type)
      return 0;
    if (*type == kPropFont) {
      const LogicalFont font = read_font(kind, unit, own);
      return convert_answer(*type, {}, &font, element, h);
    }
    return convert_answer(*type, get(unit, own), nullptr, element, h);
  }
  const windowing::Rect r = unit ? windowing::geometry_in_parent(h) : windowing::Rect{};
  switch (index) {
    case kPropertyLeft:
      return static_cast<uint32_t>(unit ? r.left : record->left);
    case kPropertyTop:
      return static_cast<uint32_t>(unit ? r.top : record->top);
    case kPropertyWidth:
      return static_cast<uint32_t>(unit ? r.width : record->width);
    case kPropertyHeight:
      return static_cast<uint32_t>(unit ? r.height : record->height);
    case kPropertyTag:
      return pointer_payload(copy_text(record->tag.c_str()));
    case kPropertyVisible:
      return (unit ? windowing::is_visible(h) : (record->flags & kUnitVisible) != 0) ? 1 : 0;
    case kPropertyDisabled:
      return (unit ? !windowing::is_enabled(h) : (record->flags & kUnitDisabled) != 0) ? 1 : 0;
    case kPropertyCursor:
      return pointer_payload(make_bytes(record->cursor_data.data(), record->cursor_data.size()));
    default:
      return 0;
  }
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi) {
  return std::max(lo, std::min(hi, v));
}

int32_t set_bits(int32_t word, int32_t bits, bool on) {
  return on ? word | bits : word & ~bits;
}

// A unit listed on a page other than the selected page of a paged container stays hidden.
bool hidden_by_page(const WindowEntry& w, uint32_t unit_id) {
  (void)w;
  (void)unit_id;
  return false;  // no kind of this program is a paged container
}

void set_on_window_thread(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element,
                          uint32_t low, uint32_t high) {
  const Located at = locate(window_id, unit_id);
  if (at.index < 0)
    return;
  WindowEntry& w = *at.window;
  const auto i = static_cast<uint32_t>(at.index);
  const uint32_t id = w.working.id_at(i);
  auto record = decode_unit_record(w.working.record(i), is_menu_item_id(id));
  if (!record)
    return;
  const auto value = static_cast<int32_t>(low);
  const uint64_t payload = (uint64_t{high} << 32) | low;

  if (record->is_menu_item) {
    switch (index) {
      case kMenuItemCaption: {
        const std::string caption(text_view(reinterpret_cast<const char*>(payload)));
        if (caption == record->menu_caption)
          return;
        record->menu_caption = caption;
        break;
      }
      case kMenuItemChecked:
        record->menu_state = set_bits(record->menu_state, kMenuStateChecked, value != 0);
        break;
      case kMenuItemDisabled:
        record->menu_state = set_bits(record->menu_state, kMenuStateDisabled, value != 0);
        break;
      case kMenuItemVisible:
        record->menu_state = set_bits(record->menu_state, kMenuStateHidden, value == 0);
        break;
      default:
        return;
    }
    w.working.replace_record(i, encode_unit_record(*record));
    return;  // this program's windows carry no menus to rebuild
  }

  UnitObject* unit = live_unit(w, i);
  NativeWindow h = unit ? unit->native() : nullptr;
  const RecordFieldOffsets o = offsets_of(w, i);
  if (index >= kFirstKindProperty) {
    if (!unit)
      fatal_error("指定窗口尚未载入", 0);
    const KindDescriptor* kind = find_kind(record->kind);
    const int32_t own = index - kFirstKindProperty;
    auto set = kind_interface<SetUnitPropertyFn>(kind, kInterfaceSetProperty);
    if (!set)
      return;
    const std::optional<uint16_t> type = property_type(kind, own);
    if (!type)
      return;
    int32_t answer = 0;
    if (*type == kPropFont) {
      LogicalFont font = read_font(kind, unit, own);
      apply_font_attribute(font, element, payload, h);
      answer = set(unit, own, PropertyPair::data(&font, sizeof font));
    } else {
      answer = set(unit, own, convert_value(*type, low, high));
    }
    if (answer == 1 && window_is_loaded(w)) {
      windowing::process_pending_messages();
      suppress_events();
      recreate_unit(w, i);
      windowing::process_pending_messages();
      resume_events();
    }
    return;
  }
  switch (index) {
    case kPropertyWidth:
    case kPropertyHeight: {
      const int32_t v = clamp(value, 0, kCoordinateLimit);
      const bool width = index == kPropertyWidth;
      w.working.write_field(i, width ? o.width : o.height, v);
      if (!unit)
        return;
      const windowing::Rect r = windowing::geometry_in_parent(h);
      windowing::resize(h, width ? v : r.width, width ? r.height : v);
      return;
    }
    case kPropertyLeft:
    case kPropertyTop: {
      const int32_t v = clamp(value, -kCoordinateLimit, kCoordinateLimit);
      const bool left = index == kPropertyLeft;
      w.working.write_field(i, left ? o.left : o.top, v);
      if (!unit)
        return;
      const windowing::Rect r = windowing::geometry_in_parent(h);
      windowing::move(h, left ? v : r.left, left ? r.top : v);
      windowing::repaint(h);
      return;
    }
    case kPropertyTag:
      record->tag = std::string(text_view(reinterpret_cast<const char*>(payload)));
      w.working.replace_record(i, encode_unit_record(*record));
      return;
    case kPropertyVisible: {
      const int32_t flags = w.working.read_field(i, o.flags);
      w.working.write_field(i, o.flags, value ? flags | kUnitVisible : flags & ~kUnitVisible);
      if (!unit)
        return;
      if (!value) {
        windowing::set_visible(h, false);
        return;
      }
      if (i == 0) {
        complete_first_show(w, true);
        if (w.modal && loop_state().modal_window != w.id && window_is_loaded(w)) {
          const uint32_t previous = loop_state().modal_window;
          loop_state().modal_window = w.id;
          run_loop(true);
          loop_state().modal_window = previous;
        }
        return;
      }
      const KindDescriptor* kind = find_kind(record->kind);
      if (kind && (kind->flags & kKindNeverVisible))
        return;
      if (!hidden_by_page(w, id))
        windowing::show_no_activate(h);
      return;
    }
    case kPropertyDisabled: {
      const int32_t flags = w.working.read_field(i, o.flags);
      w.working.write_field(i, o.flags, value ? flags | kUnitDisabled : flags & ~kUnitDisabled);
      if (unit)
        windowing::set_enabled(h, !value);
      return;
    }
    case kPropertyCursor: {
      const auto bytes = reinterpret_cast<intptr_t>(reinterpret_cast<const void*>(payload)) == -8
                             ? std::span<const uint8_t>()
                             : bytes_view(reinterpret_cast<const void*>(payload));
      record->cursor_data.assign(bytes.begin(), bytes.end());
      w.working.replace_record(i, encode_unit_record(*record));
      return;
    }
    default:
      return;
  }
}

void recreate_unit(WindowEntry& w, uint32_t index) {
  UnitObject* old = live_unit(w, index);
  if (!old)
    return;
  auto record = decode_unit_record(w.working.record(index), false);
  if (!record)
    return;
  const KindDescriptor* kind = find_kind(record->kind);
  auto save = kind_interface<SaveUnitStateFn>(kind, kInterfaceSaveState);
  auto create = kind_interface<CreateUnitFn>(kind, kInterfaceCreate);
  if (!save || !create)
    return;
  NativeWindow old_native = old->native();
  const std::vector<uint8_t> state = save(old);
  const windowing::Rect r = windowing::geometry_in_parent(old_native);
  UnitCreateParams p;
  p.parent = windowing::parent_of(old_native);
  p.data = state.data();
  p.length = state.size();
  if (!windowing::is_enabled(old_native))
    p.style |= kStyleDisabled;
  if (record->flags & kUnitTabStop)
    p.style |= kStyleTabStop;
  p.control_id = index < w.control_ids.size() ? w.control_ids[index] : 0;
  p.left = r.left;
  p.top = r.top;
  p.width = r.width;
  p.height = r.height;
  p.window_id = w.id;
  p.unit_id = w.working.id_at(index);
  UnitObject* fresh = create(p);
  if (!fresh)
    return;
  fresh->window_id = w.id;
  fresh->unit_id = p.unit_id;
  fresh->kind = record->kind;
  windowing::register_native(fresh->native());
  const bool was_visible = windowing::is_visible(old_native);
  const bool had_focus = windowing::focus_window() == old_native;
  if (kind->flags & kKindContainer) {
    for (uint32_t j = 1; j < w.working.count(); ++j) {
      auto child = decode_unit_record(w.working.record(j), is_menu_item_id(w.working.id_at(j)));
      if (child && !child->is_menu_item && child->parent == p.unit_id) {
        windowing::set_parent(native_of(w, j), fresh->native());
      }
    }
  }
  const RecordFieldOffsets o = offsets_of(w, index);
  const int32_t old_number = w.working.read_field(index, o.live_object);
  w.working.write_field(index, o.live_object, live_register(fresh));
  windowing::stack_below(fresh->native(), old_native);
  // The old unit object goes now; its kind decides when its native window follows. The old
  // unit may be the one whose event handler asked for this change, with its own event handling
  // still further up the stack, so a kind may keep the native until control is back in its
  // event loop. A destruction report from it is not the unit's end.
  recreating() = {w.id, p.unit_id};
  delete old;
  recreating() = {};
  live_release(old_number);
  fresh->notify(kNotifyCreated);
  fresh->notify(kNotifyInitialised);
  if (kind->flags & kKindNotifyParent) {
    if (UnitObject* window = live_unit(w, 0))
      window->notify(kNotifyLayout);
  }
  if (was_visible)
    windowing::show_no_activate(fresh->native());
  if (had_focus)
    windowing::set_focus(fresh->native());
}

}  // namespace

uint64_t get_property(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element) {
  uint64_t result = 0;
  on_window_thread([&] { result = get_on_window_thread(window_id, unit_id, index, element); });
  return result;
}

void set_property(uint32_t window_id, uint32_t unit_id, int32_t index, int32_t element,
                  uint32_t low, uint32_t high) {
  on_window_thread([&] { set_on_window_thread(window_id, unit_id, index, element, low, high); });
}

}  // namespace rt
