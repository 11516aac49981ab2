// The property tables and the byte formats that templates carry: what the template compiler
// writes must read back the same, and anything cut short or altered must read as bad data.
#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "unit_test_support.h"
#include "units/property_data.h"

namespace {

using units::PropertyValues;

// The kinds' own property types from index 8, as the windows' templates declare them.
const std::map<rt::TypeCode, std::vector<uint16_t>> kExpectedTypes = {
    {units::kKindWindow, {1005, 1006, 1017, 1009, 1006, 1012, 1006, 1003, 1003, 1003, 1006, 1003,
                          1010, 1003, 1003, 1003, 1016, 1001, 1003, 1003, 1006, 1003, 1003, 1005}},
    {units::kKindEditBox, {1005, 1006, 1014, 1017, 1013, 1003, 1001, 1003, 1006, 1006, 1006,
                           1005, 1006, 1006, 1001, 1001, 1001, 1001, 1005, 1018, 1020}},
    {units::kKindPicBox, {1006, 1017, 1009, 1006, 1003, 1018, 1020}},
    {units::kKindGroupBox, {1005, 1006, 1014, 1017, 1013}},
    {units::kKindButton, {1009, 1006, 1005, 1006, 1006, 1013}},
    {units::kKindListView, {1006, 1014, 1017, 1017, 1013, 1006, 1006, 1003, 1003, 1024, 1003,
                            1023, 1003, 1003, 1003, 1003, 1023, 1023, 1003, 1003, 1003, 1003,
                            1003, 1006, 1003, 1003, 1003, 1001, 1003, 1024, 1005}},
    {units::kKindTransLabel, {1005, 1006, 1013, 1014, 1006, 1003, 1006}},
};

TEST(KindTables, TypesAndCountsMatchTheTemplates) {
  const std::map<rt::TypeCode, int32_t> counts = {
      {units::kKindWindow, 32},    {units::kKindEditBox, 29}, {units::kKindPicBox, 15},
      {units::kKindGroupBox, 13},  {units::kKindButton, 14},  {units::kKindListView, 39},
      {units::kKindTransLabel, 15}};
  ASSERT_EQ(units::kind_tables().size(), 7u);
  for (const auto& [kind, types] : kExpectedTypes) {
    SCOPED_TRACE(kind);
    const units::KindTable* t = units::kind_table(kind);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->property_count, counts.at(kind));
    ASSERT_EQ(static_cast<size_t>(t->property_count), types.size() + 8);
    const uint16_t common[] = {1001, 1001, 1001, 1001, 1005, 1003, 1003, 1011};
    for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(t->properties[i].type, common[i]) << i;
    for (size_t i = 0; i < types.size(); ++i) {
      EXPECT_EQ(t->properties[i + 8].type, types[i]) << "index " << i + 8;
    }
  }
  EXPECT_EQ(units::kind_table(0x10002), nullptr);
  EXPECT_EQ(units::property_info(units::kKindButton, 14), nullptr);
  EXPECT_EQ(units::property_info(units::kKindButton, -1), nullptr);
}

TEST(KindTables, EveryPropertyHasAUniqueNameThatFindsIt) {
  for (const units::KindTable& t : units::kind_tables()) {
    std::set<std::string> names;
    for (int32_t i = 0; i < t.property_count; ++i) {
      const std::string name = t.properties[i].english_name;
      EXPECT_FALSE(name.empty()) << t.english_name << " " << i;
      EXPECT_TRUE(names.insert(name).second) << t.english_name << " repeats " << name;
      EXPECT_EQ(units::property_index(t.code, name), i);
    }
  }
  EXPECT_EQ(units::property_index(units::kKindListView, "current_row"), 35);
  EXPECT_EQ(units::property_index(units::kKindWindow, "always_on_top"), 29);
  EXPECT_EQ(units::property_index(units::kKindPicBox, "picture"), 10);
  EXPECT_EQ(units::property_index(units::kKindListView, "no_such_property"), -1);
}

