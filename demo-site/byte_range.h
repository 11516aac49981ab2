// What part of a file a request's Range header asks for. Players seek in a download by asking
// for the bytes from an offset; the site answers one byte range. A header asking for several
// ranges, in another unit or not readable is ignored and the whole file goes out, which HTTP
// allows; a range that starts past the end cannot be answered.
#pragma once

#include <cstdint>
#include <string_view>

namespace demo_site {

enum class RangeAnswer {
  whole,           // no Range header
  part,            // 206 with `first` and `length`
  past_end,        // 416: the range starts at or past the end (or asks for no bytes at all)
  several_ranges,  // ignored: whole file
  other_unit,      // ignored: whole file
  malformed,       // ignored: whole file
};

struct ByteRange {
  RangeAnswer answer = RangeAnswer::whole;
  uint64_t first = 0;   // for `part`
  uint64_t length = 0;  // for `part`, at least 1
};

// `header` is the Range header's value (empty when there is none); `size` the file's length.
// "bytes=a-b" is cut to the file's end, "bytes=a-" runs to it, "bytes=-n" is the last n bytes.
ByteRange byte_range_for(std::string_view header, uint64_t size);

}  // namespace demo_site
