// Test entry: every suite runs offscreen and knows this program's constant data area.
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/heap.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const rt::ConstantArea area = rt::linker_constant_area();
  rt::record_constant_area(area.start, area.length);
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
