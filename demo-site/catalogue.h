// The demo film site's catalogue: one title per line of a tab-separated file.
//
// Columns, in order (a line starting with "#" is a comment, blank lines are skipped):
//   id         1 to 9 digits, unique
//   category   shown on the title page (电影, 剧集, 动漫, 综艺 ...)
//   name       title name
//   note       episodes or quality, shown on the search card's poster
//   cast       comma-separated names
//   director   "-" when unknown
//   year       four digits
//   region, genre, score   shown as they are
//   poster     file name under posters/ (letters, digits, ".", "_", "-"; .jpg or .png)
//   episodes   a count N (1 to 999: episodes named 第01集 ...) or names separated by "|"
//              (a field of digits only is always a count)
//   lines      play lines the title has, numbers separated by "," (see play_lines())
//   downloads  "yes" lists a download address per episode, "no" an empty download list
//   synopsis   one paragraph
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace demo_site {

struct Title {
  uint32_t id = 0;
  std::string category;
  std::string name;
  std::string note;
  std::string cast;
  std::string director;
  std::string year;
  std::string region;
  std::string genre;
  std::string score;
  std::string poster;
  std::vector<std::string> episodes;
  std::vector<int> lines;  // ascending, no repeats
  bool downloads = false;
  std::string synopsis;
};

struct PlayLine {
  int number;
  std::string_view name;   // as the title page heads the line's episode list
  std::string_view label;  // the tab caption
};

// Every play line the site knows, in the order title pages show them.
std::span<const PlayLine> play_lines();
const PlayLine* find_play_line(int number);

struct Catalogue {
  std::vector<Title> titles;

  const Title* find(uint32_t id) const;
};

// Parses the catalogue text. On a malformed line answers nothing and sets `error` to the line
// number and what is wrong with it.
std::optional<Catalogue> parse_catalogue(std::string_view text, std::string& error);

}  // namespace demo_site
