// The `EditBox` kind: a single-line field (QLineEdit) or a multi-line box (QTextEdit holding
// plain text). Switching between the two re-creates the unit. Event 0: the content changed;
// event 1: Enter (or Return) in a single-line field.
//
// Applied only to single-line boxes: password input, digits-only input and case conversion.
// Positions and lengths of the selection count characters.
#include <QApplication>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>
#include <limits>

#include "units/kinds.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace ep = edit_property;

constexpr int32_t kEventChanged = 0;
constexpr int32_t kEventEnter = 1;

using LineWidget = HookedWidget<QLineEdit>;
using BoxWidget = HookedWidget<QTextEdit>;

class EditUnit final : public Unit {
 public:
  using Unit::Unit;

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto unit = decode_unit<EditUnit>(kKindEditBox, params);
    if (!unit)
      return nullptr;
    auto* parent = static_cast<QWidget*>(params.parent);
    QWidget* w = nullptr;
    if (unit->values_.flag(ep::kMultiLine)) {
      auto* box = new BoxWidget(parent);
      box->setAcceptRichText(false);
      box->setTabChangesFocus(true);
      w = box;
    } else {
      w = new LineWidget(parent);
    }
    unit->attach(w, params);
    unit->build();
    return unit.release();
  }

 protected:
  int32_t apply(int32_t index, const PropertyValue& value) override {
    switch (index) {
      case ep::kSelectionStart:
        select(std::max(0, value.word), 0);
        return 0;
      case ep::kSelectionLength: {
        const auto [start, length] = selection();
        select(start, std::max(0, value.word));
        return 0;
      }
      case ep::kSelectedText:
        replace_selection(to_qt_lines(value.bytes));
        return 0;
      default:
        break;
    }
    store(index, value);
    switch (index) {
      case ep::kContent:
        set_content(values_.text(ep::kContent));
        return 0;
      case ep::kMultiLine:
        return 1;
      case ep::kBorder:
      case ep::kTextColour:
      case ep::kBackgroundColour:
      case ep::kFont:
      case ep::kHideSelection:
        apply_look();
        return 0;
      case ep::kMaxLength:
      case ep::kScrollBars:
      case ep::kAlignment:
      case ep::kInputMode:
        apply_behaviour();
        return 0;
      default:
        return 0;
    }
  }

  void refresh(int32_t index) override {
    switch (index) {
      case ep::kContent:
        values_.set_text(index,
                         line() ? to_local(line()->text()) : to_local_lines(box()->toPlainText()));
        return;
      case ep::kSelectionStart:
        values_.set_word(index, selection().first);
        return;
      case ep::kSelectionLength:
        values_.set_word(index, selection().second);
        return;
      case ep::kSelectedText:
        values_.set_text(index, to_local_lines(selected_text()));
        return;
      default:
        return;
    }
  }

 private:
  QLineEdit* line() const { return qobject_cast<QLineEdit*>(widget()); }
  QTextEdit* box() const { return qobject_cast<QTextEdit*>(widget()); }

  void build() {
    apply_look();
    apply_behaviour();
    set_content(values_.text(ep::kContent));
    if (QLineEdit* l = line()) {
      QObject::connect(l, &QLineEdit::textChanged, context(), [this] { raise(kEventChanged); });
      QObject::connect(l, &QLineEdit::textEdited, context(), [this] { convert_case(); });
      QObject::connect(l, &QLineEdit::returnPressed, context(), [this] { raise(kEventEnter); });
    } else {
      QObject::connect(box(), &QTextEdit::textChanged, context(), [this] {
        enforce_max_length();
        raise(kEventChanged);
      });
    }
  }

  void set_content(std::string_view text) {
    if (QLineEdit* l = line()) {
      l->setText(to_qt(text));
      return;
    }
    // The change event's handler may re-create the unit before the paragraphs are aligned.
    const UnitGuard guard(*this);
    box()->setPlainText(to_qt_lines(text));
    if (guard.alive())
      align_paragraphs();
  }

  void apply_look() {
    QWidget* w = widget();
    if (QLineEdit* l = line()) {
      l->setFrame(values_.word(ep::kBorder) != kBorderNone);
    } else {
      apply_border(box(), values_.word(ep::kBorder));
    }
    w->setFont(qt_font(values_.font(ep::kFont), QApplication::font(w)));
    set_palette_colour(w, QPalette::Text, values_.word(ep::kTextColour));
    set_palette_colour(w, QPalette::Base, values_.word(ep::kBackgroundColour));
    show_selection_without_focus(w, !values_.flag(ep::kHideSelection));
  }

  void apply_behaviour() {
    const int32_t mode = values_.word(ep::kInputMode);
    const Qt::Alignment alignment = horizontal_alignment(values_.word(ep::kAlignment));
    if (QLineEdit* l = line()) {
      const int32_t max = values_.word(ep::kMaxLength);
      l->setMaxLength(max > 0 ? max : std::numeric_limits<int>::max());
      l->setAlignment(alignment | Qt::AlignVCenter);
      l->setReadOnly(mode == 1);
      l->setEchoMode(mode == 2 ? QLineEdit::Password : QLineEdit::Normal);
      auto* digits = l->findChild<QRegularExpressionValidator*>();
      if (mode == 3 && !digits) {
        digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), l);  // owned by l
      }
      l->setValidator(mode == 3 ? digits : nullptr);
      return;
    }
    QTextEdit* b = box();
    b->setReadOnly(mode == 1);
    const int32_t bars = values_.word(ep::kScrollBars);
    const bool horizontal = bars == 1 || bars == 3;
    const bool vertical = bars == 2 || bars == 3;
    b->setLineWrapMode(horizontal ? QTextEdit::NoWrap : QTextEdit::WidgetWidth);
    b->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    b->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    QTextOption option = b->document()->defaultTextOption();
    option.setAlignment(alignment);
    b->document()->setDefaultTextOption(option);
    align_paragraphs();
    enforce_max_length();
  }

  // Paragraphs that exist already take the box's alignment too.
  void align_paragraphs() {
    QTextEdit* b = box();
    const Qt::Alignment alignment = horizontal_alignment(values_.word(ep::kAlignment));
    QTextCursor cursor(b->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setAlignment(alignment);
    const QSignalBlocker quiet(b);
    cursor.mergeBlockFormat(format);
  }

  void enforce_max_length() {
    QTextEdit* b = box();
    const int32_t max = values_.word(ep::kMaxLength);
    if (!b || max <= 0 || b->document()->characterCount() - 1 <= max)
      return;
    QTextCursor cursor(b->document());
    cursor.setPosition(max);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    const QSignalBlocker quiet(b);
    cursor.removeSelectedText();
  }

  void convert_case() {
    QLineEdit* l = line();
    const int32_t conversion = values_.word(ep::kCaseConversion);
    if (!l || conversion == 0)
      return;
    const QString text = conversion == 1 ? l->text().toUpper() : l->text().toLower();
    if (text == l->text())
      return;
    const int position = l->cursorPosition();
    l->setText(text);
    l->setCursorPosition(position);
  }

  std::pair<int32_t, int32_t> selection() const {
    if (QLineEdit* l = line()) {
      if (!l->hasSelectedText())
        return {l->cursorPosition(), 0};
      return {l->selectionStart(), static_cast<int32_t>(l->selectedText().size())};
    }
    const QTextCursor c = box()->textCursor();
    return {c.selectionStart(), c.selectionEnd() - c.selectionStart()};
  }

  QString selected_text() const {
    if (QLineEdit* l = line())
      return l->selectedText();
    QString text = box()->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
  }

  void select(int32_t start, int32_t length) {
    if (QLineEdit* l = line()) {
      const int size = static_cast<int>(l->text().size());
      start = std::min(start, size);
      length = std::min(length, size - start);
      if (length > 0) {
        l->setSelection(start, length);
      } else {
        l->setCursorPosition(start);
      }
      return;
    }
    QTextEdit* b = box();
    const int size = b->document()->characterCount() - 1;
    start = std::min(start, size);
    length = std::min(length, size - start);
    QTextCursor c = b->textCursor();
    c.setPosition(start);
    c.setPosition(start + length, QTextCursor::KeepAnchor);
    b->setTextCursor(c);
  }

  void replace_selection(const QString& text) {
    if (QLineEdit* l = line()) {
      l->insert(text);
    } else {
      box()->textCursor().insertText(text);
    }
  }
};

void* edit_box_interface(int32_t number) {
  return unit_interface(number, &EditUnit::create);
}

}  // namespace

const rt::KindDescriptor& edit_box_kind() {
  static const rt::KindDescriptor kind =
      describe_kind(kKindEditBox, rt::kKindRaisesEvents, &edit_box_interface);
  return kind;
}

}  // namespace units
