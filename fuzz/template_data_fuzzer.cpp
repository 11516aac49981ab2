// libFuzzer harness for window template data (runtime/template_data.cpp): the decoder must
// refuse anything inconsistent without reading past the data, and what it accepts must survive
// the runtime's own uses: written back and read again to the same bytes, every unit record
// decoded, its fixed fields found where record_field_offsets says, written in place, and a
// record replaced by a longer or shorter one with the table staying consistent.
//
// Input: the template data.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/template_data.h"

namespace {

std::vector<uint8_t> encoded(const rt::UnitRecord& record) {
  return rt::encode_unit_record(record);
}

bool same_records(const rt::UnitTable& a, const rt::UnitTable& b) {
  if (a.count() != b.count())
    return false;
  for (uint32_t i = 0; i < a.count(); ++i) {
    const auto x = a.record(i);
    const auto y = b.record(i);
    if (a.id_at(i) != b.id_at(i) || !std::equal(x.begin(), x.end(), y.begin(), y.end()))
      return false;
  }
  return true;
}

void check_units(rt::UnitTable& units) {
  const std::span<const uint8_t> table = units.bytes();
  for (uint32_t u = 0; u < units.count(); ++u) {
    const uint32_t id = units.id_at(u);
    FF_CHECK(units.find(id) >= 0);
    const std::span<const uint8_t> record = units.record(u);
    FF_CHECK(record.data() >= table.data() &&
             record.data() + record.size() <= table.data() + table.size());
    const bool menu_item = rt::is_menu_item_id(id);
    const std::optional<rt::UnitRecord> decoded = rt::decode_unit_record(record, menu_item);
    FF_CHECK(decoded.has_value());
    // What is written back reads the same.
    const std::vector<uint8_t> bytes = encoded(*decoded);
    const std::optional<rt::UnitRecord> again = rt::decode_unit_record(bytes, menu_item);
    FF_CHECK(again && encoded(*again) == bytes);
    if (menu_item)
      continue;

    const std::optional<rt::RecordFieldOffsets> at = rt::record_field_offsets(record);
    FF_CHECK(at.has_value());
    FF_CHECK(units.read_field(u, at->left) == decoded->left);
    FF_CHECK(units.read_field(u, at->height) == decoded->height);
    FF_CHECK(units.read_field(u, at->flags) == decoded->flags);
    FF_CHECK(units.read_field(u, at->events) == static_cast<int32_t>(decoded->events.size()));
    units.write_field(u, at->width, decoded->width ^ 0x5A5A);
    const std::optional<rt::UnitRecord> moved = rt::decode_unit_record(units.record(u), false);
    FF_CHECK(moved && moved->width == (decoded->width ^ 0x5A5A));
    units.write_field(u, at->width, decoded->width);
  }
  // Each record replaced by its written-back form, which may be shorter or longer (a short
  // cursor length reads as empty); the others move and stay whole.
  for (uint32_t u = 0; u < units.count(); ++u) {
    const bool menu_item = rt::is_menu_item_id(units.id_at(u));
    const std::optional<rt::UnitRecord> decoded =
        rt::decode_unit_record(units.record(u), menu_item);
    FF_CHECK(decoded.has_value());
    rt::UnitRecord longer = *decoded;
    if (!menu_item)
      longer.property_data.resize(longer.property_data.size() + u % 3 * 5, 7);
    rt::UnitTable before = units.copy();
    units.replace_record(u, encoded(longer));
    rt::UnitTable check;
    FF_CHECK(check.assign(units.bytes(), units.count()));
    for (uint32_t other = 0; other < units.count(); ++other) {
      if (other == u)
        continue;
      const auto x = before.record(other);
      const auto y = units.record(other);
      FF_CHECK(std::equal(x.begin(), x.end(), y.begin(), y.end()));
    }
  }
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<std::vector<rt::WindowTemplate>> windows = rt::decode_templates({data, size});
  if (!windows)
    return 0;
  const std::vector<uint8_t> written = rt::encode_templates(*windows);
  std::optional<std::vector<rt::WindowTemplate>> again = rt::decode_templates(written);
  FF_CHECK(again && again->size() == windows->size());
  FF_CHECK(rt::encode_templates(*again) == written);
  for (size_t i = 0; i < windows->size(); ++i) {
    FF_CHECK(same_records((*windows)[i].units, (*again)[i].units));
    check_units((*windows)[i].units);
  }
  return 0;
}
