#include "units/list_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <algorithm>
#include <type_traits>

#include "units/kinds.h"
#include "units/qt_support.h"

namespace units {

namespace lv = list_property;

namespace {

constexpr int32_t kEventFocused = 0;
constexpr int32_t kEventActivated = 1;
constexpr int32_t kEventHeaderClicked = 2;
constexpr int32_t kEventHot = 3;
constexpr int32_t kEventClicked = 4;
constexpr int32_t kEventRightClicked = 5;

constexpr int kIndentPixels = 16;
constexpr int32_t kStateChecked = 2;    // state image 1 (checked), stored + 1
constexpr int32_t kStateUnchecked = 1;  // state image 0

}  // namespace

// The rows and columns of a list. Cells hold GBK bytes exactly as the program wrote them.
class ListModel final : public QAbstractTableModel {
 public:
  explicit ListModel(QObject* parent) : QAbstractTableModel(parent) {}

  bool report = true;
  bool check_boxes = false;
  bool edit_labels = false;
  bool hot_tracking = false;
  bool underline_cold = false;
  bool underline_hot = false;
  int hot_row = -1;
  int32_t text_background = kColourNone;

  const std::vector<ListRow>& rows() const { return rows_; }
  const std::vector<ListColumn>& columns() const { return columns_; }
  int32_t row_count() const { return static_cast<int32_t>(rows_.size()); }

  bool has_row(int32_t row) const { return row >= 0 && row < row_count(); }
  // Column 0 is the row's own text and always there; the others exist as columns do.
  bool has_cell(int32_t row, int32_t column) const {
    return has_row(row) && column >= 0 &&
           (column == 0 || static_cast<size_t>(column) < columns_.size());
  }

  std::string_view cell(int32_t row, int32_t column) const {
    if (!has_cell(row, column))
      return {};
    const auto& cells = rows_[static_cast<size_t>(row)].cells;
    return static_cast<size_t>(column) < cells.size()
               ? std::string_view(cells[static_cast<size_t>(column)])
               : std::string_view();
  }

  ListRow& row(int32_t r) { return rows_[static_cast<size_t>(r)]; }
  const ListRow& row(int32_t r) const { return rows_[static_cast<size_t>(r)]; }

  void insert(int32_t at, ListRow r) {
    beginInsertRows(QModelIndex(), at, at);
    rows_.insert(rows_.begin() + at, std::move(r));
    endInsertRows();
  }

  void set_cell(int32_t r, int32_t column, std::string_view text) {
    auto& cells = rows_[static_cast<size_t>(r)].cells;
    if (cells.size() <= static_cast<size_t>(column))
      cells.resize(static_cast<size_t>(column) + 1);
    cells[static_cast<size_t>(column)].assign(cell_prefix(text));
    const QModelIndex i = index(r, column);
    emit dataChanged(i, i);
  }

  void row_changed(int32_t r) {
    emit dataChanged(index(r, 0), index(r, std::max(0, columnCount(QModelIndex()) - 1)));
  }

  void set_rows(std::vector<ListRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
  }

  void set_columns(std::vector<ListColumn> columns) {
    beginResetModel();
    columns_ = std::move(columns);
    endResetModel();
  }

  void set_column_width(int column, int width) {
    if (column >= 0 && static_cast<size_t>(column) < columns_.size()) {
      columns_[static_cast<size_t>(column)].width = std::clamp(width, 0, kMaxColumnWidth);
    }
  }

  void set_hot_row(int r) {
    const int old = std::exchange(hot_row, r);
    if (has_row(old))
      row_changed(old);
    if (has_row(r))
      row_changed(r);
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : row_count();
  }

