// The kernel stand-in's conversions: the platform contracts, bad input, and agreement of the
// lookup tables with iconv itself on every code.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codepage/kernel_support.h"
#include "platform/kernel/codepage.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "runtime/runtime.h"

namespace {

using namespace codepage_test;

TEST(KernelDecode, SizesAndContents) {
  struct Case {
    uint32_t cp;
    std::string in;
    int count;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {kUtf8, "abc", -1, std::u16string(u"abc", 4)},  // the terminator is counted
      {kUtf8, "abc", 3, u"abc"},
      {kUtf8, "", -1, std::u16string(1, u'\0')},
      {kUtf8, utf8(u8"电影é"), -1, std::u16string(u"电影é", 4)},
      {kUtf8, utf8(u8"😀"), 4, u"😀"},
      {kGbk, "电影", -1, std::u16string(u"电影", 3)},
      {0, "电影", 4, u"电影"},
      {kGbk, "\x80", 1, u"€"},
      {kGbk, std::string("a\0b", 3), 3, std::u16string(u"a\0b", 3)},
      {kGbk, "The Matrix 黑客帝国 1999 <title>", -1,
       std::u16string(u"The Matrix 黑客帝国 1999 <title>", 29)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(decode(c.cp, c.in, c.count), c.expected);
  }
}

TEST(KernelDecode, RefusesBadArguments) {
  char16_t buffer[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(kUtf8, 0, "ab", 0, buffer, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(kUtf8, 0, "ab", -2, buffer, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(kUtf8, 0, nullptr, -1, buffer, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "ab", -1, buffer, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(kUtf8, 0, "ab", -1, buffer, -1), 0);
  EXPECT_EQ(MultiByteToWideChar(kUtf8, 0, "ab", -1, nullptr, 3), 0);
}

// Every capacity short of the size needed fails without writing past the capacity (runs of
// ASCII are written up to 64 units at once); the exact size succeeds.
TEST(KernelDecode, SmallBuffersFailWithoutOverrun) {
  const std::string text =
      "<a href=\"/v/1.html\">霸王别姬</a>"
      " and a long run of plain ASCII after it, longer than the 64 bytes moved at once";
  const int needed = MultiByteToWideChar(kGbk, 0, text.c_str(), -1, nullptr, 0);
  for (int capacity = 1; capacity <= needed; ++capacity) {
    std::u16string buffer(static_cast<size_t>(needed) + 16, u'x');
    const int n = MultiByteToWideChar(kGbk, 0, text.c_str(), -1, buffer.data(), capacity);
    EXPECT_EQ(n, capacity == needed ? needed : 0) << capacity;
    EXPECT_EQ(buffer.substr(static_cast<size_t>(capacity)),
              std::u16string(buffer.size() - static_cast<size_t>(capacity), u'x'))
        << capacity;
  }
}

TEST(KernelDecode, BadInputBecomesOneReplacementPerSequence) {
  struct Case {
    uint32_t cp;
    std::string in;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {kUtf8, "\x80", u"\uFFFD"},
      {kUtf8, "a\xC3", u"a\uFFFD"},                    // cut after the lead byte
      {kUtf8, "\xE4\xB8", u"\uFFFD"},                  // cut inside a 3-byte sequence
      {kUtf8, "\xF0\x9F\x98", u"\uFFFD"},              // cut inside a 4-byte sequence
      {kUtf8, "\xE4\xB8x", u"\uFFFDx"},                // broken off by ASCII, which survives
      {kUtf8, "\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
      {kUtf8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {kUtf8, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {kUtf8,
       "\xFF"
       "abcdefghij",
       u"\uFFFDabcdefghij"},
      {kGbk, "\xB5", u"\uFFFD"},  // lead byte at the end
      {kGbk,
       "\xB5"
       "1<",
       u"\uFFFD1<"},  // a lead byte never swallows ASCII below '@'
      {kGbk, "\xB5\x7F", u"\uFFFD\x7F"},
      {kGbk, "\xFF", u"\uFFFD"},
      {kGbk, "\xA1\x40", u"\uFFFD"},  // a well-formed pair with no character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(decode(c.cp, c.in, static_cast<int>(c.in.size())), c.expected);
  }
  // With count -1 a lead byte before the terminator keeps the terminator.
  EXPECT_EQ(decode(kGbk, "\xB5", -1), std::u16string(u"\uFFFD\0", 2));
}

TEST(KernelEncode, SizesDefaultsAndSurrogates) {
  struct Case {
    uint32_t cp;
    std::u16string in;
    std::string expected;
    int used_default;  // -1: not asked (UTF-8 refuses the question)
  };
  const std::vector<Case> cases = {
      {kGbk, std::u16string(u"电影", 3), std::string("电影", 5), 0},
      {0, u"The 黑客帝国", "The 黑客帝国", 0},
      {kGbk, u"€", "\x80", 0},
      {kGbk, u"a😀b", "a?b", 1},       // a pair is one character: one default
      {kGbk, u"a\uFFFDb", "a?b", 1},  // as the replacement for input that did not decode
      {kGbk, u"\xD83D", "?", 1},      // lone surrogates
      {kGbk, u"\xDE00x\xD83D", "?x?", 1},
      {kGbk, u"กข", "??", 1},  // no form in code page 936
      {kUtf8, u"a😀é电", utf8(u8"a😀é电"), -1},
      {kUtf8, u"x\xD83D", "x\xEF\xBF\xBD", -1},
      {kUtf8, u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(bytes_of(c.in));
    int used = 7;
    EXPECT_EQ(encode(c.cp, c.in, static_cast<int>(c.in.size()), nullptr,
                     c.used_default < 0 ? nullptr : &used),
              c.expected);
    if (c.used_default >= 0) {
      EXPECT_EQ(used, c.used_default);
    }
  }
  EXPECT_EQ(encode(kGbk, u"a😀", 3, "*"), "a*");
  EXPECT_EQ(encode(kGbk, u"a😀", 3, "□"), "a□");  // a double-byte default
  EXPECT_EQ(WideCharToMultiByte(kUtf8, 0, u"a", 1, nullptr, 0, "?", nullptr), 0);
}

TEST(KernelEncode, SmallBuffersFailWithoutOverrun) {
  const std::u16string text =
      u"<a href=\"/v/1.html\">霸王别姬😀</a>"
      u" and a long run of plain ASCII after it, longer than the 64 bytes moved at once";
  for (const uint32_t cp : {kGbk, kUtf8}) {
    const int needed = WideCharToMultiByte(cp, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    for (int capacity = 1; capacity <= needed; ++capacity) {
      std::string buffer(static_cast<size_t>(needed) + 16, 'x');
      const int n =
          WideCharToMultiByte(cp, 0, text.c_str(), -1, buffer.data(), capacity, nullptr, nullptr);
      EXPECT_EQ(n, capacity == needed ? needed : 0) << cp << ' ' << capacity;
      EXPECT_EQ(buffer.substr(static_cast<size_t>(capacity)),
                std::string(buffer.size() - static_cast<size_t>(capacity), 'x'))
          << cp << ' ' << capacity;
    }
  }
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(WideCharToMultiByte(kGbk, 0, u"ab", 0, buffer, 8, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(kGbk, 0, nullptr, -1, buffer, 8, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(437, 0, u"ab", -1, buffer, 8, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(kGbk, 0, u"ab", -1, nullptr, 8, nullptr, nullptr), 0);
}

// Input of unknown length (count -1) is tested in blocks that may pass the terminator but never
// the page it lies in: texts that end right before an inaccessible page, at every length around
// the block sizes and with the odd byte after them, convert without a fault.
TEST(KernelConversion, InputEndingAtAPageEdgeIsReadSafely) {
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char*>(map) + page, page, PROT_NONE), 0);
  char* const edge = static_cast<char*>(map) + page;
  for (size_t gap = 0; gap < 2; ++gap) {
    for (size_t length = 0; length < 100; ++length) {
      SCOPED_TRACE("gap " + std::to_string(gap) + " length " + std::to_string(length));
      std::memset(edge - gap, 'x', gap);
      const std::string text = std::string(length, 'a');
      char* bytes = edge - gap - length - 1;
      std::memcpy(bytes, text.c_str(), length + 1);
      const std::u16string expected_units(text.begin(), text.end());
      EXPECT_EQ(decode(kUtf8, bytes, -1), std::u16string(expected_units.c_str(), length + 1));
      EXPECT_EQ(decode(kGbk, bytes, -1), std::u16string(expected_units.c_str(), length + 1));

      // With the odd gap the units are not on 2-byte boundaries: the kernel must not mind.
      char* unit_bytes = edge - gap - 2 * (length + 1);
      std::memcpy(unit_bytes, expected_units.c_str(), 2 * (length + 1));
      const auto* units = reinterpret_cast<const char16_t*>(unit_bytes);
      for (const uint32_t cp : {kGbk, kUtf8}) {
        std::string out(length + 1, '?');
        EXPECT_EQ(WideCharToMultiByte(cp, 0, units, -1, nullptr, 0, nullptr, nullptr),
                  static_cast<int>(length) + 1);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, units, -1, out.data(), static_cast<int>(length) + 1,
                                      nullptr, nullptr),
                  static_cast<int>(length) + 1);
        EXPECT_EQ(out, std::string(text.c_str(), length + 1));
      }
    }
  }
  munmap(map, 2 * page);
}

TEST(KernelTables, EveryDoubleByteCodeDecodesAsIconvDoes) {
  Iconv reference("UTF-16LE", "CP936");
  int mapped = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const Reference ref = reference(pair);
      const std::string ours = bytes_of(decode(kGbk, pair, 2));
      if (ref.error == 0) {
        ++mapped;
        ASSERT_EQ(ours, ref.out) << std::hex << lead << ' ' << trail;
      } else {
        // No character: one U+FFFD for the pair, or for the lead alone before 0x7F.
        ASSERT_EQ(ours, bytes_of(trail == 0x7F ? u"\uFFFD\x7F" : u"\uFFFD"))
            << std::hex << lead << ' ' << trail;
      }
    }
  }
  EXPECT_GT(mapped, 21000);  // GBK's 21886 codes less its user-defined areas
}

TEST(KernelTables, EveryGb18030TwoByteCodeDecodesAsIconvDoes) {
  Iconv reference("UTF-16LE", "GB18030");
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F)
        continue;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const Reference ref = reference(pair);
      ASSERT_EQ(ref.error, 0) << std::hex << lead << ' ' << trail;  // GB18030 maps them all
      ASSERT_EQ(bytes_of(decode(kGb18030, pair, 2)), ref.out) << std::hex << lead << ' ' << trail;
    }
  }
}

// Four-byte codes in byte order: all of them up to past the end of those that stand for the
// Basic Multilingual Plane, then a sample of those for the other planes and past their end.
TEST(KernelTables, Gb18030FourByteCodesDecodeAsIconvDoes) {
  Iconv reference("UTF-16LE", "GB18030");
  const auto code = [](uint32_t pointer) {
    return std::string{
        static_cast<char>(0x81 + pointer / 12600), static_cast<char>(0x30 + pointer / 1260 % 10),
        static_cast<char>(0x81 + pointer / 10 % 126), static_cast<char>(0x30 + pointer % 10)};
  };
  int mapped = 0;
  const auto check = [&](uint32_t pointer) {
    const std::string bytes = code(pointer);
    const Reference ref = reference(bytes);
    mapped += ref.error == 0 ? 1 : 0;
    // No character: one U+FFFD for the whole code.
    ASSERT_EQ(bytes_of(decode(kGb18030, bytes, 4)), ref.error == 0 ? ref.out : bytes_of(u"\uFFFD"))
        << pointer;
  };
  for (uint32_t pointer = 0; pointer < 39420 + 2520; ++pointer) check(pointer);
  EXPECT_GT(mapped, 39000);
  for (uint32_t pointer = 189000 - 1260; pointer < 189000 + 0x100000 + 1260; pointer += 97)
    check(pointer);
  for (const uint32_t pointer : {189000u, 189000u + 0xFFFFF, 189000u + 0x100000}) check(pointer);
}

TEST(KernelTables, Gb18030IsReadOnly) {
  char buffer[8];
  EXPECT_EQ(WideCharToMultiByte(kGb18030, 0, u"ab", -1, buffer, 8, nullptr, nullptr), 0);
}

TEST(KernelTables, EveryUnitEncodesAsIconvDoes) {
  Iconv reference("CP936", "UTF-16LE");
  int mapped = 0;
  for (uint32_t unit = 0x01; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF)
      continue;
    const std::u16string text(1, static_cast<char16_t>(unit));
    const Reference ref = reference(bytes_of(text));
    mapped += ref.error == 0 ? 1 : 0;
    int used = -1;
    const std::string ours = encode(kGbk, text, 1, nullptr, &used);
    ASSERT_EQ(ours, ref.error == 0 ? ref.out : "?") << std::hex << unit;
    ASSERT_EQ(used, ref.error == 0 ? 0 : 1) << std::hex << unit;
  }
  EXPECT_GT(mapped, 21000);
}

// Every prefix of a mixed input: a prefix that ends on a character boundary converts as iconv
// converts it, and one that cuts a character ends in exactly one U+FFFD.
TEST(KernelDecode, EveryPrefixMatchesIconv) {
  struct Input {
    uint32_t cp;
    const char* iconv_name;
    std::string text;
  };
  const std::vector<Input> inputs = {
      {kUtf8, "UTF-8",
       utf8(u8"<li><a href=\"/voddetail/123.html\" title=\"x\"><img src=\"/upload/123.jpg\">"
            u8"Héllo 霸王别姬 😀 €</a> ok")},
      {kGbk, "CP936",
       "<li><a href=\"/voddetail/123.html\" title=\"x\"><img src=\"/upload/123.jpg\">"
       "霸王别姬 A\x80"
       "B 卧虎藏龙</a> ok"},
      // Literals are GB18030 bytes here: two-byte codes, and four-byte ones for À, ก and 😀.
      {kGb18030, "GB18030",
       "<li><a href=\"/voddetail/123.html\" title=\"x\"><img src=\"/upload/123.jpg\">"
       "霸王别姬 € À ก 😀 卧虎藏龙</a> ok"},
  };
  for (const Input& input : inputs) {
    Iconv reference("UTF-16LE", input.iconv_name);
    for (size_t length = 0; length <= input.text.size(); ++length) {
      const std::string prefix = input.text.substr(0, length);
      SCOPED_TRACE(std::string(input.iconv_name) + " prefix " + std::to_string(length));
      const Reference ref = reference(prefix);
      ASSERT_NE(ref.error, EILSEQ);
      std::string expected = ref.out;
      if (ref.error == EINVAL)
        expected += bytes_of(u"\uFFFD");
      std::u16string buffer(length + 1, u'\0');
      const int n = MultiByteToWideChar(input.cp, 0, prefix.data(), static_cast<int>(length),
                                        buffer.data(), static_cast<int>(length));
      EXPECT_EQ(bytes_of(std::u16string_view(buffer.data(), static_cast<size_t>(n))), expected);
      // The same up to the terminator, which a lead byte before it must not swallow.
      EXPECT_EQ(bytes_of(decode(input.cp, prefix, -1)), expected + std::string(2, '\0'));
    }
  }
}

TEST(KernelEncode, EveryPrefixOfSurrogatePairsIsSafe) {
  const std::u16string text =
      u"a😀b电😀 then a run of plain ASCII longer than the 32 units moved at once 😀";
  Iconv reference("UTF-8", "UTF-16LE");
  for (size_t length = 1; length <= text.size(); ++length) {
    const std::u16string prefix = text.substr(0, length);
    const Reference ref = reference(bytes_of(prefix));
    // A high surrogate cut from its low one is a lone surrogate: U+FFFD.
    const std::string expected = ref.error == EINVAL ? ref.out + "\xEF\xBF\xBD" : ref.out;
    EXPECT_EQ(encode(kUtf8, prefix, static_cast<int>(length)), expected) << length;
    EXPECT_EQ(encode(kUtf8, prefix, -1), expected + std::string(1, '\0')) << length;
  }
}

TEST(KernelLibrary, ExportsByNameAndByOrdinal) {
  rt::DllCommands table;
  const char* const files[] = {rt::kKernelLibrary, rt::kKernelLibrary};
  const char* const functions[] = {"#1", "#2"};
  table.prepare(2, files, functions, rt::program_directory());
  EXPECT_EQ(table.resolve(0), reinterpret_cast<void*>(&MultiByteToWideChar));
  EXPECT_EQ(table.resolve(1), reinterpret_cast<void*>(&WideCharToMultiByte));
  EXPECT_EQ(rt::dll_commands().resolve(rt::kImportWideCharToMultiByte),
            reinterpret_cast<void*>(&WideCharToMultiByte));
}

}  // namespace
