// The ".SHE" skin resource: the reader's checks on altered and cut resources, the colour shift
// and the style rules written out with the shifted colours.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "skin/engine/skin_format.h"
#include "skin/skin.h"

namespace {

namespace sf = skin_format;
using sf::Status;

std::vector<uint8_t> embedded() {
  return {skin::resource().begin(), skin::resource().end()};
}

Status read(const std::vector<uint8_t>& data) {
  auto s = std::make_unique<sf::Skin>();
  return sf::read_skin(data.data(), data.size(), s.get());
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

struct Record {
  uint16_t tag;
  std::vector<uint8_t> payload;
};

// A resource with a correct header (length, checksum, count) around the given records.
std::vector<uint8_t> resource(const std::vector<Record>& records, uint32_t count_change = 0) {
  std::vector<uint8_t> body;
  for (const Record& r : records) {
    put16(body, r.tag);
    put16(body, 0);
    put32(body, static_cast<uint32_t>(r.payload.size()));
    body.insert(body.end(), r.payload.begin(), r.payload.end());
  }
  std::vector<uint8_t> out = {'.', 'S', 'H', 'E'};
  put16(out, 1);
  put16(out, 20);
  put32(out, static_cast<uint32_t>(body.size()));
  put32(out, sf::crc32(body.data(), body.size()));
  put32(out, static_cast<uint32_t>(records.size()) + count_change);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> colours(std::vector<std::string> names) {
  std::vector<uint8_t> p;
  put16(p, static_cast<uint32_t>(names.size()));
  for (const std::string& n : names) {
    p.push_back(static_cast<uint8_t>(n.size()));
    p.insert(p.end(), n.begin(), n.end());
    p.insert(p.end(), {0x10, 0x20, 0x30});
  }
  return p;
}

std::vector<uint8_t> palette(std::vector<std::array<uint8_t, 3>> entries) {
  std::vector<uint8_t> p;
  put16(p, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    p.push_back(e[0]);
    p.push_back(e[1]);
    put16(p, e[2]);
  }
  return p;
}

std::vector<uint8_t> text(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(SkinFormat, TheEmbeddedSkinReadsWithPaletteAndRules) {
  const std::vector<uint8_t> data = embedded();
  auto s = std::make_unique<sf::Skin>();
  ASSERT_EQ(sf::read_skin(data.data(), data.size(), s.get()), Status::kOk);
  EXPECT_GE(s->colour_count, 10);
  EXPECT_GE(s->palette_count, 10);
  const std::string rules(s->rules, s->rules_length);
  EXPECT_NE(rules.find("QTableView"), std::string::npos);
  EXPECT_NE(rules.find("gridline-color"), std::string::npos) << "list views keep grid lines";
}

struct Case {
  const char* name;
  std::vector<uint8_t> data;
  Status expected;
};

class ReaderCases : public ::testing::TestWithParam<Case> {};

TEST_P(ReaderCases, Answer) {
  EXPECT_EQ(read(GetParam().data), GetParam().expected);
}

std::vector<uint8_t> with(std::vector<uint8_t> d, size_t at, uint8_t v) {
  d[at] = v;
  return d;
}

const Record kColours{sf::kTagColours, colours({"a", "b_2"})};

INSTANTIATE_TEST_SUITE_P(
    Header, ReaderCases,
    ::testing::Values(Case{"Minimal", resource({kColours}), Status::kOk},
                      Case{"Complete",
                           resource({kColours,
                                     {sf::kTagPalette, palette({{3, 10, 1}, {1, 20, 0}})},
                                     {sf::kTagRules, text("QWidget { color: @a; } /* @@b */")}}),
                           Status::kOk},
                      Case{"Empty", {}, Status::kTooShort},
                      Case{"BadMagic", with(embedded(), 1, 's'), Status::kBadMagic},
                      Case{"NewerVersion", with(embedded(), 4, 2), Status::kBadVersion},
                      Case{"HeaderLengthTooSmall", with(embedded(), 6, 19), Status::kBadLength},
                      Case{"HeaderLengthPastTheEnd", with(embedded(), 7, 0xFF), Status::kBadLength},
                      Case{"BodyLengthTooLarge", with(embedded(), 11, 0x7F), Status::kBadLength},
                      Case{"ChecksumChanged",
                           with(embedded(), 12, static_cast<uint8_t>(embedded()[12] ^ 1)),
                           Status::kBadChecksum},
                      Case{"BodyByteChanged",
                           with(embedded(), 40, static_cast<uint8_t>(embedded()[40] ^ 0x20)),
                           Status::kBadChecksum},
                      Case{"TrailingByte",
                           [] {
                             auto d = embedded();
                             d.push_back(0);
                             return d;
                           }(),
                           Status::kBadLength}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Records, ReaderCases,
    ::testing::Values(
        Case{"NoRecords", resource({}), Status::kBadRecord},
        Case{"MoreRecordsCountedThanPresent", resource({kColours}, 1), Status::kBadRecord},
        Case{"FewerRecordsCountedThanPresent",
             resource({kColours, {sf::kTagRules, text("x")}}, static_cast<uint32_t>(-1)),
             Status::kBadRecord},
        Case{"UnknownTag", resource({kColours, {9, {}}}), Status::kBadRecord},
        Case{"ColoursNotFirst", resource({{sf::kTagRules, text("x")}, kColours}),
             Status::kBadRecord},
        Case{"TwoPalettes",
             resource({kColours, {sf::kTagPalette, palette({})}, {sf::kTagPalette, palette({})}}),
             Status::kBadRecord},
        Case{"NoColours", resource({{sf::kTagColours, colours({})}}), Status::kBadColours},
        Case{"ColourNameWithASpace", resource({{sf::kTagColours, colours({"a b"})}}),
             Status::kBadColours},
        Case{"ColourNameTwice", resource({{sf::kTagColours, colours({"a", "a"})}}),
             Status::kBadColours},
        Case{"ColourNameTooLong", resource({{sf::kTagColours, colours({std::string(32, 'x')})}}),
             Status::kBadColours},
        Case{"ColourCutShort",
             resource({{sf::kTagColours, [] { auto c = colours({"a"}); c.pop_back(); return c; }()}}),
             Status::kBadColours},
        Case{"PaletteColourOutOfRange", resource({kColours, {sf::kTagPalette, palette({{0, 1, 2}})}}),
             Status::kBadPalette},
        Case{"PaletteRoleOutOfRange", resource({kColours, {sf::kTagPalette, palette({{0, 21, 0}})}}),
             Status::kBadPalette},
        Case{"PaletteGroupOutOfRange", resource({kColours, {sf::kTagPalette, palette({{4, 1, 0}})}}),
             Status::kBadPalette},
        Case{"PaletteCountDisagrees",
             resource({kColours, {sf::kTagPalette, [] { auto p = palette({{0, 1, 0}}); p[0] = 2; return p; }()}}),
             Status::kBadPalette},
        Case{"RulesWithAnUnknownColour", resource({kColours, {sf::kTagRules, text("a { color: @c }")}}),
             Status::kBadRules},
        Case{"RulesWithABareAt", resource({kColours, {sf::kTagRules, text("a { color: @ }")}}),
             Status::kBadRules},
        Case{"RulesWithANul", resource({kColours, {sf::kTagRules, {'a', 0, 'b'}}}), Status::kBadRules},
        Case{"RulesTooLong",
             resource({kColours, {sf::kTagRules, std::vector<uint8_t>(sf::kMaxRulesLength + 1, 'a')}}),
             Status::kBadRules}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(SkinFormat, EveryPrefixOfTheEmbeddedSkinIsRefused) {
  const std::vector<uint8_t> data = embedded();
  for (size_t n = 0; n < data.size(); ++n) {
    const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(n));
    const Status s = read(cut);
    ASSERT_TRUE(s == Status::kTooShort || s == Status::kBadLength) << n << " bytes";
  }
}

TEST(SkinFormat, EveryPrefixOfARecordBodyIsRefusedWhenTheHeaderAgrees) {
  // The checksum and lengths are made to fit each cut body, so the record checks themselves
  // must notice the cut.
  const std::vector<uint8_t> full = resource(
      {kColours, {sf::kTagPalette, palette({{3, 10, 1}})}, {sf::kTagRules, text("a{color:@b_2}")}});
  const std::vector<uint8_t> body(full.begin() + 20, full.end());
  for (size_t n = 0; n < body.size(); ++n) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + 20);
    cut.insert(cut.end(), body.begin(), body.begin() + static_cast<ptrdiff_t>(n));
    const uint32_t length = static_cast<uint32_t>(n), crc = sf::crc32(body.data(), n);
    std::memcpy(cut.data() + 8, &length, 4);
    std::memcpy(cut.data() + 12, &crc, 4);
    ASSERT_NE(read(cut), Status::kOk) << n << " body bytes";
  }
}

TEST(SkinFormat, ChecksumIsTheUsualCrc32) {
  const std::string check = "123456789";
  EXPECT_EQ(sf::crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
}

struct ShiftCase {
  sf::Colour in;
  int32_t hue, saturation, brightness;
  sf::Colour out;
};

TEST(SkinFormat, ColourShift) {
  const ShiftCase cases[] = {
      {{0x2f, 0x6f, 0xde}, 0, 0, 0, {0x2f, 0x6f, 0xde}},  // no shift keeps the colour
      {{0xee, 0xf2, 0xf7}, 0, 0, 0, {0xee, 0xf2, 0xf7}},
      {{255, 255, 255}, 0, 0, -5, {242, 242, 242}},  // the program's shift darkens a little
      {{0, 0, 0}, 0, 0, 50, {128, 128, 128}},
      {{200, 40, 40}, 0, 0, -100, {0, 0, 0}},
      {{200, 40, 40}, 0, 0, 100, {255, 255, 255}},
      {{200, 40, 40}, 0, 0, 500, {255, 255, 255}},  // beyond the limit counts as the limit
      {{255, 0, 0}, 120, 0, 0, {0, 255, 0}},
      {{255, 0, 0}, -120, 0, 0, {0, 0, 255}},
      {{255, 0, 0}, 360, 0, 0, {255, 0, 0}},
      {{255, 0, 0}, 0, -100, 0, {128, 128, 128}},  // no saturation: grey
      {{150, 100, 100}, 0, 100, 0, {250, 0, 0}},
  };
  for (const ShiftCase& c : cases) {
    const sf::Colour got = sf::shift(c.in, c.hue, c.saturation, c.brightness);
    const auto near = [](int a, int b) { return a - b <= 1 && b - a <= 1; };
    EXPECT_TRUE(near(got.red, c.out.red) && near(got.green, c.out.green) &&
                near(got.blue, c.out.blue))
        << int(c.in.red) << "," << int(c.in.green) << "," << int(c.in.blue) << " by " << c.hue
        << "/" << c.saturation << "/" << c.brightness << " gave " << int(got.red) << ","
        << int(got.green) << "," << int(got.blue);
  }
}

TEST(SkinFormat, RulesAreWrittenWithTheShiftedColours) {
  const std::vector<uint8_t> data =
      resource({kColours, {sf::kTagRules, text("a{color:@a;border:1px solid @b_2}/*@@a*/@b_2")}});
  auto s = std::make_unique<sf::Skin>();
  ASSERT_EQ(sf::read_skin(data.data(), data.size(), s.get()), Status::kOk);
  const sf::Colour shifted[2] = {{0xab, 0xcd, 0xef}, {1, 2, 3}};
  const std::string expected = "a{color:#abcdef;border:1px solid #010203}/*@a*/#010203";
  const size_t size = sf::expand_rules(*s, shifted, nullptr, 0);
  ASSERT_EQ(size, expected.size());
  std::string out(size, '?');
  EXPECT_EQ(sf::expand_rules(*s, shifted, out.data(), out.size()), size);
  EXPECT_EQ(out, expected);
  std::string short_out(10, '?');
  EXPECT_EQ(sf::expand_rules(*s, shifted, short_out.data(), short_out.size()), size);
  EXPECT_EQ(short_out, expected.substr(0, 10)) << "never writes past the capacity";
}

}  // namespace