  int columnCount(const QModelIndex& parent) const override {
    if (parent.isValid())
      return 0;
    const int n = static_cast<int>(columns_.size());
    return report ? n : std::max(1, n);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || !has_row(index.row()))
      return {};
    const ListRow& r = row(index.row());
    switch (role) {
      case Qt::DisplayRole:
      case Qt::EditRole:
      case Qt::ToolTipRole:
        return to_qt(cell(index.row(), index.column()));
      case Qt::TextAlignmentRole:
        return QVariant::fromValue(column_alignment(index.column()) | Qt::AlignVCenter);
      case Qt::BackgroundRole:
        if (text_background == kColourNone || text_background == kColourDefault)
          return {};
        return QBrush(qt_colour(text_background));
      case Qt::CheckStateRole:
        if (!check_boxes || index.column() != 0)
          return {};
        return r.state_image == kStateChecked ? Qt::Checked : Qt::Unchecked;
      case Qt::FontRole: {
        if (!hot_tracking)
          return {};
        const bool hot = index.row() == hot_row;
        if (!(hot ? underline_hot : underline_cold))
          return {};
        const auto* view = qobject_cast<const QWidget*>(QObject::parent());
        QFont f = view ? view->font() : QApplication::font();
        f.setUnderline(true);
        return f;
      }
      default:
        return {};
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 ||
        static_cast<size_t>(section) >= columns_.size()) {
      return {};
    }
    if (role == Qt::DisplayRole)
      return to_qt(columns_[static_cast<size_t>(section)].title);
    if (role == Qt::TextAlignmentRole) {
      return QVariant::fromValue(column_alignment(section) | Qt::AlignVCenter);
    }
    return {};
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid())
      return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0 && check_boxes)
      f |= Qt::ItemIsUserCheckable;
    if (index.column() == 0 && edit_labels)
      f |= Qt::ItemIsEditable;
    return f;
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (!index.isValid() || !has_row(index.row()) || index.column() != 0)
      return false;
    if (role == Qt::EditRole && edit_labels) {
      set_cell(index.row(), 0, to_local(value.toString()));
      return true;
    }
    if (role == Qt::CheckStateRole && check_boxes) {
      const bool checked = value.toInt() == Qt::Checked;
      row(index.row()).state_image = checked ? kStateChecked : kStateUnchecked;
      emit dataChanged(index, index);
      return true;
    }
    return false;
  }

 private:
  Qt::Alignment column_alignment(int column) const {
    if (column < 0 || static_cast<size_t>(column) >= columns_.size())
      return Qt::AlignLeft;
    switch (columns_[static_cast<size_t>(column)].alignment) {
      case kColumnRight:
        return Qt::AlignRight;
      case kColumnCentre:
        return Qt::AlignHCenter;
      default:
        return Qt::AlignLeft;
    }
  }

  std::vector<ListRow> rows_;
  std::vector<ListColumn> columns_;
};

namespace {

// Draws the rows: the selection only on the first cell unless the whole row is selected, the
// row's indent, and the hot row.
class ListDelegate final : public QStyledItemDelegate {
 public:
  ListDelegate(QObject* parent, bool full_row) : QStyledItemDelegate(parent), full_row_(full_row) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem o = option;
    const auto* model = static_cast<const ListModel*>(index.model());
    if (model->hot_tracking && index.row() == model->hot_row) {
      QColor hot = option.palette.color(QPalette::Highlight);
      hot.setAlpha(48);
      painter->fillRect(option.rect, hot);
    }
    if (index.column() == 0 && model->has_row(index.row())) {
      o.rect.setLeft(o.rect.left() + model->row(index.row()).indent * kIndentPixels);
    }
    QStyledItemDelegate::paint(painter, o, index);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!full_row_ && index.column() != 0)
      option->state &= ~QStyle::State_Selected;
  }

 private:
  bool full_row_;  // a change of it re-creates the list
};

template <class View>
class ListWidget final : public HookedWidget<View> {
 public:
  explicit ListWidget(QWidget* parent) : HookedWidget<View>(parent) {}

  // Which row a point hits by the list's rules: without full-row selection only the first
  // cell counts; with it, the whole band of a row does, also right of the last column.
  QModelIndex indexAt(const QPoint& point) const override {
    const QModelIndex index = View::indexAt(point);
    if constexpr (std::is_same_v<View, QTableView>) {
      const ListViewUnit* u = owner();
      if (u && !u->full_row())
        return index.column() == 0 ? index : QModelIndex();
      if (index.isValid() || !this->model())
        return index;
      const int row = this->rowAt(point.y());
      return row >= 0 ? this->model()->index(row, 0) : QModelIndex();
    }
    return index;
  }

