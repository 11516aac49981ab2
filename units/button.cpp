// The `Button` kind: a push button; a click raises event 0. The button's picture bytes are kept
// for the imaging layer.
#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "units/kinds.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace bp = button_property;

constexpr int32_t kEventClicked = 0;

class ButtonWidget final : public HookedWidget<QPushButton> {
 public:
  using HookedWidget<QPushButton>::HookedWidget;

  // Centred captions are the style's own; others are placed here.
  Qt::Alignment caption_alignment = Qt::AlignCenter;

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (caption_alignment == Qt::AlignCenter) {
      QPushButton::paintEvent(event);
      return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawItemText(contents.adjusted(2, 0, -2, 0),
                         static_cast<int>(caption_alignment) | Qt::TextShowMnemonic, palette(),
                         isEnabled(), text(), QPalette::ButtonText);
  }
};

class ButtonUnit final : public Unit {
 public:
  using Unit::Unit;

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto unit = decode_unit<ButtonUnit>(kKindButton, params);
    if (!unit)
      return nullptr;
    auto* w = new ButtonWidget(static_cast<QWidget*>(params.parent));
    unit->attach(w, params);
    unit->apply_all();
    QObject::connect(w, &QPushButton::clicked, unit->context(),
                     [u = unit.get()] { u->raise(kEventClicked); });
    return unit.release();
  }

 protected:
  int32_t apply(int32_t index, const PropertyValue& value) override {
    store(index, value);
    apply_all();
    return 0;
  }

 private:
  void apply_all() {
    auto* button = static_cast<ButtonWidget*>(widget());
    button->setText(to_qt(values_.text(bp::kCaption)));
    button->setDefault(values_.word(bp::kButtonType) == 1);
    button->setFont(qt_font(values_.font(bp::kFont), QApplication::font(button)));
    button->caption_alignment = horizontal_alignment(values_.word(bp::kHorizontalAlignment)) |
                                vertical_alignment(values_.word(bp::kVerticalAlignment));
    button->update();
  }
};

void* button_interface(int32_t number) {
  return unit_interface(number, &ButtonUnit::create);
}

}  // namespace

const rt::KindDescriptor& button_kind() {
  static const rt::KindDescriptor kind =
      describe_kind(kKindButton, rt::kKindRaisesEvents, &button_interface);
  return kind;
}

}  // namespace units
