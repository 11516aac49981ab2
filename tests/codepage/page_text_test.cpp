// A fetched page's text: which charset the response declares (byte order mark, Content-Type
// header, meta element in the first 1024 bytes) and what each reading makes of the body.
// Literals here are GB18030 bytes (code page 936 for every GBK character); UTF-8 is written u8.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/codepage.h"
#include "web/commands.h"
#include "web/page_text.h"

namespace {

using web::CharsetSource;
using web::DeclaredCharset;
using web::PageEncoding;

constexpr DeclaredCharset kNothingDeclared{PageEncoding::kUtf8, CharsetSource::kNone};
constexpr DeclaredCharset kGbkMeta{PageEncoding::kGbk, CharsetSource::kMeta};

std::string utf8(std::u8string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size()};
}
std::span<const uint8_t> bytes_of(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
DeclaredCharset declared(std::string_view body, std::string_view headers = "") {
  return web::declared_charset(bytes_of(body), headers);
}
std::string text_of(std::string_view body, std::string_view headers = "") {
  return std::string(web::page_text(bytes_of(body), headers).view());
}
std::string headers_with(std::string_view content_type) {
  return "HTTP/1.1 200 OK\r\nServer: x\r\n" + std::string(content_type) +
         "\r\nContent-Length: 9\r\n";
}

std::string describe(const DeclaredCharset& d) {
  const char* encodings[] = {"utf-8", "gbk", "gb18030"};
  const char* sources[] = {"none", "byte order mark", "header", "meta"};
  return std::string(encodings[static_cast<int>(d.encoding)]) + " from " +
         sources[static_cast<int>(d.source)];
}

TEST(PageCharset, LabelsTheProgramReads) {
  struct Case {
    std::string_view label;
    std::optional<PageEncoding> expected;
  };
  const std::vector<Case> cases = {
      {"utf-8", PageEncoding::kUtf8},
      {"UTF8", PageEncoding::kUtf8},
      {"unicode-1-1-utf-8", PageEncoding::kUtf8},
      {"gbk", PageEncoding::kGbk},
      {"GB2312", PageEncoding::kGbk},
      {"gb_2312-80", PageEncoding::kGbk},
      {"X-GBK", PageEncoding::kGbk},
      {"cp936", PageEncoding::kGbk},
      {"Windows-936", PageEncoding::kGbk},
      {"chinese", PageEncoding::kGbk},
      {" \tgbk\n", PageEncoding::kGbk},
      {"GB18030", PageEncoding::kGb18030},
      // Not read by the program, or no label at all.
      {"big5", std::nullopt},
      {"utf-16le", std::nullopt},
      {"gbk2", std::nullopt},
      {"gb 2312", std::nullopt},
      {"", std::nullopt},
      {std::string_view("gb18030\0", 8), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(web::encoding_of_label(c.label), c.expected) << '"' << c.label << '"';
  }
}

TEST(PageCharset, ContentTypeHeader) {
  struct Case {
    std::string headers;
    DeclaredCharset expected;
  };
  const DeclaredCharset gbk{PageEncoding::kGbk, CharsetSource::kHeader};
  const DeclaredCharset gb18030{PageEncoding::kGb18030, CharsetSource::kHeader};
  const DeclaredCharset utf8_header{PageEncoding::kUtf8, CharsetSource::kHeader};
  const std::vector<Case> cases = {
      {headers_with("Content-Type: text/html; charset=gbk"), gbk},
      {headers_with("content-TYPE:text/html;CharSet=GB2312"), gbk},
      {headers_with("Content-Type: text/html; charset=\"gbk\""), gbk},
      {headers_with("Content-Type: text/html; charset=\"g\\bk\"; q=1"), gbk},
      {headers_with("Content-Type: text/html ;  charset=gbk  "), gbk},
      {headers_with("Content-Type: text/html; charset=UTF-8"), utf8_header},
      // A quoted ";" does not end the value; the first charset parameter counts.
      {headers_with("Content-Type: text/html; x=\"a;charset=gbk\"; charset=gb18030"), gb18030},
      {headers_with("Content-Type: text/html; charset=gb18030; charset=gbk"), gb18030},
      // The last Content-Type counts, and the last response's.
      {headers_with(
           "Content-Type: text/html; charset=utf-8\r\nContent-Type: text/html; charset=gbk"),
       gbk},
      {"HTTP/1.1 302 Found\r\nContent-Type: text/html; charset=gbk\r\n\r\n" +
           headers_with("Content-Type: text/html"),
       kNothingDeclared},
      {"HTTP/1.1 302 Found\r\nContent-Type: text/html\r\n\r\n" +
           headers_with("Content-Type: text/html; charset=gbk"),
       gbk},
      {"HTTP/1.1 200 OK\nContent-Type: text/html; charset=gbk\n", gbk},  // bare line feeds
      // None, or none the program reads.
      {headers_with("Content-Type: text/html"), kNothingDeclared},
      {headers_with("Content-Type: text/html; charset = gbk"), kNothingDeclared},
      {headers_with("Content-Type: text/html; charset="), kNothingDeclared},
      {headers_with("Content-Type: text/html; charset=big5"), kNothingDeclared},
      {headers_with("X-Content-Type: text/html; charset=gbk"), kNothingDeclared},
      {headers_with("Content-Language: zh; charset=gbk"), kNothingDeclared},
      {"", kNothingDeclared},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    const DeclaredCharset got = declared("<html><body>", c.headers);
    EXPECT_EQ(got, c.expected) << describe(got);
  }
}

TEST(PageCharset, MarkThenHeaderThenMeta) {
  struct Case {
    std::string body;
    std::string headers;
    DeclaredCharset expected;
  };
  const std::string gbk_meta = "<html><head><meta charset=\"gbk\">";
  const std::vector<Case> cases = {
      {gbk_meta,
       headers_with("Content-Type: text/html; charset=utf-8"),
       {PageEncoding::kUtf8, CharsetSource::kHeader}},
      {"<meta charset=utf-8>",
       headers_with("Content-Type: text/html; charset=gb18030"),
       {PageEncoding::kGb18030, CharsetSource::kHeader}},
      {gbk_meta,
       headers_with("Content-Type: text/html"),
       {PageEncoding::kGbk, CharsetSource::kMeta}},
      // A header label the program does not read leaves the choice to the meta.
      {gbk_meta,
       headers_with("Content-Type: text/html; charset=big5"),
       {PageEncoding::kGbk, CharsetSource::kMeta}},
      {"\xEF\xBB\xBF" + gbk_meta,
       headers_with("Content-Type: text/html; charset=gbk"),
       {PageEncoding::kUtf8, CharsetSource::kByteOrderMark}},
      {"\xEF\xBB",
       headers_with("Content-Type: text/html; charset=gbk"),
       {PageEncoding::kGbk, CharsetSource::kHeader}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body + " | " + c.headers);
    const DeclaredCharset got = declared(c.body, c.headers);
    EXPECT_EQ(got, c.expected) << describe(got);
  }
}

TEST(PageCharset, MetaElements) {
  struct Case {
    std::string body;
    std::optional<PageEncoding> expected;  // from the meta; none: nothing declared
  };
  const std::vector<Case> cases = {
      {"<meta charset=\"gbk\">", PageEncoding::kGbk},
      {"<META CHARSET=GBK>", PageEncoding::kGbk},
      {"<meta charset='gb2312'>", PageEncoding::kGbk},
      {"<meta charset = \"gb18030\" >", PageEncoding::kGb18030},
      {"<meta charset=gbk />", PageEncoding::kGbk},
      {"<meta/charset=gbk>", PageEncoding::kGbk},
      {"<meta\tname=x charset=gbk>", PageEncoding::kGbk},
      {"<meta charset=\"utf-8\"><meta charset=gbk>", PageEncoding::kUtf8},
      // The http-equiv form, in either order, quoted either way.
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">",
       PageEncoding::kGbk},
      {"<meta content='text/html;charset=GB18030' http-equiv='content-type'>",
       PageEncoding::kGb18030},
      {"<meta http-equiv=content-type content=\"text/html; charset='gbk'\">", PageEncoding::kGbk},
      {"<meta http-equiv=\"content-type\" content=\"text/html; charset = gbk; x=1\">",
       PageEncoding::kGbk},
      {"<meta http-equiv=\"content-type\" content=\"charsetx charset=gbk\">", PageEncoding::kGbk},
      // content without the pragma, or with another one, declares nothing.
      {"<meta content=\"text/html; charset=gbk\">", std::nullopt},
      {"<meta http-equiv=\"refresh\" content=\"0; charset=gbk\">", std::nullopt},
      {"<meta http-equiv=\"content-type\" content=\"text/html; charset\">", std::nullopt},
      {"<meta http-equiv=\"content-type\" content=\"text/html; charset=\"gbk\">", std::nullopt},
      // The charset attribute wins over content, also after it; a repeated name counts once.
      {"<meta http-equiv=\"content-type\" content=\"charset=gbk\" charset=\"gb18030\">",
       PageEncoding::kGb18030},
      {"<meta charset=\"gbk\" charset=\"utf-8\">", PageEncoding::kGbk},
      {"<meta charset=\"foo\" http-equiv=\"content-type\" content=\"charset=gbk\">", std::nullopt},
      // Labels the program does not read are passed over.
      {"<meta charset=\"big5\"><meta charset=\"gbk\">", PageEncoding::kGbk},
      {"<meta charset=gbk/>", std::nullopt},  // the label is "gbk/"
      // Comments, other tags and their attributes are stepped over.
      {"<!-- <meta charset=gbk> --><meta charset=gb18030>", PageEncoding::kGb18030},
      {"<!-- <meta charset=gbk> -->", std::nullopt},
      {"<!--><meta charset=gbk>", PageEncoding::kGbk},
      {"<div title=\"<meta charset=gbk>\"><meta charset=gb18030>", PageEncoding::kGb18030},
      {"<!DOCTYPE html><?xml encoding=\"gbk\"?></x charset=gbk><meta charset=gbk>",
       PageEncoding::kGbk},
      {"<metacharset=gbk>", std::nullopt},
      {"<p>charset=gbk</p>", std::nullopt},
      // Bytes that end inside a construct end the search.
      {"<!-- <meta charset=gbk>", std::nullopt},
      {"<div title=\"x><meta charset=gbk>", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const DeclaredCharset expected =
        c.expected ? DeclaredCharset{*c.expected, CharsetSource::kMeta} : kNothingDeclared;
    const DeclaredCharset got = declared(c.body);
    EXPECT_EQ(got, expected) << describe(got);
  }
}

// Only the first 1024 bytes are searched: a meta element counts when its '>' is one of them.
TEST(PageCharset, OnlyTheFirst1024BytesAreSearched) {
  const std::string meta = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">";
  for (size_t padding = 1024 - meta.size() - 3; padding <= 1024; ++padding) {
    const std::string body = "<p>" + std::string(padding - 3, 'x') + meta + "<p>later</p>";
    const bool whole = padding + meta.size() <= 1024;
    EXPECT_EQ(declared(body), whole ? kGbkMeta : kNothingDeclared) << padding;
  }
}

// Every prefix of a page that declares its charset in a meta element: the declaration counts
// only once the whole tag is there.
TEST(PageCharset, EveryPrefixOfAMetaTag) {
  const std::vector<std::string> tags = {
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">",
      "<meta charset='gbk'>",
      "<meta charset=gbk>",
  };
  for (const std::string& tag : tags) {
    const std::string page = "<html><head><title>t</title>" + tag;
    for (size_t length = 0; length <= page.size(); ++length) {
      const bool whole = length == page.size();
      EXPECT_EQ(declared(page.substr(0, length)), whole ? kGbkMeta : kNothingDeclared)
          << page.substr(0, length);
    }
  }
}

// Pages read as UTF-8 come out exactly as utf8_to_local (to_text (body)) makes them.
TEST(PageText, Utf8PagesReadAsTheProgramAlwaysReadThem) {
  const std::vector<std::string> pages = {
      utf8(u8"<html><head><meta charset=\"utf-8\"><title>霸王别姬</title></head>"),
      utf8(u8"<li><a href=\"/v/7.html\">卧虎藏龙</a>：第01集 €5 😀 ก</li>\r\n"),
      "\xEF\xBB\xBF" + utf8(u8"<p>电影</p>"),
      "plain ASCII",
      utf8(u8"电影") + std::string(1, '\0') + utf8(u8"之后"),
      "",
  };
  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    const rt::Bytes body(bytes_of(page));
    const rt::Text text = web::to_text(rt::Cell::of_pointer(body.get(), rt::kBytes));
    EXPECT_EQ(text_of(page), web::utf8_to_local(text.c_str()).view());
    EXPECT_EQ(text_of(page, headers_with("Content-Type: text/html; charset=utf-8")),
              web::utf8_to_local(text.c_str()).view());
  }
  EXPECT_EQ(web::page_text({}, "").get(), nullptr);
}

// A broken sequence costs one "?", also where utf8_to_local's sizing leaves nothing of the page
// (the broken sequence reads as fewer characters in code page 936 than in UTF-8).
TEST(PageText, BrokenUtf8CostsOneCharacter) {
  struct Case {
    std::string body;
    std::string expected;
    bool sizing_leaves_nothing;
  };
  const std::vector<Case> cases = {
      {"\xFF<html><title>Matrix</title>", "?<html><title>Matrix</title>", false},
      {"<p>Caf\xE9 Lumiere</p>", "<p>Caf? Lumiere</p>", false},
      {"<p>Caf\xE9s</p>", "<p>Caf?s</p>", true},
      {utf8(u8"<p>霸王") + "\xE9" + utf8(u8"别姬</p>"), "<p>霸王?别姬</p>", false},
      {"<p>Amelie</p>\xE7\x94", "<p>Amelie</p>?", false},
      {"<p>\xC0\xAFx\xED\xA0\x80y</p>", "<p>??x???y</p>", true},
      {"<p>\xF0\x9F\x98 ok</p>", "<p>? ok</p>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(text_of(c.body), c.expected);
    EXPECT_EQ(web::utf8_to_local(c.body.c_str()).empty(), c.sizing_leaves_nothing);
  }
}

TEST(PageText, GbkPagesKeepTheirBytes) {
  const std::string gbk = headers_with("Content-Type: text/html; charset=GBK");
  EXPECT_EQ(text_of("<title>霸王别姬 \x80</title>", gbk), "<title>霸王别姬 \x80</title>");
  EXPECT_EQ(text_of("<meta charset=gb2312><b>电影</b>"), "<meta charset=gb2312><b>电影</b>");
  // A text ends at its first zero byte.
  EXPECT_EQ(text_of(std::string("<b>电影</b>") + '\0' + "<i>", gbk), "<b>电影</b>");
  EXPECT_EQ(web::page_text(bytes_of(std::string_view("\0x", 2)), gbk).get(), nullptr);
}

TEST(PageText, Gb18030PagesBecomeLocalText) {
  const std::string gb18030 = headers_with("Content-Type: text/html; charset=gb18030");
  struct Case {
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"<b>霸王别姬</b>", "<b>霸王别姬</b>"},
      // The euro is two bytes in GB18030 and 0x80 in code page 936; À, ḿ and the emoji have no
      // code page 936 form.
      {"€ é À ḿ 😀!", "\x80 é ? ? ?!"},
      {"<b>\x81\x30\x81</b>", "<b>?0?</b>"},  // '<' goes on no code: each lead alone
      {"<b>\x81\x30\x81", "<b>?"},            // cut short by the end: one for the code
      {"<b>\x80\xFF</b>\x84\x31",
       "<b>?"
       "?</b>?"},
      {std::string("a\0b", 3), "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(text_of(c.body, gb18030), c.expected);
  }
  EXPECT_EQ(text_of("<meta charset=gb18030>€"), "<meta charset=gb18030>\x80");
}

}  // namespace