TEST(PropertyValues, ChoicesAndBoolsAreBroughtIntoRange) {
  PropertyValues v = PropertyValues::defaults(units::kKindListView);
  const struct {
    int32_t index, value, stored;
  } cases[] = {
      {units::list_property::kBorder, 9, 5},       {units::list_property::kBorder, -3, 0},
      {units::list_property::kView, 7, 3},         {units::list_property::kIconAlignment, 2, 1},
      {units::list_property::kSorting, 100, 2},    {units::list_property::kGridLines, 42, 1},
      {units::list_property::kCurrentRow, -5, -5},  // the kind clamps this one itself
  };
  for (const auto& c : cases) {
    v.set_word(c.index, c.value);
    EXPECT_EQ(v.word(c.index), c.stored) << c.index << " := " << c.value;
  }
}

TEST(PropertyValues, WrongIndicesAndFormsChangeNothing) {
  PropertyValues v = PropertyValues::defaults(units::kKindButton);
  const std::vector<uint8_t> before = v.encode();
  v.set_word(7, 1);                                 // a common property
  v.set_word(14, 1);                                // past the kind's last
  v.set_word(units::button_property::kCaption, 5);  // a text
  v.set_text(units::button_property::kButtonType, "x");
  v.set_font(units::button_property::kCaption, units::make_font("宋体", -12));
  EXPECT_EQ(v.encode(), before);
  EXPECT_EQ(v.word(100), 0);
  EXPECT_EQ(v.text(-1), "");
}

TEST(PropertyData, RoundTripsEveryKind) {
  const unit_test::StartWindowValues start;
  for (const PropertyValues* sample : start.samples()) {
    SCOPED_TRACE(sample->kind());
    const std::vector<uint8_t> data = sample->encode();
    const auto back = PropertyValues::decode(sample->kind(), data);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->encode(), data);
    const units::KindTable* t = units::kind_table(sample->kind());
    for (int32_t i = 8; i < t->property_count; ++i) {
      EXPECT_EQ(back->word(i), sample->word(i)) << i;
      EXPECT_EQ(back->text(i), sample->text(i)) << i;
    }
  }
}

TEST(PropertyData, KeepsTextsBytesAndFontsExactly) {
  PropertyValues v = PropertyValues::defaults(units::kKindEditBox);
  v.set_text(units::edit_property::kContent, "第一行\r\n第二行");
  v.set_font(units::edit_property::kFont, units::make_font("微软雅黑", -14, 700));
  v.set_word(units::edit_property::kMaxLength, -1);
  PropertyValues p = PropertyValues::defaults(units::kKindPicBox);
  const std::vector<uint8_t> picture = {0, 1, 0, 255, 0};
  p.set_bytes(units::picture_property::kPicture, picture);

  const auto e = PropertyValues::decode(units::kKindEditBox, v.encode());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->text(units::edit_property::kContent), "第一行\r\n第二行");
  EXPECT_EQ(units::face_name(e->font(units::edit_property::kFont)), "微软雅黑");
  EXPECT_EQ(e->font(units::edit_property::kFont).weight, 700);
  EXPECT_EQ(e->font(units::edit_property::kFont).height, -14);
  EXPECT_EQ(e->word(units::edit_property::kMaxLength), -1);
  const auto q = PropertyValues::decode(units::kKindPicBox, p.encode());
  ASSERT_TRUE(q);
  const auto bytes = q->bytes(units::picture_property::kPicture);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), picture);
}

TEST(PropertyData, EveryPrefixOfValidDataIsRefused) {
  const unit_test::StartWindowValues start;
  for (const PropertyValues* sample : start.samples()) {
    const std::vector<uint8_t> data = sample->encode();
    for (size_t n = 0; n < data.size(); ++n) {
      EXPECT_FALSE(PropertyValues::decode(sample->kind(), std::span(data.data(), n)))
          << "kind " << std::hex << sample->kind() << std::dec << ", " << n << " of " << data.size()
          << " bytes";
    }
    std::vector<uint8_t> longer = data;
    longer.push_back(0);
    EXPECT_FALSE(PropertyValues::decode(sample->kind(), longer)) << "a byte after the end";
  }
}

