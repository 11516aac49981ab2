// Test support for the unit kinds: a stand-in core that records what the units report, and
// helpers that drive a kind only through its descriptor's interfaces, as the core does.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QWidget>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/windowing/window_thread.h"
#include "runtime/runtime.h"
#include "units/core_link.h"
#include "units/libraries.h"
#include "units/property_data.h"

namespace unit_test {

struct RaisedEvent {
  uint32_t window_id;
  uint32_t unit_id;
  int32_t event;
  std::vector<int32_t> args;
  bool operator==(const RaisedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const RaisedEvent& e) {
  os << "{" << std::hex << e.window_id << "," << e.unit_id << std::dec << ", event " << e.event
     << ", args";
  for (int32_t a : e.args) os << " " << a;
  return os << "}";
}

// Puts itself in place of the core for the units while it lives.
class FakeCore {
 public:
  FakeCore() {
    windowing::start_application();
    current() = this;
    units::set_core_link(&link_);
  }
  ~FakeCore() {
    units::set_core_link(nullptr);
    current() = nullptr;
  }
  FakeCore(const FakeCore&) = delete;
  FakeCore& operator=(const FakeCore&) = delete;

  std::vector<RaisedEvent> events;
  std::vector<std::pair<uint32_t, uint32_t>> destroyed;
  std::vector<void*> natives;
  std::map<std::pair<uint32_t, uint32_t>, rt::UnitObject*> units;
  bool allow_close = true;
  std::vector<int32_t> close_questions;  // window ids asked
  // Called for every raised event, with the chance to answer (return true and set *result).
  std::function<bool(const RaisedEvent&, int32_t* result)> handler;

  void add(rt::UnitObject* unit) { units[{unit->window_id, unit->unit_id}] = unit; }

  std::vector<int32_t> event_numbers(uint32_t unit_id) const {
    std::vector<int32_t> n;
    for (const RaisedEvent& e : events) {
      if (e.unit_id == unit_id)
        n.push_back(e.event);
    }
    return n;
  }

 private:
  static FakeCore*& current() {
    static FakeCore* core = nullptr;
    return core;
  }