  // A report list brings a row into view, never a cell: a click on a cell that is partly out of
  // sight, the current row moving or the program choosing a row scroll the rows only, and the
  // columns stay where the user left them.
  void scrollTo(const QModelIndex& index, QAbstractItemView::ScrollHint hint) override {
    if constexpr (std::is_same_v<View, QTableView>) {
      QScrollBar* sideways = this->horizontalScrollBar();
      const int columns_at = sideways->value();
      View::scrollTo(index, hint);
      sideways->setValue(columns_at);
    } else {
      View::scrollTo(index, hint);
    }
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    View::mousePressEvent(event);
    if (!indexAt(event->position().toPoint()).isValid() && this->selectionModel()) {
      this->selectionModel()->clear();
    }
  }

  void keyPressEvent(QKeyEvent* event) override {
    if constexpr (std::is_same_v<View, QTableView>) {
      // Left and right scroll the columns, as rows are what the list selects.
      if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        this->horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Left
                                                       ? QAbstractSlider::SliderSingleStepSub
                                                       : QAbstractSlider::SliderSingleStepAdd);
        return;
      }
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool on_row = this->currentIndex().isValid() && this->state() != View::EditingState;
    View::keyPressEvent(event);
    if (!enter || !on_row)
      return;
    if (ListViewUnit* u = owner())
      u->entered();
  }

  void mouseDoubleClickEvent(QMouseEvent* event) override {
    after_double_click_ = true;
    View::mouseDoubleClickEvent(event);
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    View::mouseReleaseEvent(event);
    if (std::exchange(after_double_click_, false))
      return;
    if (ListViewUnit* u = owner()) {
      u->released(static_cast<int>(event->button()), indexAt(event->position().toPoint()));
    }
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    View::mouseMoveEvent(event);
    if (ListViewUnit* u = owner())
      u->hovered(indexAt(event->position().toPoint()).row());
  }

  void leaveEvent(QEvent* event) override {
    View::leaveEvent(event);
    if (ListViewUnit* u = owner())
      u->hovered(-1);
  }

 private:
  ListViewUnit* owner() const { return static_cast<ListViewUnit*>(this->unit); }

  bool after_double_click_ = false;
};

int row_height(const QWidget* w) {
  return w->fontMetrics().height() + 6;
}

}  // namespace

// --- The unit ---

ListViewUnit::ListViewUnit(const rt::UnitCreateParams& params, PropertyValues values)
    : Unit(params, std::move(values)) {}

rt::UnitObject* ListViewUnit::create(const rt::UnitCreateParams& params) {
  auto values = PropertyValues::decode(kKindListView, {params.data, params.length});
  if (!values)
    return nullptr;
  auto columns = decode_columns(values->bytes(lv::kColumns));
  auto rows = decode_rows(values->bytes(lv::kRows));
  if (!columns || !rows)
    return nullptr;
  values->set_word(lv::kCurrentRow, std::max(-1, values->word(lv::kCurrentRow)));
  auto unit = std::make_unique<ListViewUnit>(params, std::move(*values));
  unit->build(params);
  unit->model()->set_columns(std::move(*columns));
  unit->model()->set_rows(std::move(*rows));
  unit->apply_header();
  unit->select_row(unit->values_.word(lv::kCurrentRow));
  unit->connect_events();
  return unit.release();
}

QAbstractItemView* ListViewUnit::view() const {
  return static_cast<QAbstractItemView*>(widget());
}

ListModel* ListViewUnit::model() const {
  QAbstractItemView* v = view();
  return v ? static_cast<ListModel*>(v->model()) : nullptr;
}

bool ListViewUnit::report() const {
  return values_.word(lv::kView) == 3;
}
bool ListViewUnit::icon_view() const {
  return values_.word(lv::kView) <= 1;
}
bool ListViewUnit::full_row() const {
  return values_.flag(lv::kFullRowSelect);
}

