// The list-view commands as the application calls them: through the cell gateway, with the
// unit reference first.
#pragma once

#include <cstdint>

#include "runtime/command.h"
#include "units/list_view_commands.h"

namespace app {

// An empty row appended after the last one; answers its index.
inline int32_t insert_row(const rt::Cell& list) { return rt::call_int(&units::insert_row, list); }
inline void set_cell_text(const rt::Cell& list, int32_t row, int32_t column, const char* text) {
  (void)rt::call(&units::set_cell_text, list, row, column, text);
}
inline rt::Text cell_text(const rt::Cell& list, int32_t row, int32_t column) {
  return rt::call_text(&units::cell_text, list, row, column);
}
inline void delete_all_rows(const rt::Cell& list) { (void)rt::call(&units::delete_all_rows, list); }

}  // namespace app
