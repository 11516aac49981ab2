// The common part of every unit kind: a live unit over one Qt widget, its stored property
// values, and the kind interfaces 1, 4, 5 and 6 that the core calls.
//
// Lifetime. A unit lives exactly as long as its widget: destroying the widget (a closed window
// takes its units with it; re-creation destroys the old widget) deletes the unit object. Should
// a unit object be deleted while its widget lives, it hides the widget and lets Qt delete it
// once control is back in the event loop. Window thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "runtime/kinds.h"
#include "runtime/unit_kind.h"
#include "units/property_data.h"

namespace units {

class Unit;

// Lets a widget tell its unit that it is being destroyed.
class UnitHook {
 public:
  virtual ~UnitHook() = default;
  Unit* unit = nullptr;
};

template <class Widget>
class HookedWidget : public Widget, public UnitHook {
 public:
  using Widget::Widget;
  ~HookedWidget() override;
};

class Unit : public rt::UnitObject {
 public:
  Unit(const rt::UnitCreateParams& params, PropertyValues values);
  ~Unit() override;
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;

  rt::NativeWindow native() const override { return widget_.data(); }
  QWidget* widget() const { return widget_.data(); }
  const PropertyValues& values() const { return values_; }

  // Interfaces 4, 6 and 5, by full property index (8 and up).
  int32_t set_property(int32_t index, rt::PropertyPair value);
  rt::PropertyPair get_property(int32_t index);
  std::vector<uint8_t> save_state();

  // From the widget's destructor; deletes the unit.
  virtual void widget_destroyed();

 protected:
  // Takes a new value that has its property's form; answers 1 when the unit must be re-created
  // for it to show. The default keeps the value.
  virtual int32_t apply(int32_t index, const PropertyValue& value);
  // Brings a property's stored value up to date with the widget before it is read or saved.
  virtual void refresh(int32_t index);

  void store(int32_t index, const PropertyValue& value);
  // Takes the widget on: geometry, style bits, hidden until the core shows it, known as a
  // native window.
  void attach(QWidget* widget, const rt::UnitCreateParams& params);
  // Forgets the widget without touching it.
  void detach();
  // Raises one of this unit's events; false when no handler ran. The handler may re-create the
  // unit or close its window, either of which deletes this object: code that goes on using the
  // unit after a raise watches it with a UnitGuard.
  bool raise(int32_t event, std::initializer_list<int32_t> args = {}, int32_t* result = nullptr);
  // Receiver for signal connections: they end with the unit, not with the widget.
  QObject* context() const { return context_.get(); }

  PropertyValues values_;

 private:
  friend class UnitGuard;

  std::shared_ptr<const int> life_ = std::make_shared<const int>(0);  // ends with the unit
  QPointer<QWidget> widget_;
  std::unique_ptr<QObject> context_;
  std::string answer_;
  rt::LogicalFont font_answer_;
};

// Tells whether a unit still exists after a call that may have deleted it.
class UnitGuard {
 public:
  explicit UnitGuard(const Unit& unit) : life_(unit.life_) {}
  bool alive() const { return !life_.expired(); }

 private:
  std::weak_ptr<const int> life_;
};

template <class Widget>
HookedWidget<Widget>::~HookedWidget() {
  if (unit)
    unit->widget_destroyed();
}

// A kind's unit made from its property data; null when the data does not decode.
template <class U>
std::unique_ptr<U> decode_unit(rt::TypeCode kind, const rt::UnitCreateParams& params) {
  auto values = PropertyValues::decode(kind, {params.data, params.length});
  return values ? std::make_unique<U>(params, std::move(*values)) : nullptr;
}

// The unit behind a widget, or null.
Unit* unit_of(QWidget* widget);

// The unit ids of the live units of a window, other than the window's own unit.
std::vector<uint32_t> live_unit_ids(uint32_t window_id, uint32_t own_unit_id);

// Interface lookup for a kind with this create function (1 create, 4 set, 5 save, 6 get).
void* unit_interface(int32_t number, rt::CreateUnitFn create);
// A kind descriptor from the kind's property table.
rt::KindDescriptor describe_kind(rt::TypeCode kind, uint32_t flags,
                                 rt::KindInterfaceFn interface_of);

}  // namespace units
