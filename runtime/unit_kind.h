// The contract between the core and the unit kinds the windows are made of.
//
// A kind is described by a KindDescriptor (runtime/kinds.h) whose interface_of(n) answers the
// entry point for interface n: 1 create, 4 set property, 5 save state, 6 get property. The core
// handles the common properties 0 to 7 itself and passes indices 8 and above to the kind as
// index - 8. A live unit is a UnitObject; its native window is pointer-wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/kinds.h"

namespace rt {

using NativeWindow = void*;

// Window styles the core computes for creation.
inline constexpr uint32_t kStyleDisabled = 0x08000000;
inline constexpr uint32_t kStyleTabStop = 0x00010000;

// Property indices of get_property and set_property. Every unit has the common properties; a
// kind's own properties follow from kFirstKindProperty (its property 0).
enum CommonProperty : int32_t {
  kPropertyLeft = 0,
  kPropertyTop = 1,
  kPropertyWidth = 2,
  kPropertyHeight = 3,
  kPropertyTag = 4,
  kPropertyVisible = 5,
  kPropertyDisabled = 6,
  kPropertyCursor = 7,
  kFirstKindProperty = 8,
};

// A menu item has only these.
enum MenuItemProperty : int32_t {
  kMenuItemCaption = 0,
  kMenuItemChecked = 1,
  kMenuItemDisabled = 2,
  kMenuItemVisible = 3,
};
// Bits of a menu item's state word.
inline constexpr int32_t kMenuStateHidden = 1;
inline constexpr int32_t kMenuStateDisabled = 2;
inline constexpr int32_t kMenuStateChecked = 4;

// A property value crossing a kind interface: a data pointer or 32-bit value, and a length or
// second word.
struct PropertyPair {
  uintptr_t first = 0;
  uint32_t second = 0;

  static PropertyPair value(uint32_t v) { return {v, 0}; }
  static PropertyPair data(const void* p, size_t n) {
    return {reinterpret_cast<uintptr_t>(p), static_cast<uint32_t>(n)};
  }
  uint32_t as_u32() const { return static_cast<uint32_t>(first); }
  int32_t as_int() const { return static_cast<int32_t>(first); }
  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(first); }
};

struct UnitCreateParams {
  NativeWindow parent = nullptr;  // the window's native window; null for a window's own unit
  const uint8_t* data = nullptr;  // the kind's property data
  size_t length = 0;
  uint32_t style = 0;      // kStyleDisabled, kStyleTabStop
  int32_t control_id = 0;  // 100, 110, 120 ... in creation order
  int32_t left = 0, top = 0, width = 0, height = 0;
  uint32_t window_id = 0;
  uint32_t unit_id = 0;
};

// A live unit. The unit object lives as long as its native window: destroying the native window
// (windowing::destroy) destroys the object, and a closed window takes its units with it.
// Text properties cross the interfaces as (pointer, length) of GBK bytes; a set passes a
// NUL-terminated text.
class UnitObject {
 public:
  // A unit object normally ends with its native window. The core deletes one itself when it
  // re-creates the unit; the kind then destroys the native window, now or (when the window may
  // be inside its own event handling) once control is back in the event loop.
  virtual ~UnitObject() = default;
  virtual NativeWindow native() const = 0;
  // Core notifications (kNotifyCreated, kNotifyLayout, kNotifyInitialised); most kinds ignore them.
  virtual void notify(uint32_t /*code*/) {}
  uint32_t window_id = 0;
  uint32_t unit_id = 0;
  TypeCode kind = 0;
};

// Interface 1: create a unit; null when it cannot be created.
using CreateUnitFn = UnitObject* (*)(const UnitCreateParams& params);
// Interface 4: set kind property `index` (0-based after the common ones); answers 1 when the
// unit must be re-created for the change to show.
using SetUnitPropertyFn = int32_t (*)(UnitObject* unit, int32_t index, PropertyPair value);
// Interface 5: the unit's current property data, in the kind's own format (as in templates).
using SaveUnitStateFn = std::vector<uint8_t> (*)(UnitObject* unit);
// Interface 6: get kind property `index`. Data answers point into storage that stays valid
// until the next call on the same unit from the same thread; the core copies it at once.
using GetUnitPropertyFn = PropertyPair (*)(UnitObject* unit, int32_t index);

inline constexpr int32_t kInterfaceCreate = 1;
inline constexpr int32_t kInterfaceSetProperty = 4;
inline constexpr int32_t kInterfaceSaveState = 5;
inline constexpr int32_t kInterfaceGetProperty = 6;

// Notifications the core sends to units (the second value of the unit's notify hook).
inline constexpr uint32_t kNotifyCreated = 0x806F;
inline constexpr uint32_t kNotifyLayout = 0x8004;
inline constexpr uint32_t kNotifyInitialised = 0x8076;

// Property types (how values cross the interface).
enum PropertyType : uint16_t {
  kPropInt0 = 1000,
  kPropInt = 1001,
  kPropTwoWords = 1002,
  kPropBool = 1003,
  kPropTwoWordsAlt = 1004,
  kPropText = 1005,
  kPropChoice = 1006,
  kPropPicture = 1009,
  kPropBytes1010 = 1010,
  kPropCursor = 1011,
  kPropBytes1012 = 1012,
  kPropFont = 1013,
  kPropColour = 1014,
  kPropInt1015 = 1015,
  kPropText1016 = 1016,
  kPropColourOrNone = 1017,
  kPropText1018 = 1018,
  kPropText1020 = 1020,
  kPropBytes1023 = 1023,
  kPropBytes1024 = 1024,
};

// A 60-byte logical-font record: height, width, escapement, orientation, weight, then italic,
// underline, strike-out, charset, output precision, clip precision, quality, pitch and family
// bytes, then a 32-byte face name (GBK, NUL-terminated).
struct LogicalFont {
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strike_out = 0;
  uint8_t charset = 0;
  uint8_t out_precision = 0;
  uint8_t clip_precision = 0;
  uint8_t quality = 0;
  uint8_t pitch_and_family = 0;
  char face_name[32] = {};
};
static_assert(sizeof(LogicalFont) == 60);

// The element of a font property that get_property and set_property address; any other element
// is the whole font as a byte set (the six attributes as int32 words, then a 32-byte face).
enum FontElement : int32_t {
  kFontAngle = 0,  // tenths of a degree, 0-3599
  kFontBold = 1,
  kFontItalic = 2,
  kFontUnderline = 3,
  kFontStrikeOut = 4,
  kFontSize = 5,  // points
  kFontFace = 6,  // text
};
inline constexpr int32_t kFontAttributeCount = 6;  // angle to size: the whole font's words

}  // namespace rt
