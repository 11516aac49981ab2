#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/values.h"

namespace {

using rt::Cell;

FF_CONST const char kLiteral[] = "literal text";
FF_CONST const int32_t kConstArray[] = {1, 3, 7, 8, 9};  // {dims 1, size 3, 7, 8, 9}

TEST(Values, EmptyValuesAreNullAndNullReadsAsEmpty) {
  EXPECT_EQ(rt::make_text("x", 0), nullptr);
  EXPECT_EQ(rt::make_bytes("x", 0), nullptr);
  EXPECT_EQ(rt::copy_text(nullptr), nullptr);
  EXPECT_EQ(rt::copy_text(""), nullptr);
  EXPECT_EQ(rt::text_length(nullptr), 0u);
  EXPECT_TRUE(rt::bytes_view(nullptr).empty());
  EXPECT_EQ(rt::array_shape(nullptr).element_count, 0u);
  rt::Text empty;
  EXPECT_STREQ(empty.c_str(), "");
}

TEST(Values, ByteSetBlockLayout) {
  rt::Bytes b = rt::Bytes::adopt(rt::make_bytes("abc", 3));
  int32_t header[2];
  std::memcpy(header, b.get(), 8);
  EXPECT_EQ(header[0], 1);
  EXPECT_EQ(header[1], 3);
  EXPECT_EQ(std::memcmp(b.get() + 8, "abc", 3), 0);
}

TEST(Values, DataOfAValue) {
  rt::Text abc("abc");
  rt::Bytes three(std::vector<uint8_t>{1, 2, 3});
  struct Case {
    Cell cell;
    size_t size;
  } cases[] = {
      {Cell::of_pointer(abc.get(), rt::kText), 4},  // the terminator counts
      {Cell::of_pointer(three.get(), rt::kBytes), 3},
      {Cell::of_byte(7), 1},
      {Cell::of_short(-3), 2},
      {Cell::of_int(5), 4},
      {Cell::of_bool(true), 4},
      {Cell::of_double(1.5), 8},
      {Cell::of_double(2.0, rt::kDateTime), 8},
      {Cell::of_int64(-1), 8},
      {Cell{1, 2, 0x80000009}, 0},  // outside the table: no data
      {Cell{1, 2, 0x10005}, 0},     // a unit reference carries no data
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rt::value_data(c.cell).size(), c.size) << std::hex << c.cell.type;
  }
}

TEST(Values, TextFromBytesReportsWhatItConsumed) {
  struct Case {
    const char* bytes;
    size_t count;
    const char* text;
    size_t consumed;
  } cases[] = {
      {"abc", 3, "abc", 3},    // no zero byte: everything
      {"ab\0cd", 5, "ab", 3},  // zero at position 3: 3 consumed
      {"\0abc", 4, "", 1},     // empty text, one byte consumed
      {"abc", 0, "", 0},       // nothing to read
  };
  for (const Case& c : cases) {
    Cell out;
    size_t consumed = 99;
    ASSERT_TRUE(rt::value_from_bytes(rt::kText, reinterpret_cast<const uint8_t*>(c.bytes), c.count,
                                     out, &consumed));
    rt::Text t = rt::Text::adopt(out.pointer<char>());
    EXPECT_STREQ(t.c_str(), c.text);
    EXPECT_EQ(consumed, c.consumed);
  }
}

TEST(Values, NumbersFromBytes) {
  auto read = [](rt::TypeCode code, std::vector<uint8_t> bytes) {
    bytes.resize(8, 0);
    Cell out;
    EXPECT_TRUE(rt::value_from_bytes(code, bytes.data(), bytes.size(), out));
    return out;
  };
  EXPECT_EQ(read(rt::kBool, {0, 0, 0, 2}).low, 1u);
  EXPECT_EQ(read(rt::kBool, {0, 0, 0, 0, 9}).low, 0u);  // only the first 4 bytes count
  EXPECT_EQ(read(rt::kShort, {0xFE, 0xFF}).as_int(), -2);
  EXPECT_EQ(read(rt::kByte, {0xFE, 0xFF}).as_int(), 254);
  EXPECT_EQ(read(rt::kInt, {1, 1, 0, 0, 7}).as_int(), 257);

  auto date = [&](double days) {
    std::vector<uint8_t> b(8);
    std::memcpy(b.data(), &days, 8);
    return read(rt::kDateTime, b).as_double();
  };
  EXPECT_EQ(date(1e7), 2958465.0);
  EXPECT_EQ(date(-1e6), -657434.0);
  EXPECT_EQ(date(45000.25), 45000.25);

  Cell untouched = Cell::of_int(42);
  EXPECT_FALSE(rt::value_from_bytes(0x80000009, nullptr, 0, untouched));
  EXPECT_EQ(untouched.as_int(), 42);
}

