// The list-view commands as the application calls them: through the cell gateway, with the
// unit reference first. They are commands of the extended user-interface library, found in the
// runtime's table of the libraries the program information lists, by their places in the
// library's command table.
#pragma once

#include <cstdint>

#include "runtime/command.h"
#include "runtime/runtime.h"

namespace app {

// The extended user-interface library: second in the program information's list.
inline constexpr int32_t kExtendedUnitLibrary = 1;
enum ListCommand : int32_t { kInsertRow, kSetCellText, kCellText, kDeleteAllRows };

inline rt::CommandFn list_command(ListCommand command) {
  return rt::unit_library(kExtendedUnitLibrary)->commands[command];
}

// An empty row appended after the last one; answers its index.
inline int32_t insert_row(const rt::Cell& list) {
  return rt::call_int(list_command(kInsertRow), list);
}
inline void set_cell_text(const rt::Cell& list, int32_t row, int32_t column, const char* text) {
  (void)rt::call(list_command(kSetCellText), list, row, column, text);
}
inline rt::Text cell_text(const rt::Cell& list, int32_t row, int32_t column) {
  return rt::call_text(list_command(kCellText), list, row, column);
}
inline void delete_all_rows(const rt::Cell& list) {
  (void)rt::call(list_command(kDeleteAllRows), list);
}

}  // namespace app