void ListViewUnit::build(const rt::UnitCreateParams& params) {
  auto* parent = static_cast<QWidget*>(params.parent);
  const PropertyValues& v = values_;
  QAbstractItemView* view = nullptr;
  if (report()) {
    auto* table = new ListWidget<QTableView>(parent);
    table->verticalHeader()->hide();
    table->verticalHeader()->setMinimumSectionSize(0);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->setShowGrid(v.flag(lv::kGridLines));
    table->setWordWrap(false);
    table->setCornerButtonEnabled(false);
    table->setTabKeyNavigation(false);
    QHeaderView* header = table->horizontalHeader();
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionsClickable(v.flag(lv::kClickableHeaders));
    header->setSectionsMovable(v.flag(lv::kHeaderDragDrop));
    view = table;
  } else {
    auto* list = new ListWidget<QListView>(parent);
    const int32_t mode = v.word(lv::kView);
    list->setViewMode(mode == 0 ? QListView::IconMode : QListView::ListMode);
    list->setIconSize(mode == 0 ? QSize(32, 32) : QSize(16, 16));
    list->setWrapping(true);
    list->setResizeMode(QListView::Adjust);
    list->setUniformItemSizes(true);
    list->setSpacing(2);
    if (mode == 0) {
      list->setFlow(v.word(lv::kIconAlignment) == 1 ? QListView::TopToBottom
                                                    : QListView::LeftToRight);
      list->setGridSize(QSize(76, 64));
    } else {
      list->setFlow(mode == 1 ? QListView::LeftToRight : QListView::TopToBottom);
    }
    list->setMovement(v.flag(lv::kAutoArrange) || mode == 2 ? QListView::Static : QListView::Free);
    list->setWordWrap(v.flag(lv::kLabelWrap));
    view = list;
  }
  auto* model = new ListModel(view);  // both go with the widget
  model->report = report();
  model->check_boxes = v.flag(lv::kCheckBoxes);
  model->edit_labels = v.flag(lv::kEditLabels);
  model->hot_tracking = v.flag(lv::kHotTracking);
  model->underline_cold = v.flag(lv::kUnderlineCold);
  model->underline_hot = v.flag(lv::kUnderlineHot);
  view->setModel(model);
  view->setItemDelegate(new ListDelegate(view, full_row()));
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(v.flag(lv::kSingleSelection) ? QAbstractItemView::SingleSelection
                                                      : QAbstractItemView::ExtendedSelection);
  view->setEditTriggers(v.flag(lv::kEditLabels)
                            ? QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                            : QAbstractItemView::NoEditTriggers);
  view->setTextElideMode(Qt::ElideRight);
  view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  view->setMouseTracking(v.flag(lv::kHotTracking));
  view->setFocusPolicy(Qt::StrongFocus);
  attach(view, params);
  apply_look();
}

void ListViewUnit::apply_look() {
  QAbstractItemView* v = view();
  apply_border(v, values_.word(lv::kBorder));
  v->setFont(qt_font(values_.font(lv::kFont), QApplication::font(v)));
  set_palette_colour(v, QPalette::Text, values_.word(lv::kTextColour));
  set_palette_colour(v, QPalette::Base, values_.word(lv::kBackgroundColour));
  show_selection_without_focus(v, values_.flag(lv::kKeepSelection));
  model()->text_background = values_.word(lv::kTextBackgroundColour);
  if (auto* table = qobject_cast<QTableView*>(v)) {
    table->verticalHeader()->setDefaultSectionSize(row_height(table));
  } else if (auto* list = qobject_cast<QListView*>(v)) {
    list->setWordWrap(values_.flag(lv::kLabelWrap));
  }
  v->viewport()->update();
}

// Column widths and the header's visibility; a column of width 0 is hidden.
void ListViewUnit::apply_header() {
  auto* table = qobject_cast<QTableView*>(view());
  if (!table)
    return;
  const auto& columns = model()->columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    const int c = static_cast<int>(i);
    table->setColumnHidden(c, columns[i].width == 0);
    if (columns[i].width > 0)
      table->setColumnWidth(c, columns[i].width);
  }
  table->horizontalHeader()->setVisible(!values_.flag(lv::kNoColumnHeader));
}

void ListViewUnit::connect_events() {
  QAbstractItemView* v = view();
  QObject::connect(v->selectionModel(), &QItemSelectionModel::currentRowChanged, context(),
                   [this](const QModelIndex& current, const QModelIndex& previous) {
                     if (current.isValid() && current.row() != previous.row()) {
                       raise(kEventFocused, {current.row()});
                     }
                   });
  QObject::connect(v, &QAbstractItemView::activated, context(),
                   [this](const QModelIndex& index) { raise(kEventActivated, {index.row()}); });
  if (auto* table = qobject_cast<QTableView*>(v)) {
    QHeaderView* header = table->horizontalHeader();
    QObject::connect(header, &QHeaderView::sectionClicked, context(),
                     [this](int column) { raise(kEventHeaderClicked, {column}); });
    // Widths the user drags stay with the columns, also through a re-creation.
    QObject::connect(header, &QHeaderView::sectionResized, context(),
                     [this](int column, int, int width) {
                       if (width > 0)
                         model()->set_column_width(column, width);
                     });
  }
}

