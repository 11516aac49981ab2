// Unit tables read from template data: each record is whole, and no two records share a byte,
// since writing or replacing one would change the other (found by fuzzing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "runtime/template_data.h"

namespace {

constexpr uint32_t kWindowUnit = 0x06010001;
constexpr uint32_t kBox = 0x16010002;

rt::UnitRecord unit(const char* name) {
  rt::UnitRecord r;
  r.kind = 0x10001;
  r.name = name;
  r.width = 100;
  r.height = 50;
  r.flags = rt::kUnitVisible;
  return r;
}

// A window table of two records, stored one after the other.
std::vector<uint8_t> two_records() {
  rt::UnitTable t;
  t.assign_records({{kWindowUnit, rt::encode_unit_record(unit("window"))},
                    {kBox, rt::encode_unit_record(unit("box"))}});
  return {t.bytes().begin(), t.bytes().end()};
}

void set_offset(std::vector<uint8_t>& table, uint32_t index, uint32_t offset) {
  std::memcpy(table.data() + 2 * 4 + index * 4, &offset, 4);
}

// Template data of one window holding `table`.
std::vector<uint8_t> templates_with(const std::vector<uint8_t>& table) {
  std::vector<rt::WindowTemplate> windows(1);
  windows[0].id = 0x52010001;
  windows[0].units.assign_records({{kWindowUnit, rt::encode_unit_record(unit("window"))},
                                   {kBox, rt::encode_unit_record(unit("box"))}});
  std::vector<uint8_t> data = rt::encode_templates(windows);
  const std::vector<uint8_t> good = two_records();
  const auto at = std::search(data.begin(), data.end(), good.begin(), good.end());
  std::copy(table.begin(), table.end(), at);
  return data;
}

TEST(UnitTableData, RecordsThatShareBytesAreRefused) {
  const std::vector<uint8_t> good = two_records();
  uint32_t second = 0;
  std::memcpy(&second, good.data() + 3 * 4, 4);
  rt::UnitTable table;
  ASSERT_TRUE(table.assign(good, 2));
  ASSERT_TRUE(rt::decode_templates(templates_with(good)));

  const struct {
    const char* what;
    uint32_t offset;  // of the second record
  } cases[] = {
      {"the first record twice", 0},
      {"a record inside the first", 8},  // its length word reads the first record's link: 0
      {"a record starting inside the first", second - 4},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bad = good;
    set_offset(bad, 1, c.offset);
    EXPECT_FALSE(table.assign(bad, 2)) << c.what;
    EXPECT_FALSE(rt::decode_templates(templates_with(bad))) << c.what;
  }
}

TEST(UnitTableData, RecordsMayBeStoredInAnyOrder) {
  std::vector<uint8_t> table = two_records();
  uint32_t second = 0;
  std::memcpy(&second, table.data() + 3 * 4, 4);
  set_offset(table, 0, second);
  set_offset(table, 1, 0);
  rt::UnitTable t;
  ASSERT_TRUE(t.assign(table, 2));
  EXPECT_EQ(rt::decode_unit_record(t.record(0), false)->name, "box");
  EXPECT_EQ(rt::decode_unit_record(t.record(1), false)->name, "window");
}

}  // namespace
