// Window template data: the serialised form of all windows and their unit tables, and the unit
// table as kept in memory while the program runs.
//
// All integers are 32-bit little-endian. The data is a window list (a length-prefixed buffer of
// N window ids and N ignored words), then per window two numbers, two length-prefixed strings,
// the unit count and a length-prefixed unit table. A unit table is U ids, U offsets, then the
// records; record i lies at U * 8 + offset[i] and is an int32 length plus that many bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/byte_buffer.h"

namespace rt {

// Unit ids: the top four bits tell the entry (0 window's own unit, 1 ordinary unit, 2 with bits
// 24-27 equal to 6 a menu item).
inline bool valid_id(uint32_t id) {
  return (id & 0x00FFFFFF) != 0 && (id & 0x0F000000) != 0;
}
inline bool is_menu_item_id(uint32_t id) {
  return (id >> 28) == 2 && ((id >> 24) & 0xF) == 6;
}
inline bool is_window_unit_id(uint32_t id) {
  return (id >> 28) == 0;
}

struct EventBinding {
  int32_t event = 0;
  int32_t handler = 0;  // offset from the code base in templates; a handler id once rewritten
};

// One unit record, decoded. The unit record of a menu item carries only the fields marked so.
struct UnitRecord {
  uint32_t kind = 0;
  uint32_t link = 0;
  std::string name;  // GBK
  std::string comment;
  // Menu items only:
  int32_t menu_a = 0, menu_b = 0, menu_state = 0;
  std::string menu_caption;
  int32_t menu_handler = 0;
  // Ordinary units and the window's own unit:
  int32_t live_object = 0;
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t cursor_handle = 0;
  uint32_t parent = 0;
  std::vector<uint32_t> children;
  std::vector<uint8_t> cursor_data;
  std::string tag;
  int32_t flags = 0;
  std::vector<EventBinding> events;
  std::vector<uint8_t> property_data;

  bool is_menu_item = false;
};

inline constexpr int32_t kUnitVisible = 1;
inline constexpr int32_t kUnitDisabled = 2;
inline constexpr int32_t kUnitTabStop = 4;

// Decodes a record; nothing on any inconsistency.
std::optional<UnitRecord> decode_unit_record(std::span<const uint8_t> bytes, bool menu_item);
std::vector<uint8_t> encode_unit_record(const UnitRecord& record);

// Byte offsets of the fixed int32 fields inside an ordinary record, for in-place updates.
struct RecordFieldOffsets {
  size_t live_object = 0, left = 0, top = 0, width = 0, height = 0, cursor_handle = 0, flags = 0;
  size_t events = 0;  // the event count word
};
std::optional<RecordFieldOffsets> record_field_offsets(std::span<const uint8_t> bytes);

// The keyed unit table.
class UnitTable {
 public:
  UnitTable() = default;
  // Takes a serialised table; false when it is inconsistent.
  bool assign(std::span<const uint8_t> table, uint32_t unit_count);
  void assign_records(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records);
  UnitTable copy() const;
  void swap(UnitTable& other) { std::swap(bytes_, other.bytes_), std::swap(count_, other.count_); }
  void clear();

  uint32_t count() const { return count_; }
  uint32_t id_at(uint32_t index) const;
  // Index of the unit with this id (0 = the window's own unit, entry 0), or -1.
  int32_t find(uint32_t unit_id) const;
  std::span<const uint8_t> record(uint32_t index) const;
  std::span<uint8_t> mutable_record(uint32_t index);
  // Replaces record i, shifting the records after it.
  void replace_record(uint32_t index, std::span<const uint8_t> bytes);
  std::span<const uint8_t> bytes() const { return bytes_.bytes(); }

  int32_t read_field(uint32_t index, size_t offset) const;
  void write_field(uint32_t index, size_t offset, int32_t value);

 private:
  uint32_t offset_at(uint32_t index) const;
  ByteBuffer bytes_;
  uint32_t count_ = 0;
};

struct WindowTemplate {
  uint32_t id = 0;
  int32_t a = 0, b = 0;
  std::string text1, text2;
  UnitTable units;
};

// Reads all windows; nothing when the data is inconsistent or not consumed exactly.
std::optional<std::vector<WindowTemplate>> decode_templates(std::span<const uint8_t> data);
// Writes template data (the build step's writer).
std::vector<uint8_t> encode_templates(const std::vector<WindowTemplate>& windows);

}  // namespace rt
