// The list view: its commands (also from worker threads), its properties with their clamps and
// re-creation rule, the current row, and the events that clicks raise.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>

#include "runtime/command.h"
#include "unit_test_support.h"
#include "units/list_view_commands.h"
#include "units/qt_support.h"

namespace {

using namespace unit_test;
namespace lp = units::list_property;

constexpr uint32_t kWindow = 0x52010001;
constexpr uint32_t kList = 0x16010002;

class ListView : public ::testing::Test {
 protected:
  FakeCore core;
  StartWindowValues start;
  std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
  rt::UnitObject* list = nullptr;

  void SetUp() override {
    window->resize(678, 505);
    list = make(start.results);
    ASSERT_NE(list, nullptr);
  }

  rt::UnitObject* make(const units::PropertyValues& v, uint32_t id = kList) {
    rt::UnitObject* u = create_unit(units::kKindListView, v.encode(), window.get(),
                                    {0, 8, 664, 192}, id, kWindow, rt::kStyleTabStop);
    if (u)
      core.add(u);
    return u;
  }

  rt::Cell ref(uint32_t id = kList) const {
    return rt::UnitRef{kWindow, id, units::kKindListView}.cell();
  }

  int32_t insert(auto... args) { return rt::call_int(units::insert_row, ref(), args...); }
  bool put(int32_t row, int32_t column, const char* text) {
    return rt::call_bool(units::set_cell_text, ref(), row, column, text);
  }
  std::string cell(auto... args) {
    return std::string(rt::call_text(units::cell_text, ref(), args...).view());
  }

  QTableView* table() const { return qobject_cast<QTableView*>(widget_of(list)); }

  void fill(int rows) {
    for (int i = 0; i < rows; ++i) {
      const int32_t k = insert();
      put(k, 0, std::to_string(k + 1).c_str());
      put(k, 2, ("title " + std::to_string(k + 1)).c_str());
    }
  }

  // Shows the list; the focus it takes on the way makes the first row current (event 0), which
  // the tests of clicks leave out.
  void show() {
    window->show();
    widget_of(list)->show();
    settle();
    core.events.clear();
  }

  void click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QWidget* viewport = table()->viewport();
    const QPointF global = viewport->mapToGlobal(QPointF(at));
    QMouseEvent press(QEvent::MouseButtonPress, at, global, button, button, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QApplication::sendEvent(viewport, &release);
  }

  void double_click(QPoint at) {
    click(at);
    QWidget* viewport = table()->viewport();
    const QPointF global = viewport->mapToGlobal(QPointF(at));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(viewport, &dbl);
    QApplication::sendEvent(viewport, &release);
  }

