// libFuzzer harness for the internet stand-in's handling of response header lines
// (platform/inet/header_block.cpp), fed line by line as libcurl hands them over. Whatever the
// server sends: a status code is the three digits after the first space, else 0; a final response
// is a block that starts with its status line of 200 or more, holds lines ending "\r\n" with no
// empty line and no line break inside, and stays within the cap; the cap stops the transfer instead
// of growing.
//
// Input: a byte choosing whether redirects are followed, then the header bytes, cut into lines
// after each "\n" as libcurl cuts them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/inet/header_block.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Three digits after the first space, and no fourth.
int expected_status(std::string_view line) {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos)
    return 0;
  const std::string_view rest = line.substr(space + 1);
  if (rest.size() < 3 || !is_digit(rest[0]) || !is_digit(rest[1]) || !is_digit(rest[2]) ||
      (rest.size() > 3 && is_digit(rest[3])))
    return 0;
  return (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
}

void check_block(const std::string& block) {
  FF_CHECK(block.size() <= inet::kMaxHeaderBlock);
  FF_CHECK(block.starts_with("HTTP/"));
  FF_CHECK(block.ends_with("\r\n"));
  size_t start = 0;
  while (start < block.size()) {
    const size_t end = block.find("\r\n", start);
    FF_CHECK(end != std::string::npos && end > start);
    const std::string_view line = std::string_view(block).substr(start, end - start);
    FF_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    if (start == 0)
      FF_CHECK(inet::status_code(line) >= 200);
    start = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t options = in.byte();
  const std::string_view rest = in.rest();
  inet::HeaderBlocks blocks(options & 1 ? inet::Redirects::kFollowed : inet::Redirects::kReturned);
  // A long line now and then: the cap is 100 KiB, far beyond a fuzzed input.
  const size_t widen = options & 2 ? 4096 : 1;
  bool stopped = false;
  for (size_t start = 0; start < rest.size() && !stopped;) {
    const size_t newline = rest.find('\n', start);
    const size_t end = newline == std::string_view::npos ? rest.size() : newline + 1;
    std::string line(rest.substr(start, end - start));
    if (widen > 1 && line.size() > 2 && line[0] == 'X')
      line.insert(1, widen * line.size(), 'x');
    std::string_view bare = line;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
    // Only status lines are read for a code.
    if (bare.starts_with("HTTP/"))
      FF_CHECK(inet::status_code(bare) == expected_status(bare));
    stopped = !blocks.take_line(line);
    start = end;
  }
  if (!stopped)
    blocks.transfer_done();
  if (const std::string* response = blocks.response())
    check_block(*response);
  return 0;
}
