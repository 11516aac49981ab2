#include "platform/shell/media_type.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "platform/ascii_case.h"

namespace shell {
namespace {

struct Extension {
  std::string_view name;  // lower case
  std::array<const char*, 2> types;
};

// Names as the shared MIME database writes them, since desktop entries and mimeapps.list use
// those. HLS playlists have two names in common use; players register either.
constexpr Extension kExtensions[] = {
    {"m3u8", {"application/vnd.apple.mpegurl", "audio/x-mpegurl"}},
    {"m3u", {"audio/x-mpegurl", nullptr}},
    {"mp4", {"video/mp4", nullptr}},
    {"m4v", {"video/mp4", nullptr}},
    {"mkv", {"video/x-matroska", nullptr}},
    {"webm", {"video/webm", nullptr}},
    {"ts", {"video/mp2t", nullptr}},  // not the TypeScript or Qt translation file
    {"flv", {"video/x-flv", nullptr}},
    {"avi", {"video/x-msvideo", nullptr}},
    {"mov", {"video/quicktime", nullptr}},
    {"wmv", {"video/x-ms-wmv", nullptr}},
    {"rmvb", {"application/vnd.rn-realmedia", nullptr}},
    {"rm", {"application/vnd.rn-realmedia", nullptr}},
    {"mpg", {"video/mpeg", nullptr}},
    {"mpeg", {"video/mpeg", nullptr}},
    {"ogv", {"video/ogg", nullptr}},
    {"mp3", {"audio/mpeg", nullptr}},
    {"m4a", {"audio/mp4", nullptr}},
    {"aac", {"audio/aac", nullptr}},
};

// The last segment of the address's path; empty when it has no path.
std::string_view last_segment(std::string_view address) {
  const size_t scheme_end = address.find("://");
  if (scheme_end == std::string_view::npos)
    return {};
  const size_t path = address.find_first_of("/?#", scheme_end + 3);
  if (path == std::string_view::npos || address[path] != '/')
    return {};
  const size_t path_end = std::min(address.find_first_of("?#", path), address.size());
  const std::string_view whole = address.substr(path, path_end - path);
  return whole.substr(whole.rfind('/') + 1);
}

}  // namespace

std::span<const char* const> media_types_for(std::string_view address) {
  const std::string_view segment = last_segment(address);
  const size_t dot = segment.rfind('.');
  if (dot == std::string_view::npos)
    return {};
  const std::string_view extension = segment.substr(dot + 1);
  for (const Extension& known : kExtensions) {
    if (!ascii::equals_folded(extension, known.name))
      continue;
    return {known.types.data(), known.types[1] ? 2u : 1u};
  }
  return {};
}

}  // namespace shell
