// The skin resource format (".SHE") and its reader.
//
// A skin is a set of named colours, the application palette built from them and a style sheet
// whose colours refer to them by name, so that one hue, saturation and brightness shift of the
// named colours re-tints the palette and every rule alike.
//
// All numbers are little-endian.
//
//   header (20 bytes)
//     0  4  magic ".SHE"
//     4  2  version: 1. A reader refuses any other.
//     6  2  header length: 20 or more; the body starts here (room for later header fields)
//     8  4  body length: the resource is exactly header length + body length bytes
//    12  4  CRC-32 (the IEEE polynomial, as in zlib and PNG) of the body
//    16  4  number of records in the body
//   body: records one after another, filling the body exactly
//     0  2  tag
//     2  2  reserved, 0
//     4  4  payload length
//     8  .. payload
//
//   tag 1, colours (exactly one, before the others): uint16 count (1 to 64), then per colour
//     uint8 name length (1 to 31), the name (ASCII letters, digits, '_'), uint8 red, green, blue.
//     Names are unique.
//   tag 2, palette (at most one): uint16 count (up to 128), then per entry uint8 colour group
//     (0 active, 1 disabled, 2 inactive, 3 all groups), uint8 colour role (the toolkit's palette
//     role number, 0 to 20), uint16 colour index.
//   tag 3, style rules (at most one): UTF-8 style sheet text without NUL bytes, up to 64 KiB.
//     "@name" stands for the named colour, written out as "#rrggbb" after the shift; every name
//     used must be defined. "@@" is a literal "@".
//
// The reader is plain C++ without allocation or exceptions: the engine links it as it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skin_format {

inline constexpr uint8_t kMagic[4] = {'.', 'S', 'H', 'E'};
inline constexpr uint16_t kVersion = 1;
inline constexpr uint32_t kHeaderLength = 20;
inline constexpr uint16_t kTagColours = 1;
inline constexpr uint16_t kTagPalette = 2;
inline constexpr uint16_t kTagRules = 3;
inline constexpr uint32_t kRecordHeader = 8;
inline constexpr uint16_t kMaxColours = 64;
inline constexpr uint32_t kMaxNameLength = 31;
inline constexpr uint16_t kMaxPaletteEntries = 128;
inline constexpr uint8_t kGroupAll = 3;
inline constexpr uint8_t kRoleCount = 21;
inline constexpr uint32_t kMaxRulesLength = 64 * 1024;

struct Colour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

struct NamedColour {
  char name[kMaxNameLength + 1] = {};
  uint8_t name_length = 0;
  Colour colour;
};

struct PaletteEntry {
  uint8_t group = 0;
  uint8_t role = 0;
  uint16_t colour = 0;
};

struct Skin {
  NamedColour colours[kMaxColours];
  uint16_t colour_count = 0;
  PaletteEntry palette[kMaxPaletteEntries];
  uint16_t palette_count = 0;
  const char* rules = nullptr;  // points into the resource; not NUL-terminated
  uint32_t rules_length = 0;
};

enum class Status {
  kOk,
  kTooShort,
  kBadMagic,
  kBadVersion,
  kBadLength,
  kBadChecksum,
  kBadRecord,
  kBadColours,
  kBadPalette,
  kBadRules,
};

uint32_t crc32(const uint8_t* data, size_t length);

// Checks and reads a resource. On anything but kOk, *skin is left in an unspecified state.
Status read_skin(const uint8_t* data, size_t length, Skin* skin);

// Hue in degrees (turned around the colour wheel), saturation and brightness in percent of the
// way to their limits: -5 brightness takes 5% of the lightness away, +5 moves 5% of the way to
// white. Values beyond -100..100 count as the limit.
Colour shift(Colour c, int32_t hue, int32_t saturation, int32_t brightness);

// Writes the style rules with every "@name" replaced by "#rrggbb" of colours[index of name].
// Returns the length of the full text; writes at most `capacity` bytes (out may be null when
// capacity is 0). A checked skin never refers to an unknown name.
size_t expand_rules(const Skin& skin, const Colour* colours, char* out, size_t capacity);

}  // namespace skin_format
