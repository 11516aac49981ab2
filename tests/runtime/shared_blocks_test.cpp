// Texts that share one heap block (the elements of a split text): each is freed, moved or
// replaced on its own through the ordinary heap calls, and the block goes with the last of them.
#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "runtime/heap.h"
#include "runtime/values.h"

namespace {

// A shared block of the given texts one after another, each with its terminator.
std::vector<char*> shared_texts(const std::vector<std::string_view>& texts) {
  size_t size = 0;
  for (std::string_view t : texts) size += t.size() + 1;
  auto* block = static_cast<char*>(rt::allocate_shared(size));
  std::vector<char*> placed;
  char* at = block;
  for (std::string_view t : texts) {
    std::memcpy(at, t.data(), t.size());
    at[t.size()] = 0;
    placed.push_back(at);
    at += t.size() + 1;
  }
  rt::share(block, size, texts.size());
  return placed;
}

void set_element(void* array, size_t i, void* p) {
  std::memcpy(rt::array_shape(array).elements + i * sizeof p, &p, sizeof p);
}

TEST(SharedBlocks, EachTextIsFreedOnItsOwnAndTheBlockGoesWithTheLast) {
  const size_t before = rt::shared_block_count();
  const std::vector<char*> texts = shared_texts({"first", "second", "third"});
  EXPECT_EQ(rt::shared_block_count(), before + 1);
  rt::free_block(texts[1]);
  rt::free_block(texts[2]);
  EXPECT_EQ(rt::shared_block_count(), before + 1);
  EXPECT_STREQ(texts[0], "first");
  rt::free_block(texts[0]);
  EXPECT_EQ(rt::shared_block_count(), before);

  // A block handed to no text is freed at once.
  rt::share(rt::allocate_shared(8), 8, 0);
  EXPECT_EQ(rt::shared_block_count(), before);
}

TEST(SharedBlocks, ReallocatingATextMovesItOut) {
  const size_t before = rt::shared_block_count();
  const std::vector<char*> texts = shared_texts({"ab", "cd", "ef"});
  // Grown past its block's end, and shrunk: either way a block of its own with its bytes.
  auto* grown = static_cast<char*>(rt::reallocate(texts[2], 64));
  auto* shrunk = static_cast<char*>(rt::reallocate(texts[0], 2));
  EXPECT_EQ(std::string_view(grown, 2), "ef");
  EXPECT_EQ(std::string_view(shrunk, 2), "ab");
  std::strcpy(grown, "a longer text than the block holds");
  EXPECT_STREQ(texts[1], "cd");
  EXPECT_EQ(rt::shared_block_count(), before + 1);
  rt::free_block(texts[1]);
  EXPECT_EQ(rt::shared_block_count(), before);
  rt::free_block(grown);
  rt::free_block(shrunk);
}

// An array whose elements mix texts of two shared blocks, a text of its own (one element was
// replaced) and the empty text: releasing it frees each exactly once.
TEST(SharedBlocks, ReleasingAnArrayFreesMixedElements) {
  const size_t before = rt::shared_block_count();
  const std::vector<char*> a = shared_texts({"a1", "a2", "a3"});
  const std::vector<char*> b = shared_texts({"b1", "b2"});
  void* array = rt::make_pointer_array(7);
  set_element(array, 0, a[0]);
  set_element(array, 1, a[1]);
  set_element(array, 2, b[0]);
  set_element(array, 3, nullptr);
  set_element(array, 4, rt::make_text("own"));
  set_element(array, 5, a[2]);
  set_element(array, 6, b[1]);
  EXPECT_EQ(rt::shared_block_count(), before + 2);
  {
    const rt::Array owner = rt::Array::adopt(array, rt::kText);
    EXPECT_STREQ(owner.text_at(5), "a3");
  }
  EXPECT_EQ(rt::shared_block_count(), before);
}

TEST(SharedBlocks, ThreadsFreeTextsOfOneBlockAtOnce) {
  const size_t before = rt::shared_block_count();
  std::vector<std::string_view> names(2000, "text");
  const std::vector<char*> texts = shared_texts(names);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&texts, t] {
      for (size_t i = t; i < texts.size(); i += 4) rt::free_block(texts[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(rt::shared_block_count(), before);
}

}  // namespace