// Overwrites the int32 at `offset`.
void poke(std::vector<uint8_t>& data, size_t offset, int32_t value) {
  for (int i = 0; i < 4; ++i)
    data[offset + static_cast<size_t>(i)] =
        static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

TEST(PropertyData, RefusesAlteredLengthsAndTexts) {
  // A GroupBox: caption text first (offset 0), then alignment, colours and the font.
  PropertyValues g = PropertyValues::defaults(units::kKindGroupBox);
  g.set_text(units::group_property::kCaption, "abc");
  const std::vector<uint8_t> good = g.encode();
  ASSERT_TRUE(PropertyValues::decode(units::kKindGroupBox, good));

  for (int32_t length : {-1, 4, 1 << 30, std::numeric_limits<int32_t>::min()}) {
    std::vector<uint8_t> bad = good;
    poke(bad, 0, length);
    EXPECT_FALSE(PropertyValues::decode(units::kKindGroupBox, bad)) << "length " << length;
  }
  std::vector<uint8_t> nul = good;
  nul[5] = 0;  // "a\0c"
  EXPECT_FALSE(PropertyValues::decode(units::kKindGroupBox, nul));
  std::vector<uint8_t> face = good;  // the font's face name loses its terminator
  std::fill(face.end() - 32, face.end(), 'A');
  EXPECT_FALSE(PropertyValues::decode(units::kKindGroupBox, face));

  EXPECT_FALSE(PropertyValues::decode(0x10002, good)) << "a kind this program does not build";
}

TEST(FontRecord, FaceNamesAreCutOnCharacterBoundaries) {
  // 16 two-byte characters are 32 bytes; only 15 of them fit with the terminator.
  const std::string face = "一二三四五六七八九十一二三四五六";
  ASSERT_EQ(face.size(), 32u);
  const rt::LogicalFont f = units::make_font(face, -12);
  EXPECT_EQ(units::face_name(f), face.substr(0, 30));
  EXPECT_EQ(units::face_name(units::make_font("ab一", 0)), "ab一");
  EXPECT_EQ(units::face_name(units::make_font(std::string(40, 'x'), 0)), std::string(31, 'x'));
  EXPECT_FALSE(units::has_own_font(rt::LogicalFont{}));
}

TEST(ListColumns, RoundTripAndRefuseBadData) {
  const auto columns = unit_test::StartWindowValues::result_columns();
  const std::vector<uint8_t> data = units::encode_columns(columns);
  EXPECT_EQ(units::decode_columns(data), columns);
  EXPECT_EQ(units::decode_columns({}), std::vector<units::ListColumn>{});
  EXPECT_TRUE(units::encode_columns({}).empty());

  for (size_t n = 1; n < data.size(); ++n) {
    EXPECT_FALSE(units::decode_columns(std::span(data.data(), n))) << n;
  }
  const std::vector<units::ListColumn> bad[] = {{{"a", -1, 0}},
                                                {{"a", 32768, 0}},
                                                {{"a", 10, 3}},
                                                {{"a", 10, -1}},
                                                {{std::string("a\0b", 3), 10, 0}}};
  for (const auto& b : bad) EXPECT_FALSE(units::decode_columns(units::encode_columns(b)));

  std::vector<uint8_t> many(4);
  poke(many, 0, 1000);  // more columns than the cap, and than the bytes could hold
  EXPECT_FALSE(units::decode_columns(many));
}

TEST(ListRows, RoundTripAndRefuseBadData) {
  std::vector<units::ListRow> rows(3);
  rows[0].cells = {"1", "第一集", "", "/play/1"};
  rows[1].cells = {""};
  rows[1].image = 2;
  rows[1].state_image = 2;
  rows[1].indent = 1;
  rows[1].data = -7;
  const std::vector<uint8_t> data = units::encode_rows(rows);
  EXPECT_EQ(units::decode_rows(data), rows);
  EXPECT_EQ(units::decode_rows({}), std::vector<units::ListRow>{});

  for (size_t n = 1; n < data.size(); ++n) {
    EXPECT_FALSE(units::decode_rows(std::span(data.data(), n))) << n;
  }
  std::vector<uint8_t> huge(4);
  poke(huge, 0, 0x7FFFFFFF);
  EXPECT_FALSE(units::decode_rows(huge)) << "a count the bytes cannot hold is refused up front";
  std::vector<uint8_t> negative_indent = data;
  poke(negative_indent, 4 + 8, -1);  // first row: image, state image, indent
  EXPECT_FALSE(units::decode_rows(negative_indent));
}

}  // namespace
