#include "runtime/template_data.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace rt {

std::optional<UnitRecord> decode_unit_record(std::span<const uint8_t> bytes, bool menu_item) {
  base::ByteReader r(bytes);
  UnitRecord u;
  u.is_menu_item = menu_item;
  u.kind = r.u32();
  u.link = r.u32();
  for (int i = 0; i < 4; ++i) r.i32();
  u.name = r.c_string();
  u.comment = r.c_string();
  if (menu_item) {
    u.menu_a = r.i32();
    u.menu_b = r.i32();
    u.menu_state = r.i32();
    u.menu_caption = r.c_string();
    u.menu_handler = r.i32();
  } else {
    u.live_object = r.i32();
    u.left = r.i32();
    u.top = r.i32();
    u.width = r.i32();
    u.height = r.i32();
    u.cursor_handle = r.i32();
    u.parent = r.u32();
    const uint32_t children = r.count(4);
    for (uint32_t i = 0; i < children && r.ok(); ++i) u.children.push_back(r.u32());
    const auto cursor = r.prefixed();
    u.cursor_data.assign(cursor.begin(), cursor.end());
    u.tag = r.c_string();
    r.i32();
    u.flags = r.i32();
    r.i32();
    const uint32_t events = r.count(8);
    for (uint32_t i = 0; i < events && r.ok(); ++i) {
      EventBinding b;
      b.event = r.i32();
      b.handler = r.i32();
      u.events.push_back(b);
    }
    for (int i = 0; i < 5; ++i) r.i32();
    const auto rest = r.bytes(r.remaining());
    u.property_data.assign(rest.begin(), rest.end());
  }
  if (!r.ok())
    return std::nullopt;
  if (menu_item && !r.at_end())
    return std::nullopt;
  return u;
}

std::vector<uint8_t> encode_unit_record(const UnitRecord& u) {
  std::vector<uint8_t> out;
  base::ByteWriter w(out);
  w.u32(u.kind);
  w.u32(u.link);
  for (int i = 0; i < 4; ++i) w.i32(0);
  w.c_string(u.name);
  w.c_string(u.comment);
  if (u.is_menu_item) {
    w.i32(u.menu_a);
    w.i32(u.menu_b);
    w.i32(u.menu_state);
    w.c_string(u.menu_caption);
    w.i32(u.menu_handler);
    return out;
  }
  w.i32(u.live_object);
  w.i32(u.left);
  w.i32(u.top);
  w.i32(u.width);
  w.i32(u.height);
  w.i32(u.cursor_handle);
  w.u32(u.parent);
  w.i32(static_cast<int32_t>(u.children.size()));
  for (uint32_t c : u.children) w.u32(c);
  w.prefixed(u.cursor_data);
  w.c_string(u.tag);
  w.i32(0);
  w.i32(u.flags);
  w.i32(0);
  w.i32(static_cast<int32_t>(u.events.size()));
  for (const EventBinding& b : u.events) {
    w.i32(b.event);
    w.i32(b.handler);
  }
  for (int i = 0; i < 5; ++i) w.i32(0);
  w.bytes(u.property_data);
  return out;
}

std::optional<RecordFieldOffsets> record_field_offsets(std::span<const uint8_t> bytes) {
  base::ByteReader r(bytes);
  for (int i = 0; i < 6; ++i) r.i32();
  r.c_string();
  r.c_string();
  RecordFieldOffsets o;
  o.live_object = r.position();
  o.left = o.live_object + 4;
  o.top = o.left + 4;
  o.width = o.top + 4;
  o.height = o.width + 4;
  o.cursor_handle = o.height + 4;
  for (int i = 0; i < 7; ++i) r.i32();
  const uint32_t children = r.count(4);
  r.bytes(size_t{children} * 4);
  r.prefixed();
  r.c_string();
  r.i32();
  o.flags = r.position();
  r.i32();
  r.i32();
  o.events = r.position();
  r.i32();
  if (!r.ok())
    return std::nullopt;
  return o;
}

bool UnitTable::assign(std::span<const uint8_t> table, uint32_t unit_count) {
  clear();
  const size_t head = size_t{unit_count} * 8;
  if (unit_count == 0 || head > table.size())
    return unit_count == 0 && table.empty();
  // Every offset must point at a whole record inside the table, and no two records may share a
  // byte: replacing or writing one would change the other, its length word included.
  std::vector<std::pair<size_t, size_t>> spans;  // where each record starts and ends
  spans.reserve(unit_count);
  for (uint32_t i = 0; i < unit_count; ++i) {
    const uint32_t offset = base::load_le32(table.data() + size_t{unit_count} * 4 + size_t{i} * 4);
    if (offset > table.size() - head || table.size() - head - offset < 4)
      return false;
    const auto length = static_cast<int32_t>(base::load_le32(table.data() + head + offset));
    if (length < 0 || static_cast<size_t>(length) > table.size() - head - offset - 4)
      return false;
    spans.emplace_back(offset, size_t{offset} + 4 + static_cast<size_t>(length));
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second)
      return false;
  }
  bytes_.append(table.data(), table.size());
  count_ = unit_count;
  return true;
}

