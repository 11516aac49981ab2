// The `GroupBox` kind: a titled frame. It is a container: the core moves the units it holds
// onto it, and onto the new widget when it is re-created.
#include <QApplication>
#include <QGroupBox>

#include "units/kinds.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace gp = group_property;

class GroupUnit final : public Unit {
 public:
  using Unit::Unit;

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto unit = decode_unit<GroupUnit>(kKindGroupBox, params);
    if (!unit)
      return nullptr;
    auto* w = new HookedWidget<QGroupBox>(static_cast<QWidget*>(params.parent));
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
    auto* box = static_cast<QGroupBox*>(widget());
    box->setTitle(to_qt(values_.text(gp::kCaption)));
    box->setAlignment(static_cast<int>(horizontal_alignment(values_.word(gp::kCaptionAlignment))));
    box->setFont(qt_font(values_.font(gp::kFont), QApplication::font(box)));
    set_palette_colour(box, QPalette::WindowText, values_.word(gp::kTextColour));
    set_background(box, values_.word(gp::kBackgroundColour));
  }
};

void* group_box_interface(int32_t number) {
  return unit_interface(number, &GroupUnit::create);
}

}  // namespace

const rt::KindDescriptor& group_box_kind() {
  static const rt::KindDescriptor kind =
      describe_kind(kKindGroupBox, rt::kKindContainer, &group_box_interface);
  return kind;
}

}  // namespace units
