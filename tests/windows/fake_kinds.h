// A small unit library of our own for testing the window core apart from the real unit kinds:
// a window kind and a box kind over plain Qt widgets.
#pragma once

#include <QCloseEvent>
#include <QWidget>
#include <string>
#include <thread>
#include <vector>

#include "runtime/events.h"
#include "runtime/kinds.h"
#include "runtime/runtime.h"
#include "runtime/template_data.h"
#include "runtime/unit_kind.h"

namespace fake {

inline constexpr uint32_t kWindowKind = 0x10001;
inline constexpr uint32_t kBoxKind = 0x10002;
inline constexpr uint32_t kSilentKind = 0x10003 + 1;  // a kind that raises no events

class FakeUnit;

// Box properties from index 8: 8 text, 9 "layout" (answers re-create), 10 a flag, 11 font,
// 12 bytes; the table ends there. A window is a top-level widget, also when it has a parent.
struct Counters {
  int created = 0;
  int destroyed_reports = 0;
  std::vector<uint32_t> notifications;
  // Creating a box whose text is this one fails, as a kind fails on bad data.
  std::string refuse;
  // Called whenever a unit's native window is asked for, until it answers true.
  bool (*native_watch)(const FakeUnit& unit) = nullptr;
  // The thread that ran the last property get or set of a kind.
  std::thread::id property_thread;
  // A window accepted for closing is hidden at once and deleted with the next messages, as
  // widgets that delete themselves on close are.
  bool close_deletes_later = false;
};
Counters& counters();

class Widget : public QWidget {
 public:
  explicit Widget(QWidget* parent) : QWidget(parent) {}
  FakeUnit* unit = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

class FakeUnit : public rt::UnitObject {
 public:
  FakeUnit(QWidget* parent, bool top_level);
  ~FakeUnit() override;
  rt::NativeWindow native() const override;
  void notify(uint32_t code) override { counters().notifications.push_back(code); }

  Widget* widget_ = nullptr;
  std::string text;
  int32_t layout = 0;
  int32_t flag = 0;
  rt::LogicalFont font{};
  bool has_font = false;
  std::vector<uint8_t> bytes;
  bool top_level = false;
  QMetaObject::Connection destroyed_;
};

const rt::UnitLibrary& library();

// Template building helpers.
rt::UnitRecord record(uint32_t kind, const char* name, int left, int top, int width, int height,
                      int flags, uint32_t parent = 0, std::vector<rt::EventBinding> events = {});
std::vector<uint8_t> box_data(const std::string& text, int32_t layout = 0);

}  // namespace fake