void UnitTable::assign_records(
    const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records) {
  clear();
  count_ = static_cast<uint32_t>(records.size());
  for (const auto& [id, bytes] : records) bytes_.append_u32(id);
  uint32_t offset = 0;
  for (const auto& [id, bytes] : records) {
    bytes_.append_u32(offset);
    offset += 4 + static_cast<uint32_t>(bytes.size());
  }
  for (const auto& [id, bytes] : records) {
    bytes_.append_u32(static_cast<uint32_t>(bytes.size()));
    bytes_.append(bytes.data(), bytes.size());
  }
}

UnitTable UnitTable::copy() const {
  UnitTable t;
  t.bytes_.append(bytes_.data(), bytes_.size());
  t.count_ = count_;
  return t;
}

void UnitTable::clear() {
  bytes_.clear();
  count_ = 0;
}

uint32_t UnitTable::id_at(uint32_t index) const {
  return bytes_.word_at(index);
}

uint32_t UnitTable::offset_at(uint32_t index) const {
  return bytes_.word_at(count_ + index);
}

int32_t UnitTable::find(uint32_t unit_id) const {
  if (count_ == 0)
    return -1;
  if (unit_id == 0)
    return 0;
  for (uint32_t i = 0; i < count_; ++i) {
    if (id_at(i) == unit_id)
      return static_cast<int32_t>(i);
  }
  return -1;
}

std::span<const uint8_t> UnitTable::record(uint32_t index) const {
  if (index >= count_)
    return {};
  const size_t start = size_t{count_} * 8 + offset_at(index);
  const auto length = static_cast<int32_t>(base::load_le32(bytes_.data() + start));
  return {bytes_.data() + start + 4, static_cast<size_t>(length)};
}

std::span<uint8_t> UnitTable::mutable_record(uint32_t index) {
  const auto r = record(index);
  return {const_cast<uint8_t*>(r.data()), r.size()};
}

void UnitTable::replace_record(uint32_t index, std::span<const uint8_t> bytes) {
  if (index >= count_)
    return;
  const size_t start = size_t{count_} * 8 + offset_at(index);
  const size_t old_length = record(index).size();
  const auto new_length = static_cast<uint32_t>(bytes.size());
  bytes_.replace(start + 4, old_length, bytes.data(), bytes.size());
  std::memcpy(bytes_.data() + start, &new_length, 4);
  const auto delta = static_cast<int64_t>(bytes.size()) - static_cast<int64_t>(old_length);
  if (delta == 0)
    return;
  // Shift the offsets of every record stored after this one.
  const uint32_t my_offset = offset_at(index);
  for (uint32_t i = 0; i < count_; ++i) {
    const uint32_t off = offset_at(i);
    if (off > my_offset) {
      const auto shifted = static_cast<uint32_t>(static_cast<int64_t>(off) + delta);
      std::memcpy(bytes_.data() + size_t{count_ + i} * 4, &shifted, 4);
    }
  }
}

int32_t UnitTable::read_field(uint32_t index, size_t offset) const {
  const auto r = record(index);
  if (offset + 4 > r.size())
    return 0;
  return static_cast<int32_t>(base::load_le32(r.data() + offset));
}

void UnitTable::write_field(uint32_t index, size_t offset, int32_t value) {
  auto r = mutable_record(index);
  if (offset + 4 > r.size())
    return;
  std::memcpy(r.data() + offset, &value, 4);
}

std::optional<std::vector<WindowTemplate>> decode_templates(std::span<const uint8_t> data) {
  base::ByteReader r(data);
  const auto list = r.prefixed();
  if (!r.ok() || list.size() % 8 != 0)
    return std::nullopt;
  const size_t n = list.size() / 8;
  std::vector<WindowTemplate> windows(n);
  for (size_t i = 0; i < n; ++i) windows[i].id = base::load_le32(list.data() + i * 4);
  for (WindowTemplate& w : windows) {
    w.a = r.i32();
    w.b = r.i32();
    const auto t1 = r.prefixed();
    w.text1.assign(t1.begin(), t1.end());
    const auto t2 = r.prefixed();
    w.text2.assign(t2.begin(), t2.end());
    const uint32_t units = r.count(8);
    const auto table = r.prefixed();
    if (!r.ok() || !w.units.assign(table, units))
      return std::nullopt;
    // Entry 0 is the window's own unit; every record must decode.
    for (uint32_t u = 0; u < units; ++u) {
      const uint32_t id = w.units.id_at(u);
      if (!valid_id(id) || (u == 0) != is_window_unit_id(id))
        return std::nullopt;
      if (!decode_unit_record(w.units.record(u), is_menu_item_id(id)))
        return std::nullopt;
    }
  }
  if (!r.ok() || !r.at_end())
    return std::nullopt;
  return windows;
}

std::vector<uint8_t> encode_templates(const std::vector<WindowTemplate>& windows) {
  std::vector<uint8_t> out;
  base::ByteWriter w(out);
  w.i32(static_cast<int32_t>(windows.size() * 8));
  for (const WindowTemplate& t : windows) w.u32(t.id);
  for (size_t i = 0; i < windows.size(); ++i) w.i32(0);
  for (const WindowTemplate& t : windows) {
    w.i32(t.a);
    w.i32(t.b);
    w.prefixed(t.text1);
    w.prefixed(t.text2);
    w.i32(static_cast<int32_t>(t.units.count()));
    w.prefixed(t.units.bytes());
  }
  return out;
}

}  // namespace rt
