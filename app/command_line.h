// The program's one option: `--site URL` names the film site for this run instead of the
// built-in base address.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

// A film site's base address as the program takes it: "http://" or "https://", a host of
// letters, digits, dots and hyphens, an optional port from 1 to 65535, and nothing after (no
// path, no trailing slash). The same rule as the build's FILM_SITE_BASE.
bool is_site_base(std::string_view text);

struct CommandLine {
  std::optional<std::string> site;  // --site URL
  // Set when the program should end at once with this status: 0 after --help, 2 after a bad
  // command line (`message` then says what is wrong).
  std::optional<int> exit_status;
  std::string message;
};

CommandLine parse_command_line(int argc, const char* const* argv);

// What --help prints.
std::string usage_text();

}  // namespace app