  units::CoreLink link_{
      [](uint32_t w, uint32_t u, int32_t event, std::initializer_list<int32_t> args,
         int32_t* result) {
        FakeCore* c = current();
        RaisedEvent e{w, u, event, std::vector<int32_t>(args)};
        c->events.push_back(e);
        int32_t answer = 0;
        if (c->handler && c->handler(e, &answer)) {
          if (result)
            *result = answer;
          return true;
        }
        return false;
      },
      [](uint32_t w) {
        current()->close_questions.push_back(static_cast<int32_t>(w));
        return current()->allow_close;
      },
      [](uint32_t w, uint32_t u) {
        current()->destroyed.emplace_back(w, u);
        current()->units.erase({w, u});
      },
      [](uint32_t w, uint32_t u) -> rt::UnitObject* {
        const auto& m = current()->units;
        const auto it = m.find({w, u});
        return it == m.end() ? nullptr : it->second;
      },
      [](const std::function<void()>& fn) { windowing::run_on_window_thread(fn); },
      [](void* widget) { current()->natives.push_back(widget); },
  };
};

inline const rt::KindDescriptor* descriptor(rt::TypeCode kind) {
  const rt::UnitLibrary& lib =
      (kind >> 16) == 1 ? units::core_unit_library() : units::extended_unit_library();
  const int32_t number = static_cast<int32_t>(kind & 0xFFFF);
  if (number < 1 || number > lib.kind_count)
    return nullptr;
  return &lib.kinds[number - 1];
}

template <class Fn>
Fn kind_interface(rt::TypeCode kind, int32_t number) {
  const rt::KindDescriptor* d = descriptor(kind);
  return d && d->interface_of ? reinterpret_cast<Fn>(d->interface_of(number)) : nullptr;
}

struct Placement {
  int32_t left = 0, top = 0, width = 100, height = 30;
};

// Creates a unit through interface 1 from encoded property data.
inline rt::UnitObject* create_unit(rt::TypeCode kind, const std::vector<uint8_t>& data,
                                   QWidget* parent, Placement at, uint32_t unit_id,
                                   uint32_t window_id = 0x52010001, uint32_t style = 0) {
  auto create = kind_interface<rt::CreateUnitFn>(kind, rt::kInterfaceCreate);
  if (!create)
    return nullptr;
  rt::UnitCreateParams p;
  p.parent = parent;
  p.data = data.data();
  p.length = data.size();
  p.style = style;
  p.left = at.left;
  p.top = at.top;
  p.width = at.width;
  p.height = at.height;
  p.window_id = window_id;
  p.unit_id = unit_id;
  rt::UnitObject* unit = create(p);
  if (unit) {
    unit->window_id = window_id;
    unit->unit_id = unit_id;
    unit->kind = kind;
  }
  return unit;
}

inline QWidget* widget_of(const rt::UnitObject* unit) {
  return unit ? static_cast<QWidget*>(unit->native()) : nullptr;
}

// Interface 6 by full property index.
inline rt::PropertyPair get(rt::UnitObject* unit, int32_t index) {
  auto fn = kind_interface<rt::GetUnitPropertyFn>(unit->kind, rt::kInterfaceGetProperty);
  return fn(unit, index - units::kFirstKindProperty);
}
inline int32_t get_int(rt::UnitObject* unit, int32_t index) {
  return get(unit, index).as_int();
}
inline std::string get_text(rt::UnitObject* unit, int32_t index) {
  const rt::PropertyPair p = get(unit, index);
  return p.first ? std::string(reinterpret_cast<const char*>(p.first), p.second) : std::string();
}

// Interface 4 by full property index.
inline int32_t set(rt::UnitObject* unit, int32_t index, rt::PropertyPair value) {
  auto fn = kind_interface<rt::SetUnitPropertyFn>(unit->kind, rt::kInterfaceSetProperty);
  return fn(unit, index - units::kFirstKindProperty, value);
}
inline int32_t set_int(rt::UnitObject* unit, int32_t index, int32_t value) {
  return set(unit, index, rt::PropertyPair::value(static_cast<uint32_t>(value)));
}
inline int32_t set_text(rt::UnitObject* unit, int32_t index, const char* text) {
  return set(unit, index, rt::PropertyPair{reinterpret_cast<uintptr_t>(text), 0});
}
inline int32_t set_bytes(rt::UnitObject* unit, int32_t index, const std::vector<uint8_t>& bytes) {
  return set(unit, index, rt::PropertyPair::data(bytes.data(), bytes.size()));
}

// Interface 5.
inline std::vector<uint8_t> save_state(rt::UnitObject* unit) {
  auto fn = kind_interface<rt::SaveUnitStateFn>(unit->kind, rt::kInterfaceSaveState);
  return fn(unit);
}

// Runs the window thread's pending work, including deferred deletions.
inline void settle() {
  for (int i = 0; i < 3; ++i) {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Saves a picture of a widget under the program directory's screenshots folder; answers the
// path.
inline std::string save_screenshot(QWidget* widget, const std::string& name) {
  const std::string dir = rt::program_directory() + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  const std::string path = dir + "/" + name + ".png";
  widget->grab().save(QString::fromStdString(path));
  return path;
}

}  // namespace unit_test

namespace unit_test {

// The property values of the start window's units, as its template gives them.
struct StartWindowValues {
  units::PropertyValues window = units::PropertyValues::defaults(units::kKindWindow);
  units::PropertyValues search_box = units::PropertyValues::defaults(units::kKindEditBox);
  units::PropertyValues address_box = units::PropertyValues::defaults(units::kKindEditBox);
  units::PropertyValues poster = units::PropertyValues::defaults(units::kKindPicBox);
  units::PropertyValues address_frame = units::PropertyValues::defaults(units::kKindGroupBox);
  units::PropertyValues poster_frame = units::PropertyValues::defaults(units::kKindGroupBox);
  units::PropertyValues search_button = units::PropertyValues::defaults(units::kKindButton);
  units::PropertyValues play_button = units::PropertyValues::defaults(units::kKindButton);
  units::PropertyValues results = units::PropertyValues::defaults(units::kKindListView);
  units::PropertyValues notice = units::PropertyValues::defaults(units::kKindTransLabel);
  units::PropertyValues status = units::PropertyValues::defaults(units::kKindTransLabel);
  std::vector<uint8_t> poster_bytes;

  StartWindowValues() {
    using namespace units;
    window.set_text(window_property::kCaption, "影视资源搜索工具 V1.1");
    search_box.set_text(edit_property::kContent, "周星驰");
    search_box.set_word(edit_property::kAlignment, 1);
    search_box.set_word(edit_property::kTextColour, colour(88, 48, 224));
    search_box.set_word(edit_property::kBackgroundColour, colour(255, 255, 255));
    address_box.set_word(edit_property::kMultiLine, 1);
    address_box.set_word(edit_property::kScrollBars, 2);
    // A stand-in for the placeholder poster: JPEG markers with zero bytes inside.
    poster_bytes = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0xFF, 0xD9};
    poster.set_bytes(picture_property::kPicture, poster_bytes);
    address_frame.set_text(group_property::kCaption, "下载地址");
    poster_frame.set_text(group_property::kCaption, "图片框");
    search_button.set_text(button_property::kCaption, "搜索");
    play_button.set_text(button_property::kCaption, "在线播放");
    results.set_bytes(list_property::kColumns, encode_columns(result_columns()));
    notice.set_text(label_property::kCaption, "切勿商业化使用，本软件完全免费。");
  }

  static std::vector<units::ListColumn> result_columns() {
    return {{"序号", 50, units::kColumnLeft},  {"集数(清晰度)", 150, units::kColumnLeft},
            {"名称", 180, units::kColumnLeft}, {"地址", 0, units::kColumnLeft},
            {"主演", 279, units::kColumnLeft}, {"图片地址", 0, units::kColumnLeft}};
  }

  // One sample of every kind, for sweeps over all of them.
  std::vector<const units::PropertyValues*> samples() const {
    return {&window,        &search_box,    &address_box, &poster,
            &address_frame, &search_button, &results,     &notice};
  }
};

}  // namespace unit_test