  QPoint row_centre(int row, int column = 0) const {
    return table()->visualRect(table()->model()->index(row, column)).center();
  }
};

// --- Commands ---

TEST_F(ListView, InsertRowWithEverythingLeftOutAppendsAndAnswersThePreviousCount) {
  for (int32_t expected = 0; expected < 4; ++expected) EXPECT_EQ(insert(), expected);
  EXPECT_EQ(table()->model()->rowCount(), 4);
  EXPECT_EQ(cell(3, 0), "") << "the new row is empty";
}

TEST_F(ListView, InsertRowPositionsAndFirstCell) {
  fill(2);
  EXPECT_EQ(insert(0, "top"), 0);
  EXPECT_EQ(cell(0), "top");
  EXPECT_EQ(cell(1), "1");
  EXPECT_EQ(insert(-7, "end"), 3) << "a negative position appends";
  EXPECT_EQ(insert(99, "past"), 4) << "past the end appends";
  EXPECT_EQ(cell(4), "past");
}

TEST_F(ListView, CellTextsRoundTripAsGbkBytes) {
  fill(1);
  EXPECT_TRUE(put(0, 1, "第01集(高清)"));
  EXPECT_TRUE(put(0, 5, "http://img.example/p.jpg"));
  EXPECT_EQ(cell(0, 1), "第01集(高清)");
  EXPECT_EQ(cell(0, 5), "http://img.example/p.jpg") << "hidden columns hold texts too";
  EXPECT_EQ(table()->model()->index(0, 1).data().toString(), QString::fromUtf16(u"第01集(高清)"));
  // Column and text may be left out: column 0, the empty text.
  EXPECT_TRUE(rt::call_bool(units::set_cell_text, ref(), 0, rt::omitted, "zero"));
  EXPECT_EQ(cell(0), "zero");
  EXPECT_TRUE(rt::call_bool(units::set_cell_text, ref(), 0, 1));
  EXPECT_EQ(cell(0, 1), "");
}

// A page may put megabytes into one cell; the list keeps a start of it that ends on a whole
// character, so hovering or painting the row stays cheap.
TEST_F(ListView, LongCellTextsAreCutAtAWholeCharacter) {
  const std::string ascii(5000, 'a');
  // 4095 ASCII bytes, then a two-byte character that would straddle the 4096-byte mark.
  const std::string straddling = std::string(4095, 'b') + "中" + "tail";
  const std::string exact = std::string(4094, 'c') + "中";
  const struct {
    const std::string& written;
    std::string kept;
  } cases[] = {
      {ascii, std::string(4096, 'a')},
      {straddling, std::string(4095, 'b')},
      {exact, exact},
  };
  fill(1);
  for (const auto& c : cases) {
    EXPECT_TRUE(put(0, 3, c.written.c_str()));
    EXPECT_EQ(cell(0, 3), c.kept);
    EXPECT_EQ(insert(rt::omitted, c.written.c_str()), 1);
    EXPECT_EQ(cell(1, 0), c.kept) << "the first cell of a new row too";
    ASSERT_TRUE(rt::call_bool(units::delete_all_rows, ref()));
    fill(1);
  }
}

TEST_F(ListView, MissingCellsReadEmptyAndAreNotWritten) {
  fill(2);
  for (auto [row, column] :
       std::vector<std::pair<int, int>>{{2, 0}, {-1, 0}, {0, 6}, {0, -1}, {100, 100}}) {
    EXPECT_EQ(rt::call(units::cell_text, ref(), row, column).pointer<char>(), nullptr)
        << row << "," << column;
    EXPECT_FALSE(put(row, column, "x")) << row << "," << column;
  }
  EXPECT_EQ(table()->model()->rowCount(), 2);
  EXPECT_EQ(cell(1, 2), "title 2");
}

TEST_F(ListView, DeleteAllRowsEmptiesTheList) {
  fill(3);
  set_int(list, lp::kCurrentRow, 1);
  EXPECT_TRUE(rt::call_bool(units::delete_all_rows, ref()));
  EXPECT_EQ(table()->model()->rowCount(), 0);
  EXPECT_EQ(get_int(list, lp::kCurrentRow), -1);
  EXPECT_EQ(cell(0), "");
}

TEST_F(ListView, CommandsOnAUnitThatIsGoneDoNothing) {
  fill(1);
  core.units.clear();  // the window has been closed
  EXPECT_FALSE(rt::call(units::insert_row, ref()).given());
  EXPECT_FALSE(rt::call(units::set_cell_text, ref(), 0, 0, "x").given());
  EXPECT_FALSE(rt::call(units::cell_text, ref(), 0, 0).given());
  EXPECT_FALSE(rt::call(units::delete_all_rows, ref()).given());
  core.add(list);
  EXPECT_EQ(cell(0), "1") << "nothing was written meanwhile";
  const rt::Cell not_a_list = rt::UnitRef{kWindow, kList, units::kKindEditBox}.cell();
  EXPECT_FALSE(rt::call(units::insert_row, not_a_list).given());
}

// --- Properties ---

TEST_F(ListView, ReportViewSettingsOfTheResultsList) {
  QTableView* t = table();
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->horizontalHeader()->isVisibleTo(t));
  EXPECT_TRUE(t->horizontalHeader()->sectionsClickable());
  EXPECT_FALSE(t->verticalHeader()->isVisibleTo(t));
  EXPECT_EQ(t->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(t->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_TRUE(t->showGrid());
  EXPECT_EQ(t->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(t->palette().color(QPalette::Text), QColor(Qt::black));
  EXPECT_EQ(t->palette().color(QPalette::Base), QColor(Qt::white));
  const auto columns = StartWindowValues::result_columns();
  ASSERT_EQ(t->model()->columnCount(), 6);
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(t->model()->headerData(c, Qt::Horizontal).toString(), units::to_qt(columns[c].title));
    EXPECT_EQ(t->isColumnHidden(c), columns[c].width == 0) << c;
    if (columns[c].width > 0) {
      EXPECT_EQ(t->columnWidth(c), columns[c].width) << c;
    }
  }
  EXPECT_EQ(get_int(list, lp::kCurrentRow), -1);
  const rt::PropertyPair p = get(list, lp::kColumns);
  EXPECT_EQ(units::decode_columns({p.bytes(), p.second}), columns);
}

TEST_F(ListView, CurrentRowClampsAndSelectsAtOnce) {
  fill(3);
  const struct {
    int32_t set, read;
  } steps[] = {{1, 1}, {99, 1}, {2, 2}, {-5, -1}, {0, 0}, {-1, -1}};
  for (const auto& s : steps) {
    EXPECT_EQ(set_int(list, lp::kCurrentRow, s.set), 0);
    EXPECT_EQ(get_int(list, lp::kCurrentRow), s.read) << "after setting " << s.set;
  }
  set_int(list, lp::kCurrentRow, 2);
  EXPECT_TRUE(table()->selectionModel()->isRowSelected(2, QModelIndex()));
  EXPECT_EQ(get_text(list, lp::kCurrentText), "3");
}

TEST_F(ListView, WhichChangesAskForRecreation) {
  const struct {
    int32_t index, value, answer;
  } report_cases[] = {
      {lp::kView, 3, 1},
      {lp::kTextColour, 0xFF, 0},
      {lp::kBorder, 2, 0},
      {lp::kBackgroundColour, 0, 0},
      {lp::kIconAlignment, 1, 0},
      {lp::kAutoArrange, 0, 0},
      {lp::kLabelWrap, 0, 0},
      {lp::kNoColumnHeader, 0, 0},
      {lp::kClickableHeaders, 0, 1},
      {lp::kFullRowSelect, 1, 1},
      {lp::kGridLines, 1, 1},
      {lp::kHeaderDragDrop, 1, 1},
      {lp::kHotTracking, 0, 1},
      {lp::kHandCursor, 1, 0},
      {lp::kUnderlineHot, 1, 0},
      {lp::kEditLabels, 0, 1},
      {lp::kSorting, 0, 1},
      {lp::kCheckBoxes, 0, 1},
      {lp::kFlatScrollBars, 0, 1},
      {lp::kSingleSelection, 1, 1},
      {lp::kKeepSelection, 1, 1},
      {lp::kCurrentRow, 0, 0},
  };
  for (const auto& c : report_cases) {
    EXPECT_EQ(set_int(list, c.index, c.value), c.answer) << "report view, index " << c.index;
  }
  EXPECT_EQ(
      set_bytes(list, lp::kColumns, units::encode_columns(StartWindowValues::result_columns())), 1);

  units::PropertyValues icons = start.results;
  icons.set_word(lp::kView, 0);
  icons.set_word(lp::kHotTracking, 1);
  rt::UnitObject* icon_list = make(icons, 0x16010009);
  ASSERT_NE(icon_list, nullptr);
  EXPECT_NE(qobject_cast<QListView*>(widget_of(icon_list)), nullptr);
  const struct {
    int32_t index, value, answer;
  } icon_cases[] = {{lp::kIconAlignment, 1, 1}, {lp::kAutoArrange, 0, 1},
                    {lp::kFullRowSelect, 0, 0}, {lp::kGridLines, 0, 0},
                    {lp::kHandCursor, 1, 1},    {lp::kUnderlineCold, 1, 1}};
  for (const auto& c : icon_cases) {
    EXPECT_EQ(set_int(icon_list, c.index, c.value), c.answer) << "icon view, index " << c.index;
  }
  EXPECT_EQ(set_bytes(icon_list, lp::kColumns, {}), 0);
}

TEST_F(ListView, ChoicesAreClamped) {
  const struct {
    int32_t index, value, stored;
  } cases[] = {{lp::kBorder, 9, 5},
               {lp::kView, 7, 3},
               {lp::kIconAlignment, 4, 1},
               {lp::kSorting, 10, 2},
               {lp::kBorder, 0, 0}};
  for (const auto& c : cases) {
    set_int(list, c.index, c.value);
    EXPECT_EQ(get_int(list, c.index), c.stored) << c.index;
  }
}

TEST_F(ListView, ColoursAreReadBackFromTheWidget) {
  EXPECT_EQ(set_int(list, lp::kTextColour, units::colour(10, 20, 30)), 0);
  set_int(list, lp::kBackgroundColour, units::colour(250, 240, 230));
  EXPECT_EQ(table()->palette().color(QPalette::Text), QColor(10, 20, 30));
  EXPECT_EQ(get_int(list, lp::kTextColour), units::colour(10, 20, 30));
  EXPECT_EQ(get_int(list, lp::kBackgroundColour), units::colour(250, 240, 230));
  // A look applied to the widget from outside (a skin) is what reads back.
  QPalette skin = table()->palette();
  skin.setColor(QPalette::Text, QColor(1, 2, 3));
  table()->setPalette(skin);
  EXPECT_EQ(get_int(list, lp::kTextColour), units::colour(1, 2, 3));
  set_int(list, lp::kTextBackgroundColour, units::kColourNone);
  EXPECT_EQ(get_int(list, lp::kTextBackgroundColour), units::kColourNone);
}

TEST_F(ListView, BadColumnsAreRefusedAndChangeNothing) {
  const std::vector<uint8_t> bad = {1, 0, 0, 0, 5, 0, 0, 0, 'a'};
  EXPECT_EQ(set_bytes(list, lp::kColumns, bad), 0);
  EXPECT_EQ(table()->model()->columnCount(), 6);

  units::PropertyValues broken = start.results;
  broken.set_bytes(lp::kColumns, bad);
  EXPECT_EQ(make(broken, 0x16010007), nullptr);
  units::PropertyValues broken_rows = start.results;
  broken_rows.set_bytes(lp::kRows, bad);
  EXPECT_EQ(make(broken_rows, 0x16010008), nullptr);
}

TEST_F(ListView, SavedStateRecreatesRowsColumnsAndSelection) {
  fill(5);
  put(3, 4, "主演甲");
  table()->setColumnWidth(1, 120);  // dragged by the user
  set_int(list, lp::kCurrentRow, 3);
  EXPECT_EQ(set_int(list, lp::kView, 3), 1);
  const std::vector<uint8_t> state = save_state(list);
  rt::UnitObject* again = create_unit(units::kKindListView, state, window.get(), {}, 0x1601000A);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(get_int(again, lp::kCurrentRow), 3);
  auto* t = qobject_cast<QTableView*>(widget_of(again));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->model()->rowCount(), 5);
  EXPECT_EQ(t->model()->index(3, 4).data().toString(), QString::fromUtf16(u"主演甲"));
  EXPECT_EQ(t->columnWidth(1), 120);
  EXPECT_TRUE(t->isColumnHidden(3));

  // A change of view: the same rows in a list of another kind.
  set_int(again, lp::kView, 2);
  rt::UnitObject* as_list =
      create_unit(units::kKindListView, save_state(again), window.get(), {}, 0x1601000B);
  ASSERT_NE(as_list, nullptr);
  auto* l = qobject_cast<QListView*>(widget_of(as_list));
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->model()->rowCount(), 5);
  EXPECT_EQ(get_int(as_list, lp::kCurrentRow), 3);
}

