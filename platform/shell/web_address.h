// The check and rewrite of the address ShellExecuteA is asked to open (the rules are listed in
// shell.h), apart from starting anything, so that it can be tested and fuzzed on its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shell {

// The address to hand to a player or xdg-open, or nothing when the rules refuse the text.
std::optional<std::string> web_address(std::string_view text);

}  // namespace shell
