// Byte sets, reading values out of them, raw memory, and the number commands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/fatal.h"
#include "web/commands.h"

namespace {

using V = std::vector<uint8_t>;
using web::ValueKind;

V bytes_of(const rt::Bytes& b) {
  return {b.view().begin(), b.view().end()};
}
rt::Bytes make(const V& v) {
  return rt::Bytes(std::span(v));
}

TEST(ByteSetCuts, ClampToTheData) {
  const rt::Bytes b = make({1, 2, 3, 4});
  const struct {
    int32_t start, n;
    V left, right, middle;
  } cases[] = {
      {2, 2, {1, 2}, {3, 4}, {2, 3}},
      {-5, 9, {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {4, 5, {1, 2, 3, 4}, {1, 2, 3, 4}, {4}},
      {5, 1, {1}, {4}, {}},
      {1, -1, {}, {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bytes_of(web::bytes_left(b, c.n)), c.left) << c.n;
    EXPECT_EQ(bytes_of(web::bytes_right(b, c.n)), c.right) << c.n;
    EXPECT_EQ(bytes_of(web::bytes_middle(b, c.start, c.n)), c.middle) << c.start << "," << c.n;
  }
  EXPECT_EQ(web::bytes_len(b), 4);
  EXPECT_EQ(web::bytes_left(rt::Bytes(), 3).get(), nullptr);
  EXPECT_EQ(bytes_of(web::zero_bytes(3)), V(3, 0));
  EXPECT_EQ(web::zero_bytes(0).get(), nullptr);
}

TEST(ReadBytesValue, PositionVariableWalksRecords) {
  const rt::Bytes b = make({1, 2, 3, 4, 5, 6});
  int32_t pos = 1;
  EXPECT_EQ(web::read_bytes_value(b, ValueKind::Int, rt::Ref<int32_t>{&pos}).as_int(), 0x04030201);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(web::read_bytes_value(b, ValueKind::Int, rt::Ref<int32_t>{&pos}).as_int(), 0x0605);
  EXPECT_EQ(pos, -1);
  const rt::Bytes names = make({'a', 'b', 0, 'c', 'd', 0});
  pos = 1;
  for (const std::string_view expected : {"ab", "cd"}) {
    const rt::Cell got = web::read_bytes_value(names, ValueKind::Text, rt::Ref<int32_t>{&pos});
    EXPECT_EQ(rt::Text::adopt(got.pointer<char>()).view(), expected);
  }
  EXPECT_EQ(pos, -1);
}

V bytes_of(const void* p, size_t n) {
  return V(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
}

TEST(ReadBytesValue, KindsAndPositions) {
  const rt::Bytes b = make({1, 2, 3, 4, 5, 6, 0, 0x40});
  const double big = 1e7;
  const rt::Bytes date = make(bytes_of(&big, 8));
  const struct {
    const rt::Bytes& bytes;
    ValueKind kind;
    std::optional<int32_t> position;  // passed by value: nothing written back
    rt::Cell expected;
  } cases[] = {
      {b, ValueKind::Short, 7, rt::Cell{0x4000, 0, rt::kShort}},
      {b, ValueKind::Double, 3, rt::Cell{0x06050403, 0x4000, rt::kDouble}},  // zero-padded tail
      {b, ValueKind::Int, 9, rt::Cell{0, 0, rt::kInt}},                      // past the end
      {b, ValueKind::Int, 0, rt::Cell{0, 0, rt::kInt}},
      {b, ValueKind::Subroutine, {}, rt::Cell{0x04030201, 0x40000605, rt::kSubroutine}},
      {date, ValueKind::DateTime, {}, rt::Cell::of_double(2958465, rt::kDateTime)},
  };
  for (const auto& c : cases) {
    const auto kind = static_cast<int32_t>(c.kind);
    const rt::Cell got = rt::call(&web::cmd::read_bytes_value, c.bytes, kind, c.position);
    EXPECT_EQ(got.type, c.expected.type) << kind;
    EXPECT_EQ(got.payload(), c.expected.payload()) << kind;
  }
}

// A record {int, short, text, double} read field by field from every prefix of its bytes: a
// field cut short reads zero-padded (a text: the bytes present), and the position turns -1 on
// the read that reaches the end, never sooner.
TEST(ReadBytesValue, EveryPrefixOfARecord) {
  V record = {0x44, 0x33, 0x22, 0x11, 0x07, 0x80, 'n', 'a', 'm', 'e', 0};
  const double half = 2.5;
  const V half_bytes = bytes_of(&half, 8);
  record.insert(record.end(), half_bytes.begin(), half_bytes.end());
  const ValueKind fields[] = {ValueKind::Int, ValueKind::Short, ValueKind::Text, ValueKind::Double};
  const size_t starts[] = {0, 4, 6, 11, 19};

  for (size_t length = 0; length <= record.size(); ++length) {
    SCOPED_TRACE(length);
    const rt::Bytes prefix = make(bytes_of(record.data(), length));
    int32_t pos = 1;
    for (size_t f = 0; f < 4 && pos != -1; ++f) {
      const size_t end = std::min(length, starts[f + 1]);
      const rt::Cell got = web::read_bytes_value(prefix, fields[f], rt::Ref<int32_t>{&pos});
      V expected = bytes_of(record.data() + starts[f], end - starts[f]);
      if (fields[f] == ValueKind::Text) {
        if (!expected.empty() && expected.back() == 0)
          expected.pop_back();
        EXPECT_EQ(rt::Text::adopt(got.pointer<char>()).view(),
                  std::string(expected.begin(), expected.end()));
      } else {
        expected.resize(starts[f + 1] - starts[f], 0);
        EXPECT_EQ(bytes_of(&got.low, expected.size()), expected) << f;
      }
      EXPECT_EQ(pos, end >= length ? -1 : static_cast<int32_t>(end + 1)) << f;
    }
  }
}

std::string hex_of(std::string_view s) {
  std::string hex;
  for (const char c : s) {
    hex += "0123456789ABCDEF"[static_cast<uint8_t>(c) >> 4];
    hex += "0123456789ABCDEF"[c & 0xF];
  }
  return hex;
}

TEST(ReadBytesValueDeathTest, KindOutsideOneToTenEndsTheProgram) {
  const std::string report = hex_of(rt::build_error_report("“欲取出数据的类型”参数值无效", 0));
  const rt::Bytes b = make({1, 2, 3, 4});
  for (const int32_t kind : {11, 0}) {
    EXPECT_EXIT(
        {
          rt::set_report_presenter([](const char* r) { std::fputs(hex_of(r).c_str(), stderr); });
          rt::call(&web::cmd::read_bytes_value, b, kind);
        },
        testing::ExitedWithCode(255), report)
        << kind;
  }
}

TEST(RawMemory, PointerToBytesAndWriteMemory) {
  const uint8_t source[] = {5, 6, 7};
  EXPECT_EQ(bytes_of(web::pointer_to_bytes(source, 2)), (V{5, 6}));
  EXPECT_EQ(web::pointer_to_bytes(source, 0).get(), nullptr);
  EXPECT_EQ(web::pointer_to_bytes(nullptr, 4).get(), nullptr);

  const rt::Bytes set = make({1, 2, 3});
  int32_t ints[3] = {1, 2, 3};
  uint8_t byte_block[8 + 3] = {1, 0, 0, 0, 3, 0, 0, 0, 7, 8, 9};
  const struct {
    rt::Cell value;
    std::optional<int32_t> max;
    V written;
  } cases[] = {
      {rt::Cell::of_int(0x01020304), {}, {4, 3, 2, 1}},
      {rt::Cell::of_int(0x01020304), 2, {4, 3}},
      {rt::Cell::of_int(0x01020304), 9, {4, 3, 2, 1}},
      {rt::Cell::of_pointer("ab", rt::kText), {}, {'a', 'b', 0}},
      {rt::Cell::of_pointer(nullptr, rt::kText), {}, {0}},
      {rt::to_cell(set), {}, {1, 2, 3}},
      {rt::Cell::by_ref(byte_block, rt::kByte), {}, {7, 8, 9}},
      {rt::Cell::by_ref(ints, rt::kInt), {}, {}},
      {rt::Cell{1, 0, 0x00010001}, {}, {}},
  };
  for (const auto& c : cases) {
    V target(6, 0xEE);
    web::write_memory(c.value, target.data(), c.max);
    V expected = c.written;
    expected.resize(6, 0xEE);
    EXPECT_EQ(target, expected) << std::hex << c.value.type;
  }
  web::write_memory(rt::Cell::of_int(1), nullptr);  // no address, nothing written
}

TEST(Numbers, BitsAndWholeParts) {
  EXPECT_EQ(web::bit_and(0x7F), 0x7F);
  EXPECT_EQ(web::bit_and(0xF0, 0x3C), 0x30);
  EXPECT_EQ(web::bit_and(-1, 0xFF, 0x0F), 0x0F);
  EXPECT_EQ(web::bit_or(1, 2, 4, 0x100), 0x107);

  const struct {
    double x;
    int32_t whole;
  } cases[] = {
      {2.9999999999995, 3},
      {2.5, 2},
      {-2.5, -3},
      {-2.9999999999995, -3},
      {2.0, 2},
      {-1e-13, -1},
      {2.999999999, 2},
      {1e10, std::numeric_limits<int32_t>::min()},
      {std::nan(""), std::numeric_limits<int32_t>::min()},
  };
  for (const auto& c : cases) EXPECT_EQ(web::integer_part(c.x), c.whole) << c.x;

  EXPECT_EQ(rt::call_double(&web::cmd::absolute_value, int32_t{-3}), 3.0);  // an int argument
}

}  // namespace
