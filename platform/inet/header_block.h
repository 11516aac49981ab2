// The response header blocks of one exchange, line by line as libcurl hands them over: which
// block is the final response's (interim 1xx answers and followed redirects are passed over),
// and a cap on a block's size. Pure, so that it can be tested and fuzzed without a server.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace inet {

// A response header block larger than this is refused (libcurl has its own, larger, limit).
inline constexpr size_t kMaxHeaderBlock = 100 * 1024;

// The status code of "HTTP/x.y NNN reason"; 0 when there is none.
int status_code(std::string_view status_line);

enum class Redirects { kFollowed, kReturned };

class HeaderBlocks {
 public:
  explicit HeaderBlocks(Redirects redirects) : redirects_(redirects) {}

  // Takes one header line, its line end included or not. False when the block would pass
  // kMaxHeaderBlock: the transfer must stop.
  bool take_line(std::string_view line);
  // The transfer ended without a following block: a complete final-looking block is the answer
  // even when libcurl meant to follow it.
  void transfer_done();

  // The final response's status line and header lines, each ending "\r\n"; null until known.
  const std::string* response() const { return has_response_ ? &response_ : nullptr; }
  int status() const { return status_; }

 private:
  void end_of_block();

  Redirects redirects_;
  std::string block_;  // the block being received
  int status_ = 0;
  bool block_complete_ = false;
  bool location_seen_ = false;
  std::string response_;
  bool has_response_ = false;
};

}  // namespace inet
