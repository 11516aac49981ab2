#include "demo-site/catalogue.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace demo_site {
namespace {

constexpr size_t kColumnCount = 15;
constexpr size_t kMaxEpisodes = 999;
constexpr size_t kMaxTitles = 10000;

constexpr std::array<PlayLine, 4> kPlayLines = {{
    {1, "lzyun云播", "云播线路"},
    {2, "zuidall直连", "直连线路"},
    {3, "zuidam3u8", "m3u8线路"},
    {4, "kbzy备用", "备用线路"},
}};

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (true) {
    const size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos)
      return parts;
    text = text.substr(at + 1);
  }
}

// Whole text as a number in [low, high]; digits only.
std::optional<uint32_t> parse_number(std::string_view text, uint32_t low, uint32_t high) {
  if (text.empty() || text.size() > 9)
    return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size())
    return std::nullopt;
  if (value < low || value > high)
    return std::nullopt;
  return value;
}

bool is_safe_file_name(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '.')
    return false;
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
  return plain && (name.ends_with(".jpg") || name.ends_with(".png"));
}

std::string numbered_episode(size_t n, size_t count) {
  const int width = count >= 100 ? 3 : 2;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "第%0*zu集", width, n);
  return buffer;
}

// Fills `title` from the columns of one line; answers what is wrong, or the empty text.
std::string read_title(const std::vector<std::string_view>& columns, Title& title) {
  if (columns.size() != kColumnCount) {
    return "expected " + std::to_string(kColumnCount) + " columns, found " +
           std::to_string(columns.size());
  }
  const auto id = parse_number(columns[0], 1, 999999999);
  if (!id)
    return "bad id";
  title.id = *id;
  title.category = columns[1];
  title.name = columns[2];
  title.note = columns[3];
  title.cast = columns[4];
  title.director = columns[5];
  title.year = columns[6];
  title.region = columns[7];
  title.genre = columns[8];
  title.score = columns[9];
  if (title.name.empty())
    return "empty name";
  if (!parse_number(title.year, 1888, 2999))
    return "bad year";
  if (!is_safe_file_name(columns[10]))
    return "bad poster file name";
  title.poster = columns[10];

  const std::string_view episodes = columns[11];
  const bool is_count =
      !episodes.empty() &&
      std::all_of(episodes.begin(), episodes.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (is_count) {
    const auto count = parse_number(episodes, 1, kMaxEpisodes);
    if (!count)
      return "bad episode count";
    for (size_t n = 1; n <= *count; ++n) title.episodes.push_back(numbered_episode(n, *count));
  } else {
    for (const std::string_view name : split(episodes, '|')) {
      if (name.empty())
        return "empty episode name";
      title.episodes.emplace_back(name);
    }
    if (title.episodes.size() > kMaxEpisodes)
      return "too many episodes";
  }

  for (const std::string_view number : split(columns[12], ',')) {
    const auto line = parse_number(number, 1, static_cast<uint32_t>(kPlayLines.size()));
    if (!line)
      return "bad play line";
    title.lines.push_back(static_cast<int>(*line));
  }
  std::sort(title.lines.begin(), title.lines.end());
  if (std::adjacent_find(title.lines.begin(), title.lines.end()) != title.lines.end()) {
    return "repeated play line";
  }

  if (columns[13] == "yes") {
    title.downloads = true;
  } else if (columns[13] != "no") {
    return "downloads must be yes or no";
  }
  title.synopsis = columns[14];
  return {};
}

}  // namespace

std::span<const PlayLine> play_lines() {
  return kPlayLines;
}

const PlayLine* find_play_line(int number) {
  for (const PlayLine& line : kPlayLines) {
    if (line.number == number)
      return &line;
  }
  return nullptr;
}

const Title* Catalogue::find(uint32_t id) const {
  for (const Title& title : titles) {
    if (title.id == id)
      return &title;
  }
  return nullptr;
}

std::optional<Catalogue> parse_catalogue(std::string_view text, std::string& error) {
  Catalogue catalogue;
  size_t line_number = 0;
  for (std::string_view line : split(text, '\n')) {
    ++line_number;
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (line.empty() || line.front() == '#')
      continue;
    Title title;
    std::string problem = read_title(split(line, '\t'), title);
    if (problem.empty() && catalogue.find(title.id))
      problem = "repeated id";
    if (problem.empty() && catalogue.titles.size() >= kMaxTitles)
      problem = "too many titles";
    if (!problem.empty()) {
      error = "line " + std::to_string(line_number) + ": " + problem;
      return std::nullopt;
    }
    catalogue.titles.push_back(std::move(title));
  }
  if (catalogue.titles.empty()) {
    error = "no titles";
    return std::nullopt;
  }
  return catalogue;
}

}  // namespace demo_site