TEST_F(ListView, SortedListsInsertInOrder) {
  units::PropertyValues sorted = start.results;
  sorted.set_word(lp::kSorting, 1);
  rt::UnitObject* s = make(sorted, 0x1601000C);
  ASSERT_NE(s, nullptr);
  const rt::Cell r = ref(0x1601000C);
  for (const char* t : {"b", "d", "a", "c"}) rt::call(units::insert_row, r, -1, t);
  std::string order;
  for (int i = 0; i < 4; ++i) order += rt::call_text(units::cell_text, r, i).c_str();
  EXPECT_EQ(order, "abcd");
}

// --- Clicks and events ---

TEST_F(ListView, LeftClickSelectsThenRaisesEventFour) {
  fill(3);
  show();
  int32_t row_seen_by_handler = -2;
  core.handler = [&](const RaisedEvent& e, int32_t*) {
    if (e.event == 4)
      row_seen_by_handler = get_int(list, lp::kCurrentRow);
    return true;
  };
  click(row_centre(1, 2));
  EXPECT_EQ(get_int(list, lp::kCurrentRow), 1);
  EXPECT_EQ(row_seen_by_handler, 1) << "event 4 comes after the selection has changed";
  EXPECT_EQ(core.events,
            (std::vector<RaisedEvent>{{kWindow, kList, 0, {1}}, {kWindow, kList, 4, {}}}));
}

