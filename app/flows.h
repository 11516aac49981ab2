// The worker flows: search, episode list, details (poster and download addresses) and play.
// Each runs on a worker thread of its own and reaches the windows only through property get
// and set and the list-view commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/command.h"

namespace app {

// The film site's base address: scheme http or https, a host, an optional port, no trailing
// slash.
const char* site_base();
// For this run: from the command line, or the tests' own demo site.
void set_site_base(const std::string& base);
inline void override_site_base_for_tests(const std::string& base) {
  set_site_base(base);
}

// Worker routines, started with the start thread command.
int32_t search_worker(int32_t);
int32_t episode_list_worker(int32_t);
// On the window thread, once the start window is made: keeps its poster as the placeholder
// shown for a result whose card has none.
void keep_placeholder_poster();
// Takes the ticket of its click (next_details_ticket): only the newest click's worker writes.
int32_t details_worker(int32_t ticket);
// On the window thread, at each result click: a ticket newer than every earlier one, whose
// issue abandons the transfers of the details worker still running.
int32_t next_details_ticket();
int32_t play_worker(int32_t);

// url_encode (text, [bool keep_plain], [bool to_utf8]) -> text: every byte as "%" and two
// upper-case hexadecimal digits, except "-", ".", digits and letters with keep_plain.
enum class PlainBytes { kEncode, kKeep };
enum class QueryCharset { kLocal, kUtf8 };  // the text's own bytes, or those of its UTF-8 form
std::string url_encoded(std::string_view text, PlainBytes plain, QueryCharset charset);
void url_encode_command(rt::Cell* result, int32_t count, const rt::Cell* args);
rt::Text url_encode(const char* text, std::optional<bool> keep_plain = {},
                    std::optional<bool> to_utf8 = {});

// open_address (text) -> bool: asks the system shell to open the address with its default
// program; whether a program was started for it.
void open_address_command(rt::Cell* result, int32_t count, const rt::Cell* args);
bool open_address(const char* address);

}  // namespace app
