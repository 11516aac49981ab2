#include "demo-site/media.h"

#include <algorithm>
#include <charconv>

namespace demo_site {
namespace {

constexpr std::string_view kDurationTag = "#EXTINF:";

bool is_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "<seconds>[.<fraction>]," and an optional title, rounded to milliseconds.
std::optional<uint32_t> parse_duration(std::string_view text) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos)
    return std::nullopt;
  std::string_view number = text.substr(0, comma);
  std::string_view fraction;
  if (const size_t dot = number.find('.'); dot != std::string_view::npos) {
    fraction = number.substr(dot + 1);
    number = number.substr(0, dot);
    if (!is_digits(fraction) || fraction.size() > 9)
      return std::nullopt;
  }
  if (!is_digits(number) || number.size() > 5)
    return std::nullopt;
  uint32_t seconds = 0;
  std::from_chars(number.data(), number.data() + number.size(), seconds);
  uint32_t milliseconds = 0;
  for (size_t i = 0; i < 3; ++i) {
    milliseconds = milliseconds * 10 + (i < fraction.size() ? uint32_t(fraction[i] - '0') : 0);
  }
  if (fraction.size() > 3 && fraction[3] >= '5')
    ++milliseconds;
  const uint64_t total = uint64_t{seconds} * 1000 + milliseconds;
  if (total == 0 || total > kMaxSegmentMilliseconds)
    return std::nullopt;
  return static_cast<uint32_t>(total);
}

// Names stay inside the media folder: no separators, no leading dot.
bool is_segment_file_name(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '.')
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

}  // namespace

std::optional<std::vector<MediaSegment>> parse_segment_list(std::string_view text,
                                                            std::string& error) {
  std::vector<MediaSegment> segments;
  uint32_t pending = 0;  // a duration read whose file name is still to come (never 0)
  bool header_seen = false;
  size_t line_number = 0;
  const auto refuse = [&](std::string_view problem) {
    error = "line " + std::to_string(line_number) + ": " + std::string(problem);
    return std::nullopt;
  };
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (!header_seen) {
      if (line != "#EXTM3U")
        return refuse("not an HLS playlist");
      header_seen = true;
      continue;
    }
    if (line.empty())
      continue;
    if (line == "#EXT-X-ENDLIST") {
      if (pending)
        return refuse("list ends after a duration without its file");
      if (segments.empty())
        return refuse("no segments");
      return segments;
    }
    if (line.starts_with(kDurationTag)) {
      if (pending)
        return refuse("two durations for one file");
      const std::optional<uint32_t> duration = parse_duration(line.substr(kDurationTag.size()));
      if (!duration)
        return refuse("bad duration");
      pending = *duration;
      continue;
    }
    if (line.front() == '#')
      continue;
    if (!pending)
      return refuse("file without a duration");
    if (!is_segment_file_name(line))
      return refuse("bad segment file name");
    if (segments.size() >= kMaxMediaSegments)
      return refuse("too many segments");
    segments.push_back({std::string(line), pending});
    pending = 0;
  }
  error = header_seen ? "no #EXT-X-ENDLIST: the list is cut short" : "empty";
  return std::nullopt;
}

}  // namespace demo_site
