// Cutting the text that lies between two markers out of a page or a header block: the command
// over text_ops::between.
#include "web/builtins.h"
#include "web/codepage.h"
#include "web/text_ops.h"

namespace web::cmd {

// (text, left marker, right marker, [int start], [bool case_insensitive]) -> text
void text_between(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  const int32_t start = args.given(3) ? args.at(3).as_int() : 1;
  const auto rule = args.flag_exactly_one(4) ? text_ops::Case::kFoldAscii : text_ops::Case::kExact;
  const std::string cut = text_ops::between(text_argument(args, 0), text_argument(args, 1),
                                            text_argument(args, 2), start, rule);
  rt::set_text(r, rt::make_text(cut));
}

}  // namespace web::cmd