void ListViewUnit::released(int button, const QModelIndex& index) {
  if (button == Qt::LeftButton) {
    if (values_.flag(lv::kHotTracking) && index.isValid()) {
      // The activation's handler may re-create the list: the click then went with the old one.
      const UnitGuard guard(*this);
      raise(kEventActivated, {index.row()});
      if (!guard.alive())
        return;
    }
    raise(kEventClicked);
  } else if (button == Qt::RightButton) {
    raise(kEventRightClicked);
  }
}

void ListViewUnit::entered() {
  raise(kEventClicked);
}

void ListViewUnit::hovered(int row) {
  ListModel* m = model();
  if (!m || !m->hot_tracking || row == m->hot_row)
    return;
  m->set_hot_row(row);
  QWidget* viewport = view()->viewport();
  if (row >= 0 && values_.flag(lv::kHandCursor)) {
    viewport->setCursor(Qt::PointingHandCursor);
  } else {
    viewport->unsetCursor();
  }
  if (row >= 0)
    raise(kEventHot, {row});
}

int32_t ListViewUnit::row_count() const {
  const ListModel* m = model();
  return m ? m->row_count() : 0;
}

int32_t ListViewUnit::current_row() const {
  const QAbstractItemView* v = view();
  if (!v || !v->selectionModel())
    return -1;
  int32_t first = -1;
  for (const QModelIndex& i : v->selectionModel()->selectedIndexes()) {
    if (first < 0 || i.row() < first)
      first = i.row();
  }
  return first;
}

void ListViewUnit::select_row(int32_t row) {
  QAbstractItemView* v = view();
  ListModel* m = model();
  if (row < 0) {
    v->selectionModel()->clear();
    return;
  }
  if (!m->has_row(row) || m->columnCount(QModelIndex()) == 0)
    return;
  const QModelIndex index = m->index(row, 0);
  v->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  v->scrollTo(index);
}

int32_t ListViewUnit::insert_row(int32_t position, std::string_view first_cell, int32_t image,
                                 int32_t state_image, int32_t indent, int32_t data) {
  ListModel* m = model();
  if (!m)
    return -1;
  const int32_t count = m->row_count();
  int32_t at = position < 0 || position > count ? count : position;
  if (const int32_t sorting = values_.word(lv::kSorting); sorting != 0) {
    // A sorted list keeps its rows in order of their first cell.
    const QString text = to_qt(first_cell);
    at = 0;
    while (at < count) {
      const int order = QString::localeAwareCompare(to_qt(m->cell(at, 0)), text);
      if (sorting == 1 ? order > 0 : order < 0)
        break;
      ++at;
    }
  }
  ListRow row;
  row.cells.emplace_back(cell_prefix(first_cell));
  row.image = std::max(-1, image);
  row.state_image = state_image < 0 ? 0 : state_image + 1;
  row.indent = std::max(0, indent);
  row.data = data;
  m->insert(at, std::move(row));
  return at;
}

bool ListViewUnit::set_field(int32_t row, int32_t column, RowField field, std::string_view text,
                             int32_t value) {
  ListModel* m = model();
  if (!m || !m->has_row(row))
    return false;
  ListRow& r = m->row(row);
  switch (field) {
    case RowField::kText:
      if (!m->has_cell(row, column))
        return false;
      m->set_cell(row, column, text);
      return true;
    case RowField::kImage:
      r.image = std::max(-1, value);
      if (r.image == -1) {
        view()->viewport()->update();
      } else {
        m->row_changed(row);
      }
      return true;
    case RowField::kStateImage:
      r.state_image = value < 0 ? 0 : value + 1;
      m->row_changed(row);
      return true;
    case RowField::kIndent:
      r.indent = std::max(0, value);
      m->row_changed(row);
      return true;
    case RowField::kData:
      r.data = value;
      return true;
  }
  return false;
}

std::string ListViewUnit::cell_text(int32_t row, int32_t column) const {
  const ListModel* m = model();
  return m ? std::string(m->cell(row, column)) : std::string();
}

