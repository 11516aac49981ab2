#include "platform/inet/header_block.h"

#include <algorithm>

#include "platform/ascii_case.h"

namespace inet {

int status_code(std::string_view status_line) {
  const size_t space = status_line.find(' ');
  if (space == std::string_view::npos)
    return 0;
  // Exactly three digits: "HTTP/1.1 30" or "HTTP/1.1 2000" names no status.
  const std::string_view rest = status_line.substr(space + 1);
  const auto digit = [&rest](size_t i) {
    return i < rest.size() && rest[i] >= '0' && rest[i] <= '9';
  };
  if (!digit(0) || !digit(1) || !digit(2) || digit(3))
    return 0;
  return (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
}

bool HeaderBlocks::take_line(std::string_view raw) {
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  // A bare CR inside a line is read as a space, as HTTP asks of a recipient: the line is read,
  // and kept, as whoever splits the block at its line ends will see it.
  std::string read(raw);
  std::replace(read.begin(), read.end(), '\r', ' ');
  const std::string_view line = read;

  if (line.starts_with("HTTP/")) {
    block_.clear();
    block_complete_ = false;
    location_seen_ = false;
    status_ = status_code(line);
  } else if (block_complete_) {
    return true;  // trailers after a chunked body: not part of the response's header block
  }
  if (line.empty()) {
    end_of_block();
    return true;
  }
  if (block_.size() + line.size() + 2 > kMaxHeaderBlock)
    return false;
  if (ascii::starts_with_folded(line, "location:")) {
    const std::string_view value = line.substr(9);
    location_seen_ = value.find_first_not_of(" \t") != std::string_view::npos;
  }
  block_.append(line);
  block_.append("\r\n");
  return true;
}

void HeaderBlocks::end_of_block() {
  block_complete_ = true;
  if (status_ < 200)
    return;  // informational: the real answer follows
  // libcurl goes on to the next address; that answer will be the final one.
  if (redirects_ == Redirects::kFollowed && status_ >= 300 && status_ < 400 && location_seen_)
    return;
  response_ = block_;
  has_response_ = true;
}

void HeaderBlocks::transfer_done() {
  if (!has_response_ && block_complete_ && status_ >= 200) {
    response_ = block_;
    has_response_ = true;
  }
}

}  // namespace inet
