// The live page shape: the same titles, links and scripts as the compact pages, laid out the way
// a live template writes them, with the variations film_site.h names for each title. Pages are
// read here with plain string searches, not with the program's patterns.
#include <iconv.h>

#include <algorithm>
#include <map>
#include <optional>

#include "tests/demo_site/site_fixture.h"

namespace site_test {
namespace {

// The text from the first `left` after `from` up to the next `right`; nothing when missing.
std::optional<std::string> cut(std::string_view text, std::string_view left, std::string_view right,
                               size_t from = 0) {
  const size_t start = text.find(left, from);
  if (start == std::string_view::npos)
    return std::nullopt;
  const size_t end = text.find(right, start + left.size());
  if (end == std::string_view::npos)
    return std::nullopt;
  return std::string(text.substr(start + left.size(), end - start - left.size()));
}

// The element text after the tag holding `marker`.
std::optional<std::string> text_of(std::string_view block, std::string_view marker) {
  const size_t at = block.find(marker);
  if (at == std::string_view::npos)
    return std::nullopt;
  return cut(block, ">", "<", at);
}

struct Card {
  std::optional<std::string> poster, remarks;
  std::string link, name, cast;
};

std::vector<Card> cards_of(const std::string& page) {
  std::vector<Card> cards;
  for (size_t at = page.find("<li class=\"fed-list-item"); at != std::string::npos;
       at = page.find("<li class=\"fed-list-item", at + 1)) {
    const std::string block = cut(page, "", "</li>", at).value_or("");
    const std::string poster_tag = cut(block, "<a ", ">").value_or("");
    const size_t title = block.find("fed-list-title");
    cards.push_back({cut(poster_tag, "data-original=\"", "\""), text_of(block, "fed-list-remarks"),
                     cut(block, "href=\"", "\"", title).value_or("?"),
                     text_of(block, "fed-list-title").value_or("?"),
                     text_of(block, "fed-list-desc").value_or("?")});
  }
  return cards;
}

// Bytes that do not belong to a whole UTF-8 sequence.
size_t stray_bytes(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80   ? 1
                          : lead < 0xC2 ? 0
                          : lead < 0xE0 ? 2
                          : lead < 0xF0 ? 3
                          : lead < 0xF5 ? 4
                                        : 0;
    bool whole = length > 0 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) whole = (text[i + k] & 0xC0) == 0x80;
    count += whole ? 0 : 1;
    i += whole ? length : 1;
  }
  return count;
}

// The whole text from code page 936 into UTF-8; nothing if any byte does not convert.
std::optional<std::string> from_gbk(std::string text) {
  const iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  std::string out(text.size() * 2, '\0');
  char* in = text.data();
  size_t in_left = text.size();
  char* to = out.data();
  size_t to_left = out.size();
  const size_t result = iconv(cd, &in, &in_left, &to, &to_left);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1) || in_left != 0)
    return std::nullopt;
  out.resize(out.size() - to_left);
  return out;
}

// Each line section's episode links (address and name), and every script line that starts with
// one of the program's script words: what must not differ between the shapes.
std::vector<std::string> content_of(const std::string& page) {
  std::vector<std::string> found;
  for (size_t at = page.find("id=\"line-"); at != std::string::npos;
       at = page.find("id=\"line-", at + 1)) {
    found.push_back("line " + cut(page, "", "\"", at + 9).value_or("?"));
    const size_t end = std::min(page.find("id=\"line-", at + 1), page.find("fed-down-info", at));
    for (size_t link = page.find("href='", at); link < end; link = page.find("href='", link + 1)) {
      found.push_back(cut(page, "href='", "'", link).value_or("?") + " " +
                      cut(page, "target=\"_self\">", "</a>", link).value_or("?"));
    }
  }
  for (const char* word : {"var GvodUrls", "var vid="}) {
    for (size_t at = page.find(word); at != std::string::npos; at = page.find(word, at + 1)) {
      std::string line = cut(page, "", "\n", at).value_or("?");
      if (line.ends_with("</script>"))
        line.resize(line.size() - 9);
      found.push_back(line);
    }
  }
  return found;
}

class LivePages : public SiteTest {
 protected:
  LivePages() { shape_ = demo_site::PageShape::live; }

  std::string resolve(const std::string& address) const {  // on a page at "/search.php"
    if (address.starts_with("http:"))
      return address;
    if (address.starts_with("//"))
      return "http:" + address;
    if (address.starts_with("/"))
      return origin() + address;
    return origin() + "/" + address;
  }
};

