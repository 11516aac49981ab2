// The list view's commands. Each takes the unit reference as its first argument (window id in
// the low word, unit id in the high word, type 0x20004); row and column numbers are 0-based.
// They may be called from any thread: the work is done on the window thread while the caller
// waits. On a unit that is not live (its window closed meanwhile) they do nothing and the
// result stays empty.
#pragma once

#include <cstdint>

#include "runtime/command.h"

namespace units {

// insert_row(unit, [position], [first cell text], [image], [state image], [indent],
// [item data]) -> int: the new row's index. Every argument after the unit may be left out:
// position out (or negative, or past the end) appends, text empty, image -1, no state image,
// indent 0, item data 0.
void insert_row(rt::Cell* result, int32_t count, const rt::Cell* args);
// set_cell_text(unit, row, [column = 0], [text = empty]) -> bool: false when the cell does not
// exist (the row is then left alone).
void set_cell_text(rt::Cell* result, int32_t count, const rt::Cell* args);
// cell_text(unit, row, [column = 0]) -> text: empty when the cell does not exist.
void cell_text(rt::Cell* result, int32_t count, const rt::Cell* args);
// delete_all_rows(unit) -> bool.
void delete_all_rows(rt::Cell* result, int32_t count, const rt::Cell* args);

// Their places in the extended unit library's command table.
enum ListViewCommand : int32_t {
  kCommandInsertRow,
  kCommandSetCellText,
  kCommandCellText,
  kCommandDeleteAllRows,
  kListViewCommandCount,
};

}  // namespace units
