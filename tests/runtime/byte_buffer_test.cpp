// The runtime's growable buffer beyond its registry rule (values_test.cpp): a maximum size that
// refuses growth cleanly, geometric growth for input of unknown length, and handing the block
// over.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/heap.h"

namespace {

using rt::ByteBuffer;
using Growth = rt::ByteBuffer::Growth;

std::vector<uint8_t> contents(const ByteBuffer& b) {
  return {b.bytes().begin(), b.bytes().end()};
}

TEST(ByteBufferCap, GrowthPastTheMaximumFailsAndChangesNothing) {
  for (const Growth growth : {Growth::kSlack, Growth::kGeometric}) {
    ByteBuffer buf(growth, 8);
    EXPECT_TRUE(buf.append("abcdef", 6));
    EXPECT_FALSE(buf.append("xyz", 3)) << "9 bytes";
    EXPECT_FALSE(buf.insert(0, "xyz", 3));
    EXPECT_FALSE(buf.replace(1, 1, "xyzw", 4)) << "one byte for four: 9 bytes";
    EXPECT_EQ(contents(buf), (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(buf.room_for(3), nullptr);
    EXPECT_TRUE(buf.replace(0, 3, "12345", 5)) << "three bytes for five: exactly 8";
    EXPECT_EQ(buf.size(), 8u);
    EXPECT_FALSE(buf.append_u8(0));
    EXPECT_TRUE(buf.replace(0, 8, "ab", 2)) << "shrinking is always possible";
    EXPECT_EQ(buf.size(), 2u);
  }
}

TEST(ByteBufferCap, TheDefaultBufferKeepsTheRegistryRuleAndNoPracticalLimit) {
  ByteBuffer buf;
  EXPECT_EQ(buf.growth(), Growth::kSlack);
  EXPECT_GE(buf.max_size(), size_t{1} << 40);
  ByteBuffer asked(Growth::kSlack, SIZE_MAX);
  EXPECT_EQ(asked.max_size(), ByteBuffer::kUnlimited) << "size + slack must not overflow";
  EXPECT_EQ(asked.room_for(SIZE_MAX - 4), nullptr);
}

TEST(ByteBufferGrowth, GeometricBlocksDoubleFromSixteenKiBUpToTheMaximum) {
  ByteBuffer buf(Growth::kGeometric, 40000);
  buf.clear();
  EXPECT_EQ(buf.capacity(), 0u) << "nothing is reserved before the first byte";
  std::vector<uint8_t> chunk(1000, 7);
  ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  EXPECT_EQ(buf.capacity(), 16384u);
  while (buf.size() + chunk.size() <= 16384) ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  EXPECT_EQ(buf.capacity(), 32768u);
  while (buf.size() + chunk.size() <= 32768) ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  EXPECT_EQ(buf.capacity(), 40000u) << "doubling stops at the maximum";
  buf.remove(0, buf.size());
  EXPECT_EQ(buf.capacity(), 40000u) << "geometric blocks never shrink";
}

// A declared size ends the step that reaches it, reserves nothing before bytes come, and bytes
// past it grow the block as before.
TEST(ByteBufferGrowth, AnExpectedSizeEndsTheStepThatReachesItAndNoOther) {
  ByteBuffer buf(Growth::kGeometric, 1 << 20);
  buf.expect(20'000);
  std::vector<uint8_t> chunk(1000, 7);
  ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  EXPECT_EQ(buf.capacity(), 16384u);
  while (buf.size() + chunk.size() <= 16384) ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
  EXPECT_EQ(buf.capacity(), 20'000u) << "the step stops at the expected size";
  ASSERT_NE(buf.room_for(20'000 - buf.size()), nullptr);
  EXPECT_EQ(buf.capacity(), 20'000u);
  buf.commit(20'000 - buf.size());
  ASSERT_TRUE(buf.append_u8(1));
  EXPECT_EQ(buf.capacity(), 40'000u) << "past the expected size, doubling as before";

  ByteBuffer told_a_lot(Growth::kGeometric);
  told_a_lot.expect(size_t{1} << 40);
  ASSERT_TRUE(told_a_lot.append(chunk.data(), chunk.size()));
  EXPECT_EQ(told_a_lot.capacity(), 16384u) << "a large size reserves nothing up front";
  ASSERT_NE(told_a_lot.room_for(16384), nullptr);
  EXPECT_EQ(told_a_lot.capacity(), 32768u) << "and steps still double from what is stored";

  ByteBuffer capped(Growth::kGeometric, 30'000);
  capped.expect(50'000);
  ASSERT_NE(capped.room_for(20'000), nullptr);
  capped.commit(20'000);
  ASSERT_NE(capped.room_for(9'000), nullptr);
  EXPECT_EQ(capped.capacity(), 30'000u) << "the maximum still comes first";
}

// Whether this system faults pages in on request (Linux 5.14 on).
bool populates_on_request() {
  const size_t size = 4096;
  void* probe = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (probe == MAP_FAILED)
    return false;
  const bool ok = madvise(probe, size, MADV_POPULATE_WRITE) == 0;
  munmap(probe, size);
  return ok;
}

// The whole pages in [from, to), and how many of them are resident.
struct Pages {
  size_t whole = 0;
  size_t resident = 0;
};
Pages pages_in(const uint8_t* from, const uint8_t* to) {
  const uintptr_t page = 4096;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(to) & ~(page - 1);
  Pages pages;
  if (end <= start)
    return pages;
  std::vector<unsigned char> flags((end - start) / page);
  pages.whole = flags.size();
  if (mincore(reinterpret_cast<void*>(start), end - start, flags.data()) == 0) {
    pages.resident = static_cast<size_t>(
        std::count_if(flags.begin(), flags.end(), [](unsigned char f) { return (f & 1) != 0; }));
  }
  return pages;
}

// A large block keeps its bytes through every step, and the room a step adds within the
// expected size is there before it is written; room past it is not.
TEST(ByteBufferGrowth, LargeBlocksKeepTheirBytesAndGetTheExpectedRoomAtOnce) {
  constexpr size_t kExpected = size_t{12} << 20;
  const bool populates = populates_on_request();
  ByteBuffer buf(Growth::kGeometric);
  buf.expect(kExpected);
  std::vector<uint8_t> chunk(100'000);
  size_t written = 0;
  while (buf.size() + chunk.size() <= kExpected) {
    for (uint8_t& b : chunk) b = static_cast<uint8_t>(written++ * 7 / 5);
    const size_t before = buf.capacity();
    ASSERT_TRUE(buf.append(chunk.data(), chunk.size()));
    if (populates && buf.capacity() != before && buf.capacity() >= (size_t{4} << 20)) {
      const Pages room = pages_in(buf.data() + buf.size(), buf.data() + buf.capacity());
      EXPECT_EQ(room.resident, room.whole) << "the new room, faulted in at " << buf.capacity();
    }
  }
  EXPECT_EQ(buf.capacity(), kExpected);
  for (size_t i = 0; i < buf.size(); ++i) {
    ASSERT_EQ(buf.data()[i], static_cast<uint8_t>(i * 7 / 5)) << i;
  }
  ASSERT_TRUE(buf.append(chunk.data(), kExpected - buf.size() + 1));
  EXPECT_EQ(buf.capacity(), 2 * kExpected);
  if (populates) {
    const Pages past = pages_in(buf.data() + buf.size() + 1, buf.data() + buf.capacity());
    EXPECT_LT(past.resident, past.whole / 2) << "room past the expected size waits for bytes";
  }
}

TEST(ByteBufferGrowth, RoomIsFilledInPlaceAndCommitted) {
  ByteBuffer buf(Growth::kGeometric, 100);
  uint8_t* room = buf.room_for(10);
  ASSERT_NE(room, nullptr);
  std::memcpy(room, "0123456789", 10);
  buf.commit(4);  // a read that filled only part of the room
  EXPECT_EQ(contents(buf), (std::vector<uint8_t>{'0', '1', '2', '3'}));
  room = buf.room_for(96);
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(room, buf.data() + 4);
  EXPECT_EQ(buf.room_for(97), nullptr);
}

TEST(ByteBufferGrowth, RoomInsideTheBlockIsTheSameBlockAndGrowthStillChecksTheMaximum) {
  ByteBuffer geometric(Growth::kGeometric, 20'000);
  uint8_t* first = geometric.room_for(100);
  ASSERT_NE(first, nullptr);
  geometric.commit(100);
  EXPECT_EQ(geometric.room_for(16'284), first + 100) << "the rest of the 16 KiB block";
  uint8_t* grown = geometric.room_for(19'900);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown, geometric.data() + 100) << "grown to the maximum, the contents kept before";
  EXPECT_EQ(geometric.capacity(), 20'000u);
  EXPECT_EQ(geometric.room_for(19'901), nullptr);
  geometric.commit(50'000);
  EXPECT_EQ(geometric.size(), 20'000u) << "commit takes no more than the block holds";

  // The registry rule still trims a block with too much room when room is asked for.
  ByteBuffer slack;
  ASSERT_TRUE(slack.append(std::vector<uint8_t>(2000, 1).data(), 2000));
  slack.remove(0, 1990);
  EXPECT_EQ(slack.capacity(), 10u + ByteBuffer::kSlack);
  ASSERT_NE(slack.room_for(1000), nullptr);
  EXPECT_EQ(slack.capacity(), 1010u + ByteBuffer::kSlack);
  ASSERT_NE(slack.room_for(10), nullptr);
  EXPECT_EQ(slack.capacity(), 20u + ByteBuffer::kSlack) << "room asked for trims as well";
}

TEST(ByteBufferRelease, HandsTheBlockOverAndStartsEmpty) {
  ByteBuffer buf(Growth::kGeometric, 64);
  ASSERT_TRUE(buf.append("hello", 5));
  const uint8_t* before = buf.data();
  ByteBuffer::Block block = buf.release();
  EXPECT_EQ(block.data, before);
  ASSERT_EQ(block.size, 5u);
  EXPECT_EQ(std::memcmp(block.data, "hello", 5), 0);
  EXPECT_EQ(buf.data(), nullptr);
  EXPECT_EQ(buf.size(), 0u);
  EXPECT_EQ(buf.capacity(), 0u);
  EXPECT_EQ(buf.max_size(), 64u) << "policy and maximum stay";
  ASSERT_TRUE(buf.append("again", 5));
  EXPECT_NE(buf.data(), block.data);
  rt::free_block(block.data);  // the caller's now

  ByteBuffer never;
  EXPECT_EQ(never.release().data, nullptr);
}

TEST(ByteBufferRelease, AMovedBufferKeepsItsPolicy) {
  ByteBuffer from(Growth::kGeometric, 10);
  ByteBuffer to = std::move(from);
  EXPECT_EQ(to.growth(), Growth::kGeometric);
  EXPECT_EQ(to.max_size(), 10u);
  EXPECT_FALSE(to.append("01234567890", 11));
}

}  // namespace
