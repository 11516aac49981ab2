// The `PicBox` kind: a framed area for a picture. The picture bytes (property 10) are kept as
// the program wrote them and handed back unchanged; turning them into pixels belongs to the
// imaging layer, so until then the box shows its frame and background. Event 0: a left click.
#include <QFrame>
#include <QMouseEvent>

#include "units/kinds.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace pp = picture_property;

constexpr int32_t kEventClicked = 0;

class PicWidget final : public HookedWidget<QFrame> {
 public:
  using HookedWidget<QFrame>::HookedWidget;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class PicUnit final : public Unit {
 public:
  using Unit::Unit;

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto values = PropertyValues::decode(kKindPicBox, {params.data, params.length});
    if (!values)
      return nullptr;
    auto unit = std::make_unique<PicUnit>(params, std::move(*values));
    auto* w = new PicWidget(static_cast<QWidget*>(params.parent));
    unit->attach(w, params);
    unit->apply_look();
    return unit.release();
  }

  void clicked() { raise(kEventClicked); }

 protected:
  int32_t apply(int32_t index, const PropertyValue& value) override {
    store(index, value);
    if (index == pp::kBorder || index == pp::kBackgroundColour)
      apply_look();
    if (index == pp::kPicture)
      widget()->update();
    return 0;
  }

 private:
  void apply_look() {
    auto* frame = static_cast<QFrame*>(widget());
    apply_border(frame, values_.word(pp::kBorder));
    set_background(frame, values_.word(pp::kBackgroundColour));
  }
};

void PicWidget::mouseReleaseEvent(QMouseEvent* event) {
  QFrame::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && unit && rect().contains(event->position().toPoint())) {
    static_cast<PicUnit*>(unit)->clicked();
  }
}

void* pic_box_interface(int32_t number) {
  return unit_interface(number, &PicUnit::create);
}

}  // namespace

const rt::KindDescriptor& pic_box_kind() {
  static const rt::KindDescriptor kind =
      describe_kind(kKindPicBox, rt::kKindRaisesEvents, &pic_box_interface);
  return kind;
}

}  // namespace units
