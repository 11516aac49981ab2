// Cutting the text that lies between two markers out of a page or a header block.
//
// Built on the text commands (searching, replacing and cutting count bytes and step over
// double-byte characters), called through argument cells like any other caller's.
#include "web/builtins.h"
#include "web/codepage.h"

namespace web::cmd {
namespace {

// A marker may name a double quote by this token.
constexpr const char* kQuoteToken = "#引号";

rt::Text with_quotes(const char* marker) {
  return rt::call_text(&replace_text, marker, kQuoteToken, "\"", rt::omitted, rt::omitted,
                       /*case_sensitive=*/true);
}

}  // namespace

// (text, left marker, right marker, [int start], [bool case_insensitive]) -> text
void text_between(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const char* text = text_argument(args, 0);
  const rt::Text left = with_quotes(text_argument(args, 1));
  const rt::Text right = with_quotes(text_argument(args, 2));
  const rt::Cell& start = args.at(3);
  const rt::Cell& case_insensitive = args.at(4);

  int32_t first = rt::call_int(&find_text, text, left.c_str(), start, case_insensitive);
  if (first != -1)
    first += rt::call_int(&text_len, left.c_str());
  // The right marker is sought from the first byte after the left one, so one inside the left
  // marker's match does not count. An empty right marker is found at 1, before that byte, and
  // the cut of a negative length is empty.
  const int32_t last = rt::call_int(&find_text, text, right.c_str(), first, case_insensitive);
  if (first == -1 || last == -1) {
    rt::set_text(r, nullptr);
    return;
  }
  rt::set_text(r, rt::call_text(&text_middle, text, first, last - first).release());
}

}  // namespace web::cmd
