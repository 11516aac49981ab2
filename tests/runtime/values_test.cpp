#include <gtest/gtest.h>

#include "runtime/values.h"

namespace {

TEST(Values, EmptyTextAndBytesAreNull) {
  EXPECT_EQ(rt::make_text("", 0), nullptr);
  EXPECT_EQ(rt::make_bytes("", 0), nullptr);
  EXPECT_EQ(rt::copy_text(nullptr), nullptr);
}

}  // namespace
