// The media type a stream address names through the extension of its path, for finding the
// desktop's player for it. Web servers often answer playlists and videos as
// application/octet-stream, so the address is all there is to go on.
#pragma once

#include <span>
#include <string_view>

namespace shell {

// The media types to look a handler up for, most specific first; empty when the last segment
// of the path has no extension we know. Letter case is ignored; the query and fragment play no
// part. `address` is an absolute http(s) address as web_address writes it.
std::span<const char* const> media_types_for(std::string_view address);

}  // namespace shell
