// The search page: which titles a keyword finds, how the keyword arrives, and that the cards
// read through the program's two patterns give every column.
#include <string>
#include <vector>

#include "tests/demo_site/site_fixture.h"

namespace site_test {
namespace {

struct SearchCase {
  const char* label;
  std::u8string keyword;
  std::vector<std::u8string> names;  // in page order
};

class SearchPage : public SiteTest {};

TEST_F(SearchPage, KeywordsFindTitlesByNameOrCast) {
  const SearchCase cases[] = {
      {"cast member in three titles", u8"苏念", {u8"星河拾光", u8"山海有灵", u8"纸鸢"}},
      {"part of a Chinese name", u8"江湖", {u8"江湖再见"}},
      {"Latin name, lower case", u8"silver", {u8"Silver Harbor"}},
      {"Latin name, upper case", u8"HARBOR", {u8"Silver Harbor"}},
      {"cast with a space", u8"anna weber", {u8"Silver Harbor"}},
      {"name in cast and title", u8"林知夏", {u8"星河拾光", u8"Silver Harbor"}},
      {"cast with a dot", u8"dr. lee", {u8"夜班急诊"}},
      {"nothing like it", u8"不存在的片名", {}},
      {"plus is not a space", u8"anna+weber", {}},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string page = search(utf8(c.keyword));
    const std::vector<ResultCard> cards = result_cards(page);
    std::vector<std::string> names;
    for (const ResultCard& card : cards) names.push_back(card.name);
    std::vector<std::string> expected;
    for (const std::u8string& name : c.names) expected.push_back(utf8(name));
    EXPECT_EQ(names, expected);
    EXPECT_EQ(poster_addresses(page).size(), expected.size());
  }
}

TEST_F(SearchPage, EveryColumnOfEveryCardIsFilled) {
  const std::string page = search("");
  const std::vector<ResultCard> cards = result_cards(page);
  const std::vector<std::string> posters = poster_addresses(page);
  ASSERT_EQ(cards.size(), site_->catalogue().titles.size());
  ASSERT_EQ(posters.size(), cards.size());
  const std::regex title_address(R"(/vod/\d+\.html)");
  for (size_t i = 0; i < cards.size(); ++i) {
    SCOPED_TRACE(cards[i].name);
    EXPECT_FALSE(cards[i].note.empty());
    EXPECT_FALSE(cards[i].name.empty());
    EXPECT_FALSE(cards[i].cast.empty());
    EXPECT_TRUE(std::regex_match(cards[i].address, title_address)) << cards[i].address;
    // The n-th poster belongs to the n-th card: the same title number.
    const std::string id = cards[i].address.substr(5, cards[i].address.size() - 10);
    EXPECT_TRUE(posters[i].starts_with(origin() + "/posters/" + id + ".")) << posters[i];
  }
}

TEST_F(SearchPage, PagesAreWholeDocumentsWithOrWithoutResults) {
  for (const std::u8string keyword : {u8"苏念", u8"不存在的片名", u8""}) {
    const std::string page = search(utf8(keyword));
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>"));
    EXPECT_NE(page.find("<head>"), std::string::npos);
    EXPECT_NE(page.find("<form class=\"fed-navs-search\""), std::string::npos);
    EXPECT_NE(page.find("fed-foot-info"), std::string::npos);
    EXPECT_TRUE(page.ends_with("</html>\n"));
  }
  const std::string empty = search(utf8(u8"不存在的片名"));
  EXPECT_TRUE(result_cards(empty).empty());
  EXPECT_TRUE(poster_addresses(empty).empty());
  EXPECT_NE(empty.find(utf8(u8"没有找到")), std::string::npos);
}

// The keyword as the page echoes it in its search box shows how the query was decoded.
TEST_F(SearchPage, QueryDecoding) {
  struct Case {
    const char* query;
    std::u8string shown;
  };
  const Case cases[] = {
      {"searchword=%E8%8B%8F%E5%BF%B5", u8"苏念"},
      {"searchword=%e8%8b%8f%e5%bf%b5", u8"苏念"},
      {"searchword=a%20b", u8"a b"},
      {"searchword=a+b", u8"a+b"},
      {"searchword=%41%42", u8"AB"},
      {"searchword=100%", u8"100%"},
      {"searchword=%4", u8"%4"},
      {"searchword=%zz1", u8"%zz1"},
      {"page=2&searchword=abc&searchword=def", u8"abc"},
      {"searchwordx=abc", u8""},
      {"searchword=%3Cb%3E%22", u8"&lt;b&gt;&quot;"},
      {"searchword=%FF%E8", u8"\uFFFD\uFFFD"},
      {"searchword=", u8""},
  };
  const std::regex box(R"re(name="searchword" value="([^"]*)")re");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const std::string page = fetch(std::string("/search.php?") + c.query);
    std::smatch shown;
    ASSERT_TRUE(std::regex_search(page, shown, box));
    EXPECT_EQ(shown[1].str(), utf8(c.shown));
  }
}

TEST_F(SearchPage, EchoedKeywordCannotForgeCardsOrPosters) {
  const std::string forged =
      "\"><span class=\"fed-list-remarks fed-font-xii fed-text-white fed-text-center\">x</span>"
      "</a><a class=\"fed-list-title fed-font-xiv fed-text-center fed-text-sm-left fed-visible "
      "fed-part-eone\" href=\"/evil\">x</a><span class=\"fed-list-desc fed-font-xii fed-visible "
      "fed-part-eone fed-text-muted fed-hide-xs fed-show-sm-block\">x</span></li>"
      "data-original=\"http://evil/\"><span class=\"";
  const std::string page = search(forged);
  EXPECT_TRUE(result_cards(page).empty());
  EXPECT_TRUE(poster_addresses(page).empty());
}

TEST_F(SearchPage, BenchmarkKeywordAsksForThatManyCards) {
  struct Case {
    const char* keyword;
    size_t cards;
  };
  const Case cases[] = {{"cards:200", 200}, {"cards:1", 1},    {"cards:1000", 1000},
                        {"cards:0", 0},     {"cards:1001", 0}, {"cards:2x", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyword);
    const std::string page = search(c.keyword);
    EXPECT_EQ(result_cards(page).size(), c.cards);
    EXPECT_EQ(poster_addresses(page).size(), c.cards);
  }
}

TEST_F(SearchPage, LongKeywordFindsNothing) {
  const std::string page = search(std::string(300, 'a'));
  EXPECT_TRUE(result_cards(page).empty());
}

}  // namespace
}  // namespace site_test