TEST_F(ListView, ClickOnAnEmptyAreaLeavesNoRowSelected) {
  fill(2);
  show();
  int32_t row_seen_by_handler = -2;
  core.handler = [&](const RaisedEvent& e, int32_t*) {
    if (e.event == 4)
      row_seen_by_handler = get_int(list, lp::kCurrentRow);
    return true;
  };
  click(row_centre(0));
  ASSERT_EQ(get_int(list, lp::kCurrentRow), 0);
  core.events.clear();
  const QPoint below(40, table()->viewport()->height() - 5);
  ASSERT_FALSE(table()->indexAt(below).isValid());
  click(below);
  EXPECT_EQ(get_int(list, lp::kCurrentRow), -1);
  EXPECT_EQ(row_seen_by_handler, -1);
  EXPECT_EQ(core.event_numbers(kList), std::vector<int32_t>{4});

  rt::call(units::delete_all_rows, ref());
  click(QPoint(40, 40));  // an empty list
  EXPECT_EQ(get_int(list, lp::kCurrentRow), -1);
  EXPECT_EQ(core.event_numbers(kList), (std::vector<int32_t>{4, 4}));
}

TEST_F(ListView, FullRowSelectionCountsTheWholeBandOfARow) {
  units::PropertyValues narrow = start.results;
  narrow.set_bytes(lp::kColumns, units::encode_columns(
                                     std::vector<units::ListColumn>{{"a", 60, 0}, {"b", 60, 0}}));
  rt::UnitObject* n = make(narrow, kList);  // replaces the fixture's list for the commands
  list = n;
  fill(2);
  show();
  click(QPoint(400, row_centre(1).y()));  // right of the last column
  EXPECT_EQ(get_int(list, lp::kCurrentRow), 1);

  units::PropertyValues first_cell_only = narrow;
  first_cell_only.set_word(lp::kFullRowSelect, 0);
  list = make(first_cell_only, kList);
  fill(2);
  show();
  click(row_centre(1, 1));  // the second cell does not take the row
  EXPECT_EQ(get_int(list, lp::kCurrentRow), -1);
  click(row_centre(1, 0));
  EXPECT_EQ(get_int(list, lp::kCurrentRow), 1);
}

