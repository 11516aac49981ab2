// The site's patterns over cards and sections in the shapes templates emit: each card gives its
// own poster, note, address, name and cast, or nothing where it has none, and no part of one
// card is ever taken for another's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/site.h"
#include "bridges/regex_object.h"

namespace {

using namespace app::site;

struct Card {
  std::string poster, note, address, name, cast;
  bool operator==(const Card&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Card& c) {
  return out << "{" << c.poster << " | " << c.note << " | " << c.address << " | " << c.name << " | "
             << c.cast << "}";
}

std::vector<Card> cards_of(const std::string& page) {
  bridges::RegexObject regex;
  EXPECT_TRUE(regex.create(kCardPattern, page.c_str()));
  std::vector<Card> cards;
  for (int32_t i = 1; i <= regex.match_count(); ++i) {
    const auto group = [&](int k) { return std::string(regex.submatch_text(i, k).view()); };
    cards.push_back({group(kCardPoster), group(kCardNote), group(kCardAddress), group(kCardName),
                     group(kCardCast)});
  }
  return cards;
}

// A card as the template writes it; `gap` goes between every two tags.
std::string card(const std::string& gap, const char* poster, const char* note, const char* name,
                 const char* cast) {
  std::string out = "<li class=\"fed-list-item fed-padding\">" + gap +
                    "<a class=\"fed-list-pics fed-lazy\" href=\"/vod/1.html\"";
  if (poster)
    out += std::string(" data-original=\"") + poster + "\"";
  out += ">" + gap + "<span class=\"fed-list-play fed-hide-xs\"></span>" + gap;
  if (note) {
    out += std::string(
               "<span class=\"fed-list-remarks fed-font-xii fed-text-white fed-text-center\">") +
           note + "</span>" + gap;
  }
  out += "</a>" + gap +
         "<a class=\"fed-list-title fed-font-xiv fed-text-center fed-text-sm-left fed-visible "
         "fed-part-eone\" href=\"/vod/" +
         std::string(name) + ".html\">" + name + "</a>" + gap +
         "<span class=\"fed-list-desc fed-font-xii fed-visible fed-part-eone fed-text-muted "
         "fed-hide-xs fed-show-sm-block\">" +
         cast + "</span>" + gap + "</li>";
  return out;
}

TEST(SitePatterns, CardsInEveryShape) {
  for (const std::string gap : {"", "\n    ", "\r\n\t\t", " "}) {
    SCOPED_TRACE(testing::PrintToString(gap));
    const std::string page = "<ul>" + gap + card(gap, "/p/a.jpg", "HD", "a", "cast a") + gap +
                             card(gap, nullptr, "TC", "b", "cast b") + gap +
                             card(gap, "//img/c.jpg", nullptr, "c", "") + gap +
                             card(gap, "d.jpg", "12", "d", "cast d") + gap + "</ul>";
    EXPECT_EQ(cards_of(page), (std::vector<Card>{{"/p/a.jpg", "HD", "/vod/a.html", "a", "cast a"},
                                                 {"", "TC", "/vod/b.html", "b", "cast b"},
                                                 {"//img/c.jpg", "", "/vod/c.html", "c", ""},
                                                 {"d.jpg", "12", "/vod/d.html", "d", "cast d"}}));
  }
}

TEST(SitePatterns, NothingOutsideACardIsTakenForIt) {
  // A banner picture before the list, and a footer picture after the last card, both lazily
  // loaded like posters: neither belongs to the cards without one.
  const std::string page =
      "<div class=\"banner\"><a data-original=\"/banner.jpg\"><span class=\"x\"></span></a></div>"
      "<ul>" +
      card("", nullptr, "HD", "a", "cast a") + card("", nullptr, "TC", "b", "cast b") +
      "</ul><div><img class=\"lazy\" data-original=\"/footer.jpg\"><span "
      "class=\"fed-text-white fed-text-center\">footer</span></div>";
  EXPECT_EQ(cards_of(page), (std::vector<Card>{{"", "HD", "/vod/a.html", "a", "cast a"},
                                               {"", "TC", "/vod/b.html", "b", "cast b"}}));
}

TEST(SitePatterns, LetterCaseOfTheMarkupDoesNotMatter) {
  std::string upper = card("", "/p.jpg", "HD", "a", "c");
  for (size_t at = upper.find("fed-"); at != std::string::npos; at = upper.find("fed-", at + 1)) {
    upper.replace(at, 4, "FED-");
  }
  EXPECT_EQ(cards_of(upper), (std::vector<Card>{{"/p.jpg", "HD", "/vod/a.html", "a", "c"}}));
}

TEST(SitePatterns, EpisodeLinksInEveryShape) {
  const struct {
    const char* section;
    std::vector<std::pair<std::string, std::string>> links;
  } cases[] = {
      {"<li><a class='x' href='/play/1-2-1.html' target=\"_self\">第01集</a></li>"
       "<li><a class='x' href='/play/1-2-2.html' target=\"_self\">第02集</a></li>",
       {{"/play/1-2-1.html", "第01集"}, {"/play/1-2-2.html", "第02集"}}},
      {"\r\n\t<li>\r\n\t\t<a class='x'  href = '/play/1-2-1.html'\n target=\"_self\" "
       ">\n第01集\n</a>",
       {{"/play/1-2-1.html", "\n第01集\n"}}},
      {"<a class='x' href='/play/1.html'>no target</a>", {}},
  };
  for (const auto& c : cases) {
    bridges::RegexObject regex;
    ASSERT_TRUE(regex.create(kEpisodePattern, c.section));
    std::vector<std::pair<std::string, std::string>> links;
    for (int32_t i = 1; i <= regex.match_count(); ++i) {
      links.emplace_back(regex.submatch_text(i, kEpisodeAddress).view(),
                         regex.submatch_text(i, kEpisodeName).view());
    }
    EXPECT_EQ(links, c.links) << c.section;
  }
}

}  // namespace
