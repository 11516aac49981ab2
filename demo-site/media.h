// The sample media the demo site plays for every episode and answers for every download
// (data/media, made once by make_media.sh): MPEG-TS segments listed in ffmpeg's own playlist of
// them, whose durations the site's stream playlists repeat, and one MP4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace demo_site {

struct MediaSegment {
  std::string file;  // name under media/
  uint32_t milliseconds = 0;
};

inline constexpr size_t kMaxMediaSegments = 64;
inline constexpr uint32_t kMaxSegmentMilliseconds = 60000;

// Reads a segment playlist of the shape ffmpeg's HLS muxer writes: "#EXTM3U" first, each
// segment as "#EXTINF:<seconds>," followed by a line with its file name, "#EXT-X-ENDLIST" at the
// end; other tags are skipped. The list must end, so a file cut short is refused rather than
// played as a shorter stream. On a refusal answers nothing and sets `error` to what is wrong
// (with the line number where there is one).
std::optional<std::vector<MediaSegment>> parse_segment_list(std::string_view text,
                                                            std::string& error);

}  // namespace demo_site