// Columns wider than the list: a click on a cell partly out of sight, and the scroll that
// follows it once no double click can come, bring the row into view and leave the columns
// alone; the arrow keys left and right move the columns.
TEST_F(ListView, ClicksScrollRowsIntoViewAndNeverTheColumns) {
  units::PropertyValues wide = start.results;
  wide.set_bytes(lp::kColumns, units::encode_columns(std::vector<units::ListColumn>{
                                   {"a", 400, 0}, {"b", 400, 0}, {"c", 400, 0}}));
  list = make(wide, kList);
  fill(40);
  show();
  QScrollBar* sideways = table()->horizontalScrollBar();
  ASSERT_GT(sideways->maximum(), 0);
  // The second column starts inside the list and ends outside it.
  click(QPoint(table()->viewport()->width() - 20, row_centre(2).y()));
  QElapsedTimer waited;  // the view's own delayed scroll after a click
  waited.start();
  while (waited.elapsed() < QApplication::doubleClickInterval() + 300)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(get_int(list, lp::kCurrentRow), 2);
  EXPECT_EQ(sideways->value(), 0);

  set_int(list, lp::kCurrentRow, 39);
  EXPECT_GT(table()->verticalScrollBar()->value(), 0) << "the row comes into view";
  EXPECT_EQ(sideways->value(), 0);

  const auto key = [&](Qt::Key k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(table(), &press);
  };
  key(Qt::Key_Right);
  EXPECT_GT(sideways->value(), 0);
  EXPECT_EQ(get_int(list, lp::kCurrentRow), 39);
  key(Qt::Key_Left);
  EXPECT_EQ(sideways->value(), 0);
}

