#include <gtest/gtest.h>

#include "runtime/command.h"

namespace {

using rt::Cell;

// Reports what it saw: the result cell as handed in, the count and every argument's type.
struct Seen {
  Cell result_before;
  int32_t count = -1;
  std::vector<Cell> args;
};
Seen g_seen;

void observe(Cell* result, int32_t count, const Cell* args) {
  g_seen.result_before = *result;
  g_seen.count = count;
  g_seen.args.assign(args, args + count);
  *result = Cell::of_int(count);
}

TEST(CommandGateway, ZeroesTheResultAndPassesCellsInOrder) {
  const Cell args[] = {Cell::of_int(7), Cell{}, Cell::of_bool(true)};
  const Cell r = rt::call_command(&observe, 3, args);
  EXPECT_EQ(g_seen.result_before.low, 0u);
  EXPECT_EQ(g_seen.result_before.high, 0u);
  EXPECT_EQ(g_seen.result_before.type, 0u);
  EXPECT_EQ(g_seen.count, 3);
  EXPECT_EQ(g_seen.args[0].as_int(), 7);
  EXPECT_FALSE(g_seen.args[1].given());  // omitted, but still counted
  EXPECT_EQ(r.as_int(), 3);
}

TEST(CommandGateway, TypedCallsBuildTheSameCells) {
  int32_t variable = 5;
  const char* text = "abc";
  rt::call(&observe, text, rt::omitted, std::optional<int32_t>{}, 2.5, rt::Ref<int32_t>{&variable},
           std::optional<bool>{true});
  ASSERT_EQ(g_seen.count, 6);
  EXPECT_EQ(g_seen.args[0].type, rt::kText);
  EXPECT_EQ(g_seen.args[0].pointer<const char>(), text);  // a pointer fills both payload words
  EXPECT_EQ(g_seen.args[1].type, 0u);
  EXPECT_EQ(g_seen.args[2].type, 0u);
  EXPECT_EQ(g_seen.args[3].as_double(), 2.5);
  EXPECT_EQ(g_seen.args[4].type, 0xA0000301u);  // by reference: bit 29 on the int code
  EXPECT_EQ(g_seen.args[4].pointer<int32_t>(), &variable);
  EXPECT_EQ(g_seen.args[5].type, rt::kBool);
}

TEST(CommandArgs, MissingArgumentsReadAsEmpty) {
  const Cell cells[] = {Cell::of_pointer(nullptr, rt::kText), Cell::of_int(3)};
  const rt::Args a(2, cells);
  EXPECT_STREQ(a.text(0), "");  // a null text is the empty text
  EXPECT_STREQ(a.text(5), "");  // past the count
  EXPECT_TRUE(a.bytes(9).empty());
  EXPECT_EQ(a.int_or(1, -1), 3);
  EXPECT_EQ(a.int_or(2, -1), -1);
  EXPECT_FALSE(a.flag(2));
  EXPECT_FALSE(a.given(-1));
  const rt::Args none(5, nullptr);
  EXPECT_EQ(none.count(), 0);
}

TEST(CommandArgs, FlagsAndNumbers) {
  const Cell cells[] = {Cell::of_int(2), Cell::of_bool(true), Cell::of_float(1.5f),
                        Cell::of_byte(200)};
  const rt::Args a(4, cells);
  EXPECT_TRUE(a.flag(0));
  EXPECT_FALSE(a.flag_exactly_one(0));  // only the value 1 counts where a rule says so
  EXPECT_TRUE(a.flag_exactly_one(1));
  EXPECT_EQ(a.number(2), 1.5);
  EXPECT_EQ(a.number(3), 200.0);
}

}  // namespace