TEST_F(LivePages, FullSearchListsEveryTitleWithItsVariation) {
  const std::string page = search("");
  const std::vector<Card> cards = cards_of(page);
  const auto& titles = site_->catalogue().titles;
  ASSERT_EQ(cards.size(), titles.size());
  const std::string host = origin().substr(5);
  using Field = std::optional<std::string> Card::*;
  struct Variation {
    std::u8string name;
    Field field;
    std::optional<std::string> raw;
  };
  const Variation variations[] = {
      {u8"长安小食记", &Card::poster, "/posters/1002.png"},
      {u8"青石巷的春天", &Card::poster, std::nullopt},
      {u8"雾港迷踪", &Card::remarks, std::nullopt},
      {u8"山海有灵", &Card::poster, host + "/posters/1005.jpg"},
      {u8"冬至饺子宴", &Card::poster, "posters/1008.png"},
  };
  std::map<std::string, Card> expected;
  for (const demo_site::Title& title : titles) {
    expected[title.name] = {origin() + "/posters/" + title.poster, title.note,
                            "/vod/" + std::to_string(title.id) + ".html", title.name, title.cast};
  }
  for (const Variation& v : variations) expected[utf8(v.name)].*v.field = v.raw;
  expected[utf8(u8"Silver Harbor")].link = origin() + "/vod/1006.html";
  expected[utf8(u8"小狐狸阿橘")].name = utf8(u8"&#23567;狐狸阿&#x6A58;");
  expected[utf8(u8"白鹭洲探案")].cast = "";
  expected[utf8(u8"追风少年")].cast = utf8(u8"李小川") + "\xFF" + utf8(u8",陈晨,马骁");

  for (size_t i = 0; i < cards.size(); ++i) {
    SCOPED_TRACE(titles[i].name);
    const Card& want = expected[titles[i].name];
    EXPECT_EQ(cards[i].poster, want.poster);
    EXPECT_EQ(cards[i].remarks, want.remarks);
    EXPECT_EQ(cards[i].link, want.link);
    EXPECT_EQ(cards[i].name, want.name);
    EXPECT_EQ(cards[i].cast, want.cast);
    // Every address, however written, leads to the title's page and poster.
    const std::string title_page = fetch(resolve(cards[i].link).substr(origin().size()));
    EXPECT_NE(title_page.find("<h1"), std::string::npos);
    if (!cards[i].poster)
      continue;
    const std::string poster = resolve(*cards[i].poster);
    EXPECT_EQ(poster, origin() + "/posters/" + titles[i].poster);
    EXPECT_FALSE(fetch(poster.substr(origin().size())).empty());
  }
  // One stray byte in the head, one in the cast of 追风少年.
  EXPECT_EQ(stray_bytes(cut(page, "<head>", "</head>").value_or("")), 1u);
  EXPECT_EQ(stray_bytes(page), 2u);
  // The compact shape's joins are gone.
  EXPECT_TRUE(result_cards(page).empty());
  EXPECT_TRUE(poster_addresses(page).empty());
}

