#include "units/unit.h"

#include <algorithm>
#include <cstring>

#include "units/core_link.h"
#include "units/qt_support.h"

namespace units {
namespace {

// Units alive on the window thread, so that a window can name its units when it goes.
std::vector<Unit*>& live_units() {
  static std::vector<Unit*> units;
  return units;
}

Unit* as_unit(rt::UnitObject* object) {
  auto* unit = dynamic_cast<Unit*>(object);
  return unit && unit->widget() ? unit : nullptr;
}

int32_t set_fn(rt::UnitObject* object, int32_t index, rt::PropertyPair value) {
  Unit* unit = as_unit(object);
  return unit ? unit->set_property(index + kFirstKindProperty, value) : 0;
}

rt::PropertyPair get_fn(rt::UnitObject* object, int32_t index) {
  Unit* unit = as_unit(object);
  return unit ? unit->get_property(index + kFirstKindProperty) : rt::PropertyPair{};
}

std::vector<uint8_t> save_fn(rt::UnitObject* object) {
  Unit* unit = as_unit(object);
  return unit ? unit->save_state() : std::vector<uint8_t>{};
}

}  // namespace

Unit::Unit(const rt::UnitCreateParams& params, PropertyValues values)
    : values_(std::move(values)), context_(std::make_unique<QObject>()) {
  window_id = params.window_id;
  unit_id = params.unit_id;
  kind = values_.kind();
  live_units().push_back(this);
}

Unit::~Unit() {
  auto& units = live_units();
  units.erase(std::remove(units.begin(), units.end(), this), units.end());
  QWidget* w = widget_.data();
  if (!w)
    return;
  detach();
  w->hide();
  w->deleteLater();
}

void Unit::attach(QWidget* widget, const rt::UnitCreateParams& params) {
  widget_ = widget;
  if (auto* hook = dynamic_cast<UnitHook*>(widget))
    hook->unit = this;
  if (widget->isWindow()) {
    widget->move(params.left, params.top);
    widget->resize(std::max(0, params.width), std::max(0, params.height));
  } else {
    widget->setGeometry(params.left, params.top, std::max(0, params.width),
                        std::max(0, params.height));
  }
  if (params.style & rt::kStyleDisabled)
    widget->setEnabled(false);
  if (widget->focusPolicy() != Qt::NoFocus) {
    widget->setFocusPolicy(params.style & rt::kStyleTabStop ? Qt::StrongFocus : Qt::ClickFocus);
  }
  widget->hide();
  core_link().register_native(widget);
}

void Unit::detach() {
  if (auto* hook = dynamic_cast<UnitHook*>(widget_.data()))
    hook->unit = nullptr;
  context_ = std::make_unique<QObject>();  // drops the connections to the old widget
  widget_ = nullptr;
}

void Unit::widget_destroyed() {
  detach();
  delete this;  // a unit lives exactly as long as its widget
}

bool Unit::raise(int32_t event, std::initializer_list<int32_t> args, int32_t* result) {
  if (!widget_)
    return false;
  return core_link().raise_event(window_id, unit_id, event, args, result);
}

void Unit::store(int32_t index, const PropertyValue& value) {
  switch (value_form(value.type)) {
    case ValueForm::kWord:
      values_.set_word(index, value.word);
      return;
    case ValueForm::kTwoWords:
      values_.set_two_words(index, value.word, value.high);
      return;
    case ValueForm::kText:
      values_.set_text(index, value.bytes);
      return;
    case ValueForm::kBytes:
      values_.set_bytes(index, std::span(reinterpret_cast<const uint8_t*>(value.bytes.data()),
                                         value.bytes.size()));
      return;
    case ValueForm::kFont:
      values_.set_font(index, value.font);
      return;
  }
}

int32_t Unit::apply(int32_t index, const PropertyValue& value) {
  store(index, value);
  return 0;
}

void Unit::refresh(int32_t) {}

int32_t Unit::set_property(int32_t index, rt::PropertyPair pair) {
  const PropertyValue* current = values_.find(index);
  const rt::PropertyInfo* info = property_info(kind, index);
  if (!current || !info || !widget_)
    return 0;
  PropertyValue value;
  value.type = current->type;
  switch (value_form(value.type)) {
    case ValueForm::kWord:
      value.word = normalised(*info, pair.as_int());
      break;
    case ValueForm::kTwoWords:
      value.word = pair.as_int();
      value.high = static_cast<int32_t>(pair.second);
      break;
    case ValueForm::kText:
      if (const auto* text = reinterpret_cast<const char*>(pair.first))
        value.bytes = text;
      break;
    case ValueForm::kBytes:
      if (pair.bytes() && pair.second > 0) {
        value.bytes.assign(reinterpret_cast<const char*>(pair.bytes()), pair.second);
      }
      break;
    case ValueForm::kFont:
      if (!pair.bytes() || pair.second < sizeof(rt::LogicalFont))
        return 0;
      std::memcpy(&value.font, pair.bytes(), sizeof value.font);
      value.font.face_name[sizeof value.font.face_name - 1] = '\0';
      break;
  }
  return apply(index, value);
}

rt::PropertyPair Unit::get_property(int32_t index) {
  if (!values_.has(index) || !widget_)
    return {};
  refresh(index);
  const PropertyValue& value = *values_.find(index);
  switch (value_form(value.type)) {
    case ValueForm::kWord:
      return rt::PropertyPair::value(static_cast<uint32_t>(value.word));
    case ValueForm::kTwoWords:
      return {static_cast<uint32_t>(value.word), static_cast<uint32_t>(value.high)};
    case ValueForm::kText:
    case ValueForm::kBytes:
      answer_ = value.bytes;
      return rt::PropertyPair::data(answer_.c_str(), answer_.size());
    case ValueForm::kFont:
      font_answer_ =
          has_own_font(value.font) ? value.font : logical_font(widget_->font(), widget_.data());
      return rt::PropertyPair::data(&font_answer_, sizeof font_answer_);
  }
  return {};
}

std::vector<uint8_t> Unit::save_state() {
  if (!widget_)
    return {};
  const KindTable* table = kind_table(kind);
  for (int32_t i = kFirstKindProperty; table && i < table->property_count; ++i) refresh(i);
  return values_.encode();
}

Unit* unit_of(QWidget* widget) {
  auto* hook = dynamic_cast<UnitHook*>(widget);
  return hook ? hook->unit : nullptr;
}

std::vector<uint32_t> live_unit_ids(uint32_t window_id, uint32_t own_unit_id) {
  std::vector<uint32_t> ids;
  for (const Unit* u : live_units()) {
    if (u->window_id != window_id || u->unit_id == own_unit_id || !u->widget())
      continue;
    if (std::find(ids.begin(), ids.end(), u->unit_id) == ids.end())
      ids.push_back(u->unit_id);
  }
  return ids;
}

void* unit_interface(int32_t number, rt::CreateUnitFn create) {
  switch (number) {
    case rt::kInterfaceCreate:
      return reinterpret_cast<void*>(create);
    case rt::kInterfaceSetProperty:
      return reinterpret_cast<void*>(&set_fn);
    case rt::kInterfaceSaveState:
      return reinterpret_cast<void*>(&save_fn);
    case rt::kInterfaceGetProperty:
      return reinterpret_cast<void*>(&get_fn);
    default:
      return nullptr;
  }
}

rt::KindDescriptor describe_kind(rt::TypeCode kind, uint32_t flags,
                                 rt::KindInterfaceFn interface_of) {
  const KindTable* table = kind_table(kind);
  rt::KindDescriptor d;
  if (!table)
    return d;
  d.name = table->name;
  d.english_name = table->english_name;
  d.flags = flags;
  d.property_count = table->property_count;
  d.properties = table->properties;
  d.interface_of = interface_of;
  return d;
}

}  // namespace units
