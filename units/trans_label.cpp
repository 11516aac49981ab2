// The `TransLabel` kind: a caption without a background of its own. Whatever lies beneath it,
// the window or a sibling unit such as the results list, shows around the letters. It lets mouse
// clicks through to that unit and raises no events.
#include <QApplication>
#include <QPainter>
#include <QWidget>

#include "units/kinds.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace lp = label_property;

class LabelWidget final : public HookedWidget<QWidget> {
 public:
  explicit LabelWidget(QWidget* parent) : HookedWidget<QWidget>(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
  }

  QString caption;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
  bool wrap = false;
  int32_t effect = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (caption.isEmpty())
      return;
    QPainter painter(this);
    const int flags = static_cast<int>(alignment) | (wrap ? Qt::TextWordWrap : 0);
    const QColor ink = palette().color(QPalette::WindowText);
    if (effect == 1) {
      painter.setPen(QColor(0, 0, 0, 96));
      painter.drawText(rect().translated(1, 1), flags, caption);
    } else if (effect == 2) {
      painter.setPen(ink.lightness() > 128 ? Qt::black : Qt::white);
      for (const QPoint d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)}) {
        painter.drawText(rect().translated(d), flags, caption);
      }
    }
    painter.setPen(ink);
    painter.drawText(rect(), flags, caption);
  }
};

class LabelUnit final : public Unit {
 public:
  using Unit::Unit;

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto unit = decode_unit<LabelUnit>(kKindTransLabel, params);
    if (!unit)
      return nullptr;
    auto* w = new LabelWidget(static_cast<QWidget*>(params.parent));
    unit->attach(w, params);
    unit->apply_all();
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
    auto* label = static_cast<LabelWidget*>(widget());
    label->caption = to_qt_lines(values_.text(lp::kCaption));
    label->alignment = horizontal_alignment(values_.word(lp::kAlignment)) |
                       vertical_alignment(values_.word(lp::kVerticalAlignment));
    label->wrap = values_.flag(lp::kWordWrap);
    label->effect = values_.word(lp::kTextEffect);
    label->setFont(qt_font(values_.font(lp::kFont), QApplication::font(label)));
    set_palette_colour(label, QPalette::WindowText, values_.word(lp::kTextColour));
    label->update();
  }
};

void* trans_label_interface(int32_t number) {
  return unit_interface(number, &LabelUnit::create);
}

}  // namespace

const rt::KindDescriptor& trans_label_kind() {
  static const rt::KindDescriptor kind = describe_kind(kKindTransLabel, 0, &trans_label_interface);
  return kind;
}

}  // namespace units