TEST(Values, ConstantsAreNeverFreedAndCopiedBeforeChange) {
  ASSERT_TRUE(rt::in_constant_area(kLiteral)) << "FF_CONST objects live in the constant area";
  rt::free_block(const_cast<char*>(kLiteral));  // ignored: no crash under ASan
  {
    rt::Text owner = rt::Text::adopt(const_cast<char*>(kLiteral));
    owner = rt::Text("replaced");  // overwriting frees the old block, but not a constant
  }
  EXPECT_STREQ(kLiteral, "literal text");

  auto* copy = static_cast<char*>(rt::reallocate(const_cast<char*>(kLiteral), 64));
  ASSERT_NE(copy, kLiteral);
  EXPECT_FALSE(rt::in_constant_area(copy));
  EXPECT_STREQ(copy, "literal text");
  rt::free_block(copy);
}

TEST(Values, MakeWritableCopiesAConstantArrayOnly) {
  void* variable = const_cast<int32_t*>(kConstArray);
  rt::make_writable(&variable, 4);
  ASSERT_NE(variable, kConstArray);
  EXPECT_EQ(std::memcmp(variable, kConstArray, sizeof kConstArray), 0);
  void* heap_copy = variable;
  rt::make_writable(&variable, 4);  // already writable: left alone
  EXPECT_EQ(variable, heap_copy);
  rt::free_block(variable);
}

TEST(Values, ArraysOwnTheirTextElements) {
  void* block = rt::make_pointer_array(3);
  rt::ArrayShape shape = rt::array_shape(block);
  ASSERT_EQ(shape.element_count, 3u);
  char* texts[] = {rt::copy_text("one"), nullptr, rt::copy_text("three")};
  std::memcpy(shape.elements, texts, sizeof texts);
  rt::Array a = rt::Array::adopt(block, rt::kText | rt::kByRef);
  EXPECT_STREQ(a.text_at(0), "one");
  EXPECT_EQ(a.text_at(1), nullptr);
  EXPECT_STREQ(a.text_at(2), "three");
  EXPECT_EQ(a.text_at(3), nullptr);
  a = rt::Array();  // frees the block and both texts (ASan reports a leak otherwise)
}

TEST(Values, OwnersFreeTheOldBlockOnOverwrite) {
  rt::Text t("first");
  t = rt::Text("second");
  t = t.copy();
  EXPECT_EQ(t.view(), "second");
  rt::Bytes b(std::vector<uint8_t>{1});
  b = rt::Bytes(std::vector<uint8_t>{2, 3});
  EXPECT_EQ(b.size(), 2u);
}

TEST(ByteBuffer, KeepsFixedSlack) {
  rt::ByteBuffer buf;
  std::vector<uint8_t> data(600, 0xAB);
  buf.append(data.data(), 10);
  EXPECT_EQ(buf.capacity(), 10u + 128);
  buf.append(data.data(), 90);  // 100 still fits: kept in place
  EXPECT_EQ(buf.capacity(), 138u);
  buf.append(data.data(), 100);  // 200 does not fit: 200 + 128
  EXPECT_EQ(buf.capacity(), 328u);
  buf.remove(0, 150);  // 50 would leave 278 unused: shrink to 50 + 128
  EXPECT_EQ(buf.size(), 50u);
  EXPECT_EQ(buf.capacity(), 178u);
  buf.remove(0, 40);  // 10 leaves 168 unused: kept
  EXPECT_EQ(buf.capacity(), 178u);
}

TEST(ByteBuffer, EditsAndWords) {
  rt::ByteBuffer buf;
  for (uint32_t w : {10u, 20u, 30u}) buf.append_u32(w);
  EXPECT_EQ(buf.find_word(20), 1);
  EXPECT_EQ(buf.find_word(99), -1);
  const uint32_t w = 15;
  buf.insert(4, &w, 4);
  EXPECT_EQ(buf.word_at(1), 15u);
  EXPECT_EQ(buf.word_at(2), 20u);
  const uint32_t pair[2] = {7, 8};
  buf.replace(4, 8, pair, 8);
  EXPECT_EQ(buf.word_at(1), 7u);
  EXPECT_EQ(buf.word_at(2), 8u);
  buf.replace(100, 5, pair, 4);  // past the end: appends
  EXPECT_EQ(buf.word_at(4), 7u);
  EXPECT_EQ(buf.word_at(99), 0u);
}

TEST(ByteBuffer, SerialisedFormRoundTrips) {
  rt::ByteBuffer buf;
  buf.append("hello", 5);
  rt::ByteBuffer out;
  buf.serialise_into(out);
  ASSERT_EQ(out.size(), 9u);
  rt::ByteBuffer back;
  EXPECT_EQ(back.deserialise(out.bytes()), 9u);
  EXPECT_EQ(std::memcmp(back.data(), "hello", 5), 0);

  // Every truncation is refused; a length of 0 or less reads as empty.
  for (size_t n = 0; n < out.size(); ++n) {
    EXPECT_EQ(back.deserialise(out.bytes().first(n)), 0u) << n;
  }
  const uint8_t negative[] = {0xFF, 0xFF, 0xFF, 0xFF, 'x'};
  EXPECT_EQ(back.deserialise(negative), 4u);
  EXPECT_EQ(back.size(), 0u);
}

}  // namespace
