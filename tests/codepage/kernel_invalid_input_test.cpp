// Input that does not decode: one U+FFFD per maximal part of a broken sequence (flags 0) with
// the rest kept, the same units whether the input is counted or runs to its terminator, and a
// failed call under MB_ERR_INVALID_CHARS.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codepage/kernel_support.h"
#include "platform/kernel/codepage.h"

namespace {

using namespace codepage_test;

constexpr uint32_t kErrInvalidChars = 0x8;

struct Case {
  std::string in;
  std::u16string expected;
};

std::string hex(std::string_view bytes) {
  std::string out;
  char buffer[4];
  for (const char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X ", static_cast<unsigned>(static_cast<uint8_t>(c)));
    out += buffer;
  }
  return out;
}

void expect_decodes(uint32_t cp, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(hex(c.in));
    EXPECT_EQ(decode(cp, c.in, static_cast<int>(c.in.size())), c.expected);
    EXPECT_EQ(decode(cp, c.in, -1), c.expected + u'\0');
  }
}

// The Unicode standard's own examples of maximal subparts (tables 3-8 to 3-12) and the shapes
// they stand for, where a page would hold them.
TEST(KernelInvalidUtf8, EachMaximalSubpartBecomesOneReplacement) {
  expect_decodes(kUtf8, {
                            // Unicode's examples.
                            {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                             u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
                            {"\xC0\xAF\xE0\x80\xBF\xF0\x81\x82\x41",
                             u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDA"},
                            {"\xED\xA0\x80\xED\xBF\xBF\xED\xAF\x41",
                             u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDA"},
                            {"\xF4\x91\x92\x93\xFF\x41\x80\xBF\x42",
                             u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDA\uFFFD\uFFFDB"},
                            {"\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", u"\uFFFD\uFFFD\uFFFD\uFFFDA"},
                        });
}

TEST(KernelInvalidUtf8, ABadByteCostsOneCharacterWhereverItIs) {
  const std::string title = utf8(u8"<a>霸王别姬</a>");
  const std::u16string units = u"<a>霸王别姬</a>";
  expect_decodes(kUtf8, {
                            {"\xFF" + title, u"\uFFFD" + units},               // head
                            {utf8(u8"<a>霸王") + "\xE9" + utf8(u8"别姬</a>"),  // middle: a
                             u"<a>霸王\uFFFD别姬</a>"},                        // Latin-1 é
                            {utf8(u8"<a>霸王") + "\x80" + utf8(u8"别姬</a>"),  // a stray trail
                             u"<a>霸王\uFFFD别姬</a>"},
                            {title + "\xC3", units + u"\uFFFD"},  // end
                        });
}

TEST(KernelInvalidUtf8, SequencesCutShort) {
  expect_decodes(kUtf8, {
                            {"\xC3", u"\uFFFD"},
                            {"\xE7\x94", u"\uFFFD"},
                            {"\xF0\x9F\x98", u"\uFFFD"},
                            {"\xF0\x9F", u"\uFFFD"},
                            // Cut, then a whole character: the cut part only is lost.
                            {"\xE7\x94" + utf8(u8"电"), u"\uFFFD电"},
                            {"\xF0\x9F\x98" + utf8(u8"😀"), u"\uFFFD😀"},
                            {"\xE7\x94x", u"\uFFFDx"},
                        });
}

TEST(KernelInvalidUtf8, OverlongFormsSurrogatesAndBeyondTheLastPlane) {
  expect_decodes(kUtf8,
                 {
                     // Overlong: the lead byte can start nothing, or its trail is out of
                     // range; every byte is then a part of its own.
                     {"\xC0\x80", u"\uFFFD\uFFFD"},
                     {"\xC1\xBF", u"\uFFFD\uFFFD"},
                     {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
                     {"\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
                     {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                     {"\xE0\xA0\x80",
                      u"\u0800"},  // the shortest three-byte form
                                   // Encoded surrogates, and the characters either side of them.
                     {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                     {"\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
                     {"\xED\xA0\xBD\xED\xB8\x80", std::u16string(6, u'\uFFFD')},  // a pair
                     {"\xED\x9F\xBF", u"\uD7FF"},
                     {"\xEE\x80\x80", u"\uE000"},
                     // Beyond U+10FFFF, and bytes that start no sequence at all.
                     {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                     {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
                     {"\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                     {"\xF8\x88\x80\x80\x80", std::u16string(5, u'\uFFFD')},
                     {"\xFE\xFF", u"\uFFFD\uFFFD"},
                     {"\xEF\xBF\xBD", u"\uFFFD"},  // U+FFFD itself is a character
                 });
}

TEST(KernelInvalidGb18030, BrokenCodesFollowTheWhatwgDecoder) {
  expect_decodes(kGb18030, {
                               {"\x80", u"\uFFFD"},
                               {"\xFF", u"\uFFFD"},
                               {"a\x81", u"a\uFFFD"},
                               // Cut short by the end: one for the whole code begun.
                               {"\x81\x30", u"\uFFFD"},
                               {"\x81\x30\x81", u"\uFFFD"},
                               {"\x81\x30\x81\x30", u"\u0080"},
                               // A byte that cannot go on: the lead byte alone is lost, the
                               // rest is read again.
                               {"\x81\x20", u"\uFFFD "},
                               {"\x81\x7F", u"\uFFFD\x7F"},
                               {"\x81\xFF", u"\uFFFD\uFFFD"},
                               {"\x81\x30x", u"\uFFFD0x"},
                               {"\x81\x30\x81\x20", u"\uFFFD0\uFFFD "},
                               // Whole four-byte codes without a character.
                               {"\x84\x31\xA5\x30", u"\uFFFD"},
                               {"\xE3\x32\x9A\x36", u"\uFFFD"},
                               {"\xFE\x39\xFE\x39<", u"\uFFFD<"},
                               {"\x84\x31\xA4\x39", u"\uFFFF"},
                           });
}

// Sizing and converting run the same rules: for every prefix of broken input the measured size
// is what the conversion writes (decode() checks), and a terminator after the prefix ends it
// as the end of counted input does.
TEST(KernelInvalidInput, CountedAndTerminatedInputGiveTheSameUnits) {
  struct Input {
    uint32_t cp;
    std::string text;
  };
  const std::vector<Input> inputs = {
      {kUtf8, "a\xF1\x80\x80\xE1\x80\xC2" + utf8(u8"电影😀") + "\xED\xA0\x80\xF4\x90z\xC3"},
      {kGbk, "a\xB5\xFF电影\x80\xA1\x40\xB5"},
      {kGb18030, "a\x81\x30\x81\x30\x81\x30x\x81\x30\x81电影😀\x80\x84\x31\xA5\x30\x81"},
  };
  for (const Input& input : inputs) {
    for (size_t length = 1; length <= input.text.size(); ++length) {
      const std::string prefix = input.text.substr(0, length);
      SCOPED_TRACE(std::to_string(input.cp) + ": " + hex(prefix));
      EXPECT_EQ(decode(input.cp, prefix, -1),
                decode(input.cp, prefix, static_cast<int>(length)) + u'\0');
    }
  }
}

TEST(KernelInvalidInput, ErrInvalidCharsRefusesOnlyInputThatDoesNotDecode) {
  struct Row {
    uint32_t cp;
    std::string in;
    bool decodes;
  };
  const std::vector<Row> rows = {
      {kUtf8, utf8(u8"霸王别姬 😀"), true},
      {kUtf8, "\xEF\xBF\xBD", true},  // an encoded U+FFFD
      {kUtf8, utf8(u8"霸王别姬") + "\xFF", false},
      {kUtf8, "\xE7\x94", false},
      {kUtf8, "\xED\xA0\x80", false},
      {kGbk, "霸王别姬 \x80", true},
      {kGbk, "\xA1\x40", false},
      {kGbk, "ab\xB5", false},
      {kGbk, "\xFF", false},
      {kGb18030, "霸王别姬 😀", true},
      {kGb18030, "\x84\x31\xA4\x37", true},  // U+FFFD
      {kGb18030, "\x81\x30\x81", false},
      {kGb18030, "\x84\x31\xA5\x30", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(hex(row.in));
    for (const int count : {static_cast<int>(row.in.size()), -1}) {
      const std::u16string lenient = decode(row.cp, row.in, count);
      const int needed =
          MultiByteToWideChar(row.cp, kErrInvalidChars, row.in.c_str(), count, nullptr, 0);
      std::u16string buffer(lenient.size(), u'x');
      const int written = MultiByteToWideChar(row.cp, kErrInvalidChars, row.in.c_str(), count,
                                              buffer.data(), static_cast<int>(buffer.size()));
      if (row.decodes) {
        EXPECT_EQ(needed, static_cast<int>(lenient.size()));
        EXPECT_EQ(written, needed);
        EXPECT_EQ(buffer, lenient);
      } else {
        EXPECT_EQ(needed, 0);
        EXPECT_EQ(written, 0);
      }
    }
  }
}

}  // namespace