int32_t ListViewUnit::row_value(int32_t row, RowField field) const {
  const ListModel* m = model();
  if (!m || !m->has_row(row))
    return 0;
  const ListRow& r = m->row(row);
  switch (field) {
    case RowField::kText:
      return 0;
    case RowField::kImage:
      return r.image;
    case RowField::kStateImage:
      return r.state_image - 1;
    case RowField::kIndent:
      return r.indent;
    case RowField::kData:
      return r.data;
  }
  return 0;
}

bool ListViewUnit::delete_all_rows() {
  ListModel* m = model();
  if (!m)
    return false;
  m->set_rows({});
  return true;
}

int32_t ListViewUnit::apply(int32_t index, const PropertyValue& value) {
  switch (index) {
    case lv::kCurrentRow:
      select_row(std::max(-1, value.word));
      return 0;
    case lv::kCurrentText:
      return 0;
    case lv::kColumns: {
      auto columns = decode_columns(
          std::span(reinterpret_cast<const uint8_t*>(value.bytes.data()), value.bytes.size()));
      if (!columns)
        return 0;
      store(index, value);
      model()->set_columns(std::move(*columns));
      apply_header();
      return report() ? 1 : 0;
    }
    case lv::kRows: {
      auto rows = decode_rows(
          std::span(reinterpret_cast<const uint8_t*>(value.bytes.data()), value.bytes.size()));
      if (!rows)
        return 0;
      model()->set_rows(std::move(*rows));
      return 0;
    }
    default:
      break;
  }
  // Whether the change needs a new control is decided by the view the list has now.
  const bool was_report = report();
  const bool was_icon_view = icon_view();
  const bool hot = values_.flag(lv::kHotTracking);
  store(index, value);
  switch (index) {
    case lv::kBorder:
    case lv::kTextColour:
    case lv::kTextBackgroundColour:
    case lv::kBackgroundColour:
    case lv::kFont:
    case lv::kLabelWrap:
      apply_look();
      return 0;
    case lv::kNoColumnHeader:
      apply_header();
      return 0;
    case lv::kHeaderImages:
    case lv::kItemImages:
    case lv::kStateImages:
      view()->viewport()->update();
      return 0;
    case lv::kView:
    case lv::kHotTracking:
    case lv::kEditLabels:
    case lv::kSorting:
    case lv::kCheckBoxes:
    case lv::kFlatScrollBars:
    case lv::kSingleSelection:
    case lv::kKeepSelection:
      return 1;
    case lv::kIconAlignment:
    case lv::kAutoArrange:
      return was_icon_view ? 1 : 0;
    case lv::kClickableHeaders:
    case lv::kFullRowSelect:
    case lv::kGridLines:
    case lv::kHeaderDragDrop:
      return was_report ? 1 : 0;
    case lv::kHandCursor:
    case lv::kUnderlineCold:
    case lv::kUnderlineHot:
      return hot ? 1 : 0;
    default:
      return 0;
  }
}

void ListViewUnit::refresh(int32_t index) {
  const QAbstractItemView* v = view();
  const ListModel* m = model();
  switch (index) {
    case lv::kTextColour:
      values_.set_word(index, palette_colour(v, QPalette::Text));
      return;
    case lv::kBackgroundColour:
      values_.set_word(index, palette_colour(v, QPalette::Base));
      return;
    case lv::kTextBackgroundColour:
      values_.set_word(index, m->text_background);
      return;
    case lv::kColumns: {
      const std::vector<uint8_t> bytes = encode_columns(m->columns());
      values_.set_bytes(index, bytes);
      return;
    }
    case lv::kCurrentRow:
      values_.set_word(index, current_row());
      return;
    case lv::kRows: {
      const std::vector<uint8_t> bytes = encode_rows(m->rows());
      values_.set_bytes(index, bytes);
      return;
    }
    case lv::kCurrentText:
      values_.set_text(index, m->cell(current_row(), 0));
      return;
    default:
      return;
  }
}

void* list_view_interface(int32_t number) {
  return unit_interface(number, &ListViewUnit::create);
}

const rt::KindDescriptor& list_view_kind() {
  static const rt::KindDescriptor kind =
      describe_kind(kKindListView, rt::kKindRaisesEvents, &list_view_interface);
  return kind;
}

}  // namespace units