TEST_F(ListView, RightClickDoubleClickAndHeaderClick) {
  fill(3);
  show();
  click(row_centre(2), Qt::RightButton);
  EXPECT_EQ(core.event_numbers(kList), (std::vector<int32_t>{0, 5}));
  EXPECT_EQ(get_int(list, lp::kCurrentRow), 2);

  core.events.clear();
  double_click(row_centre(0));
  EXPECT_EQ(core.event_numbers(kList), (std::vector<int32_t>{0, 4, 1}))
      << "focus, the click, then the activation; no second click";
  EXPECT_EQ(core.events.back().args, std::vector<int32_t>{0});

  core.events.clear();
  QHeaderView* header = table()->horizontalHeader();
  const int x = header->sectionViewportPosition(2) + 10;
  const QPointF at(x, header->height() / 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, header->viewport()->mapToGlobal(at),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, header->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(header->viewport(), &press);
  QApplication::sendEvent(header->viewport(), &release);
  EXPECT_EQ(core.events, (std::vector<RaisedEvent>{{kWindow, kList, 2, {2}}}));
}

TEST_F(ListView, SettingTheCurrentRowRaisesTheFocusEvent) {
  fill(3);
  set_int(list, lp::kCurrentRow, 2);
  set_int(list, lp::kCurrentRow, 2);
  EXPECT_EQ(core.events, (std::vector<RaisedEvent>{{kWindow, kList, 0, {2}}}));
}

TEST_F(ListView, HotTrackingRaisesEventThreeOncePerRowAndActivatesOnOneClick) {
  units::PropertyValues hot = start.results;
  hot.set_word(lp::kHotTracking, 1);
  hot.set_word(lp::kHandCursor, 1);
  list = make(hot);
  fill(3);
  show();
  QWidget* viewport = table()->viewport();
  for (int row : {1, 1, 2}) {
    const QPointF at(row_centre(row));
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
  }
  EXPECT_EQ(core.events,
            (std::vector<RaisedEvent>{{kWindow, kList, 3, {1}}, {kWindow, kList, 3, {2}}}));
  EXPECT_EQ(viewport->cursor().shape(), Qt::PointingHandCursor);
  core.events.clear();
  click(row_centre(2));
  EXPECT_EQ(core.event_numbers(kList), (std::vector<int32_t>{0, 1, 4}));
}

TEST_F(ListView, CheckBoxesShowTheStateImage) {
  units::PropertyValues checks = start.results;
  checks.set_word(lp::kCheckBoxes, 1);
  list = make(checks);
  rt::call(units::insert_row, ref(), -1, "off", -1, 0);
  rt::call(units::insert_row, ref(), -1, "on", -1, 1);
  const QAbstractItemModel* m = table()->model();
  EXPECT_EQ(m->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(m->index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_TRUE(m->flags(m->index(0, 0)) & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(m->index(0, 1).data(Qt::CheckStateRole).isValid());
}

}  // namespace
