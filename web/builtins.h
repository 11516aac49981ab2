// The built-in commands: texts, byte sets and numbers, called through argument cells.
//
// Texts are code page 936 bytes: lengths and positions count bytes, positions are 1-based, a
// search that finds nothing answers -1. Searching, replacing, splitting, trimming and case
// commands step over double-byte characters as units; the cutting commands count plain bytes.
// Every command accepts every input; only read_bytes_value with a kind outside 1 to 10 is fatal.
#pragma once

#include "runtime/command.h"

namespace web::cmd {

// Each has the command signature (result, count, args) and reads its cells, runs the plain
// operation (text_ops.h, byte_ops.h) and packs the result; commands.h calls them through cells.
void text_len(rt::Cell* r, int32_t n, const rt::Cell* a);
void text_left(rt::Cell* r, int32_t n, const rt::Cell* a);
void text_right(rt::Cell* r, int32_t n, const rt::Cell* a);
void text_middle(rt::Cell* r, int32_t n, const rt::Cell* a);
void find_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void find_text_backward(rt::Cell* r, int32_t n, const rt::Cell* a);
void replace_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void split_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void trim_both_ends(rt::Cell* r, int32_t n, const rt::Cell* a);
void remove_spaces(rt::Cell* r, int32_t n, const rt::Cell* a);
void to_lower_case(rt::Cell* r, int32_t n, const rt::Cell* a);
void spaces_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void char_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void copy_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void compare_texts(rt::Cell* r, int32_t n, const rt::Cell* a);
void hex_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void to_integer(rt::Cell* r, int32_t n, const rt::Cell* a);
void to_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void to_bytes(rt::Cell* r, int32_t n, const rt::Cell* a);
void bytes_len(rt::Cell* r, int32_t n, const rt::Cell* a);
void bytes_left(rt::Cell* r, int32_t n, const rt::Cell* a);
void bytes_right(rt::Cell* r, int32_t n, const rt::Cell* a);
void bytes_middle(rt::Cell* r, int32_t n, const rt::Cell* a);
void zero_bytes(rt::Cell* r, int32_t n, const rt::Cell* a);
void read_bytes_value(rt::Cell* r, int32_t n, const rt::Cell* a);
void pointer_to_bytes(rt::Cell* r, int32_t n, const rt::Cell* a);
void write_memory(rt::Cell* r, int32_t n, const rt::Cell* a);
void bit_and(rt::Cell* r, int32_t n, const rt::Cell* a);
void bit_or(rt::Cell* r, int32_t n, const rt::Cell* a);
void absolute_value(rt::Cell* r, int32_t n, const rt::Cell* a);
void integer_part(rt::Cell* r, int32_t n, const rt::Cell* a);
void sine_of(rt::Cell* r, int32_t n, const rt::Cell* a);
void cosine_of(rt::Cell* r, int32_t n, const rt::Cell* a);

// Text between markers and code pages.
void text_between(rt::Cell* r, int32_t n, const rt::Cell* a);
void text_to_utf16(rt::Cell* r, int32_t n, const rt::Cell* a);
void utf16_to_text(rt::Cell* r, int32_t n, const rt::Cell* a);
void utf8_to_local(rt::Cell* r, int32_t n, const rt::Cell* a);
void local_to_utf8(rt::Cell* r, int32_t n, const rt::Cell* a);

}  // namespace web::cmd
