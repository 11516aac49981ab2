// The catalogue file's parser: malformed lines are named, every prefix of the real file is
// handled, episodes and lines come out as the site shows them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "demo-site/catalogue.h"
#include "demo-site/film_site.h"

namespace {

std::string utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}

std::string line_with(size_t column, std::string_view value) {
  std::vector<std::string> columns = {"7", "movie", "Name",  "HD", "A,B", "-",   "2020", "R",
                                      "G", "7.0",   "7.jpg", "3",  "2,3", "yes", "Story"};
  columns[column] = value;
  std::string line;
  for (size_t i = 0; i < columns.size(); ++i) line += (i ? "\t" : "") + columns[i];
  return line;
}

TEST(Catalogue, MalformedLinesAreNamedWithTheirNumber) {
  struct Case {
    std::string text;
    const char* problem;
  };
  const Case cases[] = {
      {"# only a comment\n", "no titles"},
      {"1\tmovie\n", "line 1: expected 15 columns"},
      {"#\n\n" + line_with(0, "x1"), "line 3: bad id"},
      {line_with(0, "0"), "line 1: bad id"},
      {line_with(0, "1234567890"), "line 1: bad id"},
      {line_with(2, ""), "empty name"},
      {line_with(6, "20x0"), "bad year"},
      {line_with(10, "../x.jpg"), "bad poster"},
      {line_with(10, ".x.jpg"), "bad poster"},
      {line_with(10, "x.gif"), "bad poster"},
      {line_with(11, "0"), "bad episode count"},
      {line_with(11, "1000"), "bad episode count"},
      {line_with(11, ""), "empty episode name"},
      {line_with(11, "a||b"), "empty episode name"},
      {line_with(12, "5"), "bad play line"},
      {line_with(12, ""), "bad play line"},
      {line_with(12, "2,2"), "repeated play line"},
      {line_with(13, "maybe"), "downloads"},
      {line_with(0, "7") + "\n" + line_with(0, "7"), "line 2: repeated id"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(demo_site::parse_catalogue(c.text, error));
    EXPECT_NE(error.find(c.problem), std::string::npos) << error;
  }
}

TEST(Catalogue, EpisodeCountsAndNamesAndLines) {
  struct Case {
    std::string episodes, lines;
    size_t count;
    std::u8string first, last;
    std::vector<int> sorted_lines;
  };
  const Case cases[] = {
      {"1", "2,3", 1, u8"第01集", u8"第01集", {2, 3}},
      {"99", "3,2", 99, u8"第01集", u8"第99集", {2, 3}},
      {"100", "4,1,2", 100, u8"第001集", u8"第100集", {1, 2, 4}},
      {"999", "1", 999, u8"第001集", u8"第999集", {1}},
      {"a|b|c", "2", 3, u8"a", u8"c", {2}},
      {"HD", "2", 1, u8"HD", u8"HD", {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.episodes);
    std::string error;
    std::string text = line_with(11, c.episodes);
    text.replace(text.find("\t2,3\t"), 5, "\t" + c.lines + "\t");
    const auto catalogue = demo_site::parse_catalogue(text, error);
    ASSERT_TRUE(catalogue) << error;
    const demo_site::Title& title = catalogue->titles.at(0);
    ASSERT_EQ(title.episodes.size(), c.count);
    EXPECT_EQ(title.episodes.front(), utf8(c.first));
    if (c.count > 2) {
      EXPECT_EQ(title.episodes.back(), utf8(c.last));
    }
    EXPECT_EQ(title.lines, c.sorted_lines);
  }
}

TEST(Catalogue, EveryPrefixOfTheBundledFileParsesOrIsRefused) {
  std::ifstream in(demo_site::default_data_dir() / "catalogue.tsv", std::ios::binary);
  std::stringstream read;
  read << in.rdbuf();
  const std::string text = read.str();
  std::string error;
  const auto whole = demo_site::parse_catalogue(text, error);
  ASSERT_TRUE(whole) << error;
  EXPECT_GE(whole->titles.size(), 12u);
  // The first four lines (two comments, two titles) cut at every byte.
  size_t end = 0;
  for (int i = 0; i < 4; ++i) end = text.find('\n', end) + 1;
  for (size_t length = 0; length <= end; ++length) {
    const auto part = demo_site::parse_catalogue(std::string_view(text).substr(0, length), error);
    if (!part)
      continue;
    EXPECT_LE(part->titles.size(), 2u);
    for (const demo_site::Title& title : part->titles) {
      EXPECT_EQ(title.name, whole->find(title.id)->name);
    }
  }
}

}  // namespace
