// The one reader every binary format goes through (base/byte_reader.h), and its writer: what a
// short or malformed input makes of each read, since every parser relies on exactly that.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace {

using base::ByteReader;
using base::Bytes;

std::vector<uint8_t> int32s(std::initializer_list<int32_t> words) {
  std::vector<uint8_t> out;
  base::ByteWriter w(out);
  for (int32_t v : words) w.i32(v);
  return out;
}

// --- Short reads ---

TEST(ByteReader, AShortReadAnswersZeroAndTheReaderStaysFailed) {
  const uint8_t data[] = {1, 2, 3};
  ByteReader r(data);
  EXPECT_EQ(r.u32(), 0u);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.position(), 0u) << "a failed read takes nothing";
  EXPECT_EQ(r.u8(), 0u) << "the byte is there, but the reader failed before";
  EXPECT_TRUE(r.bytes(1).empty());
  EXPECT_FALSE(r.skip(0));
  EXPECT_EQ(r.c_string(), "");
  EXPECT_FALSE(r.ok());
}

TEST(ByteReader, ReadsLittleEndianUpToTheLastByte) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF, 0xFF, 0xFF, 0xFF};
  ByteReader r(data);
  EXPECT_EQ(r.u16(), 0x0201u);
  EXPECT_EQ(r.u8(), 0x03u);
  EXPECT_EQ(r.bytes(3).size(), 3u);
  EXPECT_EQ(r.i32(), -1);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.u8(), 0u);
  EXPECT_FALSE(r.ok());
}

// --- Counts and lengths ---

struct CountCase {
  const char* name;
  int32_t count;
  size_t item_size;
  size_t cap;
  size_t following;  // bytes after the count word
  bool ok;
};

class Counts : public ::testing::TestWithParam<CountCase> {};

TEST_P(Counts, AreRefusedBeforeAnythingIsAllocated) {
  const CountCase& c = GetParam();
  std::vector<uint8_t> data = int32s({c.count});
  data.resize(data.size() + c.following);
  ByteReader r(data);
  const uint32_t n = r.count(c.item_size, c.cap);
  EXPECT_EQ(r.ok(), c.ok);
  EXPECT_EQ(n, c.ok ? static_cast<uint32_t>(c.count) : 0u);
}

INSTANTIATE_TEST_SUITE_P(ByteReader, Counts,
                         ::testing::Values(CountCase{"Zero", 0, 4, 10, 0, true},
                                           CountCase{"ItemsThatFitExactly", 3, 4, 10, 12, true},
                                           CountCase{"ItemsOneByteShort", 3, 4, 10, 11, false},
                                           CountCase{"Negative", -1, 4, 10, 100, false},
                                           CountCase{"MostNegative",
                                                     std::numeric_limits<int32_t>::min(), 0, 10, 0,
                                                     false},
                                           CountCase{"AtTheCap", 10, 1, 10, 10, true},
                                           CountCase{"AboveTheCap", 11, 1, 10, 11, false},
                                           CountCase{"ItemsWithoutSize", 1000, 0, 1000, 0, true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ByteReader, ACountWordThatIsNotThereFails) {
  const uint8_t data[] = {1, 0};
  ByteReader r(data);
  EXPECT_EQ(r.count(1), 0u);
  EXPECT_FALSE(r.ok());
}

TEST(ByteReader, SizedTakesALengthWithinItsCap) {
  std::vector<uint8_t> data = int32s({3});
  data.insert(data.end(), {'a', 'b', 'c'});
  {
    ByteReader r(data);
    EXPECT_EQ(r.sized(3).size(), 3u);
    EXPECT_TRUE(r.ok() && r.at_end());
  }
  {
    ByteReader r(data);
    EXPECT_TRUE(r.sized(2).empty()) << "above the cap";
    EXPECT_FALSE(r.ok());
  }
  {
    ByteReader r(Bytes(data).first(6));
    EXPECT_TRUE(r.sized(100).empty()) << "longer than the bytes";
    EXPECT_FALSE(r.ok());
  }
  const std::vector<uint8_t> negative = int32s({-2});
  ByteReader r(negative);
  EXPECT_TRUE(r.sized(100).empty());
  EXPECT_FALSE(r.ok()) << "a negative length is bad data";
}

TEST(ByteReader, PrefixedReadsALengthOfZeroOrLessAsEmpty) {
  const std::vector<uint8_t> data = int32s({0, -5, 8});
  ByteReader r(data);
  EXPECT_TRUE(r.prefixed().empty());
  EXPECT_TRUE(r.prefixed().empty());
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.prefixed().empty()) << "8 bytes are not there";
  EXPECT_FALSE(r.ok());
}

// --- Texts ---

TEST(ByteReader, CStringTakesTheTerminatorAndFailsWithoutOne) {
  const uint8_t data[] = {'h', 'i', 0, 0, 'x'};
  ByteReader r(data);
  EXPECT_EQ(r.c_string(), "hi");
  EXPECT_EQ(r.position(), 3u);
  EXPECT_EQ(r.c_string(), "");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.c_string(), "") << "'x' has no terminator";
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.position(), 4u);

  ByteReader empty{Bytes{}};
  EXPECT_EQ(empty.c_string(), "");
  EXPECT_FALSE(empty.ok());
}

// --- Reads at an offset ---

TEST(ByteReader, ReadsAtAnOffsetStopAtTheEnd) {
  const uint8_t data[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(base::le32_at(data, 2), 0x06050403u);
  EXPECT_EQ(base::le32_at(data, 3), std::nullopt);
  EXPECT_EQ(base::le16_at(data, 4), 0x0605u);
  EXPECT_EQ(base::le16_at(data, 5), std::nullopt);
  EXPECT_EQ(base::le16_at(data, 6), std::nullopt);
  EXPECT_EQ(base::le32_at(data, SIZE_MAX - 1), std::nullopt) << "no wrap-around";
  EXPECT_TRUE(base::fits(data, 6, 0));
  EXPECT_FALSE(base::fits(data, 7, 0));
  EXPECT_FALSE(base::fits(data, 1, SIZE_MAX));
}

// --- What the writer writes, the reader reads ---

TEST(ByteWriter, WritesWhatTheReaderReadsAndEveryPrefixFails) {
  std::vector<uint8_t> out;
  base::ByteWriter w(out);
  w.i32(-7);
  w.u32(0xA1B2C3D4);
  w.c_string("name");
  w.prefixed(std::string_view("abc"));
  const uint8_t raw[] = {9, 8};
  w.prefixed(raw);
  ASSERT_EQ(out.size(), 4u + 4 + 5 + 7 + 6);
  EXPECT_EQ(out[4], 0xD4) << "little-endian";

  const auto read_all = [](Bytes bytes) {
    ByteReader r(bytes);
    const bool same = r.i32() == -7 && r.u32() == 0xA1B2C3D4 && r.c_string() == "name" &&
                      r.sized(3).size() == 3 && r.prefixed().size() == 2;
    return same && r.ok() && r.at_end();
  };
  EXPECT_TRUE(read_all(out));
  for (size_t n = 0; n < out.size(); ++n) EXPECT_FALSE(read_all(Bytes(out).first(n))) << n;
}

}  // namespace
