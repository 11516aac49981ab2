// The `ListView` kind: a list of rows in report, list or icon view (QTableView for the report
// view, QListView for the others, both over one model of GBK rows).
//
// Events: 0 a row takes the focus (argument: the row), 1 a row is activated (the row), 2 a
// column header is clicked (the column), 3 hot tracking moves onto a row (the row), 4 a left
// click anywhere on the list, raised once the selection has followed the click, 5 a right click.
// A click on an empty area leaves no row selected. A double click raises no event of its own
// beyond the activation. Enter (or Return) on the current row does what a click on it does: it
// raises 4, after the activation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/kinds.h"
#include "units/unit.h"

class QAbstractItemView;
class QModelIndex;

namespace units {

class ListModel;

// What the row routines behind set_cell_text and cell_text reach.
enum class RowField { kText, kImage, kStateImage, kIndent, kData };

class ListViewUnit final : public Unit {
 public:
  ListViewUnit(const rt::UnitCreateParams& params, PropertyValues values);

  static rt::UnitObject* create(const rt::UnitCreateParams& params);

  int32_t row_count() const;
  // The first selected row, -1 when none.
  int32_t current_row() const;

  // Inserts a row at `position` (negative or past the end: after the last row; a sorted list
  // puts it in order instead) and answers its index. `image` below -1 counts as -1, a negative
  // `state_image` as none, a negative `indent` as 0.
  int32_t insert_row(int32_t position, std::string_view first_cell, int32_t image,
                     int32_t state_image, int32_t indent, int32_t data);
  // Writes one field of a row; false when the row, or for a text the column, does not exist.
  bool set_field(int32_t row, int32_t column, RowField field, std::string_view text, int32_t value);
  // A cell's text; empty when the row or the column does not exist.
  std::string cell_text(int32_t row, int32_t column) const;
  // A row's image, state image number (-1 none), indent or item data; 0 for a missing row.
  int32_t row_value(int32_t row, RowField field) const;
  bool delete_all_rows();

  // From the widget.
  void released(int button, const QModelIndex& index);
  // Enter on the list's current row.
  void entered();
  void hovered(int row);
  bool full_row() const;

 protected:
  int32_t apply(int32_t index, const PropertyValue& value) override;
  void refresh(int32_t index) override;

 private:
  QAbstractItemView* view() const;
  ListModel* model() const;
  bool report() const;
  bool icon_view() const;
  void build(const rt::UnitCreateParams& params);
  void apply_look();
  void apply_header();
  void select_row(int32_t row);
  void connect_events();
};

// The kind descriptor's interface lookup.
void* list_view_interface(int32_t number);

}  // namespace units