TEST_F(LivePages, VariationsFollowTheTitleOnAnyResultPage) {
  struct Case {
    std::u8string keyword;
    size_t cards, card;
    std::optional<std::string> poster;
  };
  const Case cases[] = {
      {u8"苏念", 3, 1, origin().substr(5) + "/posters/1005.jpg"},
      {u8"冬至", 1, 0, "posters/1008.png"},
      {u8"王秀兰", 2, 0, std::nullopt},
      {u8"王秀兰", 2, 1, "posters/1008.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(utf8(c.keyword));
    const std::vector<Card> cards = cards_of(search(utf8(c.keyword)));
    ASSERT_EQ(cards.size(), c.cards);
    EXPECT_EQ(cards[c.card].poster, c.poster);
  }
}

TEST_F(LivePages, LinesAreIndentedAndEndedInMoreThanOneWay) {
  for (const char* path :
       {"/", "/search.php?searchword=", "/vod/1002.html", "/play/1002-2-3.html", "/nothing-here"}) {
    SCOPED_TRACE(path);
    const auto reply = client_->Get(path);
    ASSERT_TRUE(reply);
    const std::string& page = reply->body;
    std::map<std::string, size_t> kinds;
    for (size_t at = 0; at < page.size();) {
      const size_t end = page.find('\n', at);
      ASSERT_NE(end, std::string::npos) << "the page ends in a line break";
      const std::string line = page.substr(at, end - at);
      at = end + 1;
      ++kinds[line.ends_with('\r') ? "CR LF" : "LF"];
      if (line.starts_with('\t'))
        ++kinds["tabs"];
      if (line.starts_with(' '))
        ++kinds["spaces"];
      // One tag or element per line, whatever surrounds an episode link.
      const size_t text = line.find_first_not_of(" \t");
      if (line.find("target=\"_self\"") != std::string::npos) {
        EXPECT_TRUE(line.substr(text).starts_with("<a ")) << line;
        EXPECT_TRUE(line.ends_with("</a>\r") || line.ends_with("</a>")) << line;
      }
    }
    EXPECT_EQ(kinds.size(), 4u) << "CR LF, LF, tabs and spaces";
    // Attributes are apart by single spaces.
    for (size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
      const std::string tag = cut(page, "<", ">", at).value_or("");
      EXPECT_EQ(tag.find_first_of("\t\r\n"), std::string::npos) << tag;
      EXPECT_EQ(tag.find("  "), std::string::npos) << tag;
    }
  }
}

TEST_F(LivePages, TitleAndPlayPagesCarryTheCompactContent) {
  auto compact = open_site();
  ASSERT_TRUE(compact);
  const int compact_port = compact->start("127.0.0.1", 0);
  ASSERT_GT(compact_port, 0);
  httplib::Client compact_client("127.0.0.1", compact_port);
  const std::string compact_origin = "http://127.0.0.1:" + std::to_string(compact_port);
  for (const demo_site::Title& title : site_->catalogue().titles) {
    const std::string id = std::to_string(title.id);
    const std::string last_line = std::to_string(title.lines.back());
    for (const std::string& path :
         {"/vod/" + id + ".html", "/play/" + id + "-" + last_line + "-1.html"}) {
      SCOPED_TRACE(path);
      const auto want = compact_client.Get(path.c_str());
      const auto live = client_->Get(path.c_str());
      ASSERT_TRUE(want && live);
      std::string body = live->body;
      if (live->get_header_value("Content-Type") != "text/html; charset=utf-8") {
        body = from_gbk(body).value_or("not GBK");
      }
      EXPECT_EQ(content_of(with_origin_named(body, origin())),
                content_of(with_origin_named(want->body, compact_origin)));
    }
  }
}

TEST_F(LivePages, GbkTitlePagesAreGbkAndDeclaredAsDescribed) {
  struct Case {
    uint32_t id;
    const char* content_type;
    const char* declaration;  // in the page
    std::string name;         // as the page's bytes hold it
  };
  const Case cases[] = {
      {1014, "text/html; charset=gbk", nullptr, "\xD2\xB9\xB0\xE0\xBC\xB1\xD5\xEF"},
      {1015, "text/html", "<meta charset=\"gbk\">", "\xB4\xF3\xC4\xAE\xB9\xC2\xD1\xCC"},
      {1013, "text/html; charset=utf-8", "charset=utf-8\">", utf8(u8"小城故事多")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const auto reply = client_->Get(("/vod/" + std::to_string(c.id) + ".html").c_str());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->get_header_value("Content-Type"), c.content_type);
    const std::string head = cut(reply->body, "<head>", "</head>").value_or("");
    EXPECT_EQ(head.find("charset") != std::string::npos, c.declaration != nullptr);
    if (c.declaration) {
      EXPECT_NE(head.find(c.declaration), std::string::npos);
    }
    EXPECT_NE(reply->body.find("<h1 class=\"fed-part-eone fed-font-xvi\">" + c.name + " "),
              std::string::npos);
    if (c.name == utf8(u8"小城故事多")) {
      EXPECT_EQ(stray_bytes(reply->body), 0u);
      continue;
    }
    EXPECT_GT(stray_bytes(reply->body), 0u) << "not UTF-8";
    const std::optional<std::string> text = from_gbk(reply->body);
    ASSERT_TRUE(text) << "every byte is GBK";
    EXPECT_NE(text->find(utf8(u8"zuidall直连")), std::string::npos);
  }
}

TEST_F(LivePages, OneTabBarNamesTheLinesAheadOfTheirSections) {
  const std::string left = utf8(u8"zuidall直连");
  const std::string right = "zuidam3u8";
  constexpr std::string_view kSelf = "target=\"_self\"";
  struct Case {
    uint32_t id;
    size_t times;  // each name is on the page
  };
  for (const Case c : {Case{1011, 2}, Case{1001, 1}, Case{1010, 1}}) {
    SCOPED_TRACE(c.id);
    const std::string page = fetch("/vod/" + std::to_string(c.id) + ".html");
    std::vector<size_t> lefts, rights;
    for (size_t at = page.find(left); at != std::string::npos; at = page.find(left, at + 1)) {
      lefts.push_back(at);
    }
    for (size_t at = page.find(right); at != std::string::npos; at = page.find(right, at + 1)) {
      rights.push_back(at);
    }
    ASSERT_EQ(lefts.size(), c.times);
    ASSERT_EQ(rights.size(), c.times);
    for (size_t k = 0; k < c.times; ++k) {
      ASSERT_LT(lefts[k], rights[k]);
      if (k > 0) {
        EXPECT_LT(rights[k - 1], lefts[k]);
      }
      // Only the last pair holds episode links: the direct line's.
      const bool last = k + 1 == c.times;
      const std::string_view between_names(page.data() + lefts[k], rights[k] - lefts[k]);
      size_t links = 0;
      for (size_t at = between_names.find(kSelf); at != std::string::npos;
           at = between_names.find(kSelf, at + 1)) {
        ++links;
      }
      EXPECT_EQ(links, last ? site_->catalogue().find(c.id)->episodes.size() : 0u);
      const std::string first = "href='/play/" + std::to_string(c.id) + "-2-1.html'";
      EXPECT_EQ(between_names.find(first) != std::string::npos, last);
    }
  }
}

}  // namespace
}  // namespace site_test
