// Any value as int, as text and as bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "web/commands.h"

namespace {

rt::Cell text(const char* t) {
  return rt::Cell::of_pointer(t, rt::kText);
}
rt::Cell date(double days) {
  return rt::Cell::of_double(days, rt::kDateTime);
}

// An array block {dims, sizes..., elements} as a by-reference cell of the element kind.
struct ArrayBlock {
  std::vector<uint8_t> block;
  ArrayBlock(std::vector<int32_t> sizes, std::vector<uint8_t> elements) {
    const auto dims = static_cast<int32_t>(sizes.size());
    sizes.insert(sizes.begin(), dims);
    block.resize(sizes.size() * 4);
    std::memcpy(block.data(), sizes.data(), block.size());
    block.insert(block.end(), elements.begin(), elements.end());
  }
  rt::Cell cell(rt::TypeCode kind) const {
    return rt::Cell::by_ref(const_cast<uint8_t*>(block.data()), kind);
  }
};

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

TEST(ToInteger, ByKind) {
  const ArrayBlock ints({1}, {7, 0, 0, 0});
  const struct {
    rt::Cell value;
    int32_t expected;
  } cases[] = {
      {text("１２３"), 123},
      {text("12abc"), 12},
      {text(""), 0},
      {text(nullptr), 0},
      {text(" \t-42"), -42},
      {text("－５"), -5},
      {text("　+１2"), 12},
      {text("啊1"), 0},
      {text("\xA3"), 0},
      {text("9999999999999999999999999"), std::numeric_limits<int32_t>::max()},
      {text("-9999999999999999999999999"), kIntMin},
      {rt::Cell::of_byte(200), 200},
      {rt::Cell::of_short(-3), -3},
      {rt::Cell::of_int64(0x100000005), 5},
      {rt::Cell::of_float(-2.7f), -2},
      {rt::Cell::of_double(3.99), 3},
      {rt::Cell::of_double(1e20), kIntMin},  // out of range: what the processor's conversion gives
      {rt::Cell::of_double(std::nan("")), kIntMin},
      {date(45000.5), 0},
      {ints.cell(rt::kInt), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(web::to_integer(c.value), c.expected) << std::hex << c.value.type;
  }
}

TEST(ToText, ByKind) {
  const uint8_t cut_bytes[] = {'a', 'b', 0, 'c'};
  const rt::Bytes cut{std::span(cut_bytes)};
  const ArrayBlock chars({2}, {'A', 'B', 0, 0, 'C', 0, 0, 0});
  const struct {
    rt::Cell value;
    std::string_view expected;
  } cases[] = {
      {rt::Cell::of_double(0.5), "0.5"},
      {rt::Cell::of_double(3.0), "3"},
      {rt::Cell::of_double(1e20), "1e+020"},
      {rt::Cell::of_double(-1.5e-7), "-1.5e-007"},
      {rt::Cell::of_double(1.0 / 3), "0.3333333333333"},
      {rt::Cell::of_float(1234567.0f), "1.23457e+006"},
      {rt::Cell::of_byte(255), "255"},
      {rt::Cell::of_short(-5), "-5"},
      {rt::Cell::of_int64(-1234567890123), "-1234567890123"},
      {rt::Cell::of_bool(true), "真"},
      {rt::Cell::of_bool(false), "假"},
      {rt::to_cell(cut), "ab"},  // a fetched page ends at its first zero byte
      {chars.cell(rt::kByte), "AB"},
      {chars.cell(rt::kText), ""},
      {rt::Cell{1, 0, rt::kSubroutine}, ""},
      {date(0), "1899年12月30日"},
      {date(45000.5), "2023年3月15日12时"},
      {date(45000 + 785 / 1440.0), "2023年3月15日13时5分"},
      {date(45000 + 7 / 86400.0), "2023年3月15日0时0分7秒"},
      {date(-1.25), "1899年12月29日6时"},
      {date(45000.9999999999), "2023年3月16日"},  // the rounded second carries into the next day
      {date(1e7), "9999年12月31日"},
      {date(-1e6), "100年1月1日"},
  };
  for (const auto& c : cases) EXPECT_EQ(web::to_text(c.value).view(), c.expected);
}

TEST(ToBytes, ByKind) {
  using V = std::vector<uint8_t>;
  const uint8_t raw[] = {9, 0, 8};
  const rt::Bytes set{std::span(raw)};
  // A 2 x 2 int array gives the data of as many elements as its first dimension counts.
  const ArrayBlock grid({2, 2}, {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0});
  const struct {
    rt::Cell value;
    V expected;
  } cases[] = {
      {text("ab"), {'a', 'b'}},
      {text(nullptr), {}},
      {rt::to_cell(set), {9, 0, 8}},
      {rt::Cell::of_int64(0x0102030405060708), {8, 7, 6, 5, 4, 3, 2, 1}},
      {rt::Cell::of_bool(true), {1, 0, 0, 0}},
      {date(1.0), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {grid.cell(rt::kInt), {1, 0, 0, 0, 2, 0, 0, 0}},
      {grid.cell(rt::kText), {}},
      {rt::Cell{5, 0, 0x00020001}, {}},
  };
  for (const auto& c : cases) {
    const rt::Bytes got = web::to_bytes(c.value);
    EXPECT_EQ(V(got.view().begin(), got.view().end()), c.expected) << std::hex << c.value.type;
  }
}

}  // namespace
