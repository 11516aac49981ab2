#include "units/list_view_commands.h"

#include "units/core_link.h"
#include "units/list_view.h"

namespace units {
namespace {

// Runs `body` with the live list view named by the unit reference, on the window thread. The
// unit is looked up there, in the same call that uses it, so a window closed meanwhile is
// noticed rather than written to.
template <class Body>
void with_list(const rt::Cell& unit_ref, Body body) {
  if (unit_ref.type != kKindListView)
    return;
  const CoreLink& link = core_link();
  link.on_window_thread([&] {
    auto* list = dynamic_cast<ListViewUnit*>(link.find_unit(unit_ref.low, unit_ref.high));
    if (list && list->widget())
      body(*list);
  });
}

}  // namespace

void insert_row(rt::Cell* result, int32_t count, const rt::Cell* args) {
  const rt::Args a(count, args);
  with_list(a.at(0), [&](ListViewUnit& list) {
    rt::set_int(result, list.insert_row(a.int_or(1, -1), a.text_view(2), a.int_or(3, -1),
                                        a.int_or(4, -1), a.int_or(5, 0), a.int_or(6, 0)));
  });
}

void set_cell_text(rt::Cell* result, int32_t count, const rt::Cell* args) {
  const rt::Args a(count, args);
  with_list(a.at(0), [&](ListViewUnit& list) {
    rt::set_bool(result, list.set_field(a.at(1).as_int(), a.int_or(2, 0), RowField::kText,
                                        a.text_view(3), 0));
  });
}

void cell_text(rt::Cell* result, int32_t count, const rt::Cell* args) {
  const rt::Args a(count, args);
  with_list(a.at(0), [&](ListViewUnit& list) {
    const std::string text = list.cell_text(a.at(1).as_int(), a.int_or(2, 0));
    rt::set_text(result, rt::make_text(text));
  });
}

void delete_all_rows(rt::Cell* result, int32_t count, const rt::Cell* args) {
  const rt::Args a(count, args);
  with_list(a.at(0), [&](ListViewUnit& list) { rt::set_bool(result, list.delete_all_rows()); });
}

}  // namespace units
