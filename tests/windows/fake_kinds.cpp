#include "fake_kinds.h"

#include <QTimer>

#include <cstring>

#include "platform/windowing/native_window.h"

namespace fake {

Counters& counters() {
  static Counters c;
  return c;
}

void Widget::closeEvent(QCloseEvent* event) {
  if (!unit || !rt::window_may_close(unit->window_id)) {
    event->ignore();
    return;
  }
  event->accept();
  const auto destroy = [u = unit] {
    rt::raise_unit_event(u->window_id, 0, rt::kEventDestroying);
    delete u;  // takes the widget and its children along
  };
  if (counters().close_deletes_later) {
    hide();
    QTimer::singleShot(0, this, destroy);
    return;
  }
  destroy();
}

rt::NativeWindow FakeUnit::native() const {
  Counters& c = counters();
  if (c.native_watch && c.native_watch(*this))
    c.native_watch = nullptr;
  return widget_;
}

FakeUnit::FakeUnit(QWidget* parent, bool is_top_level) : top_level(is_top_level) {
  widget_ = new Widget(parent);
  if (top_level)
    widget_->setWindowFlag(Qt::Window);
  widget_->unit = this;
  // A widget deleted by its parent takes the unit object with it.
  destroyed_ = QObject::connect(widget_, &QObject::destroyed, [this] {
    widget_ = nullptr;
    counters().destroyed_reports++;
    rt::unit_destroyed(window_id, top_level ? 0 : unit_id);
    delete this;
  });
}

FakeUnit::~FakeUnit() {
  if (widget_) {
    Widget* w = widget_;
    QObject::disconnect(destroyed_);  // only this unit's: the window layer keeps its own
    widget_ = nullptr;
    counters().destroyed_reports++;
    rt::unit_destroyed(window_id, top_level ? 0 : unit_id);
    delete w;
  }
}

namespace {

int32_t read_i32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

rt::UnitObject* create(const rt::UnitCreateParams& p, bool top_level) {
  // Data: int32 text length, text, int32 layout.
  if (p.length < 8)
    return nullptr;
  const int32_t n = read_i32(p.data);
  if (n < 0 || static_cast<size_t>(n) > p.length - 8)
    return nullptr;
  const std::string text(reinterpret_cast<const char*>(p.data) + 4, static_cast<size_t>(n));
  if (!top_level && !counters().refuse.empty() && text == counters().refuse)
    return nullptr;
  auto* unit = new FakeUnit(static_cast<QWidget*>(p.parent), top_level);
  unit->text = text;
  unit->layout = read_i32(p.data + 4 + n);
  unit->widget_->setGeometry(p.left, p.top, p.width, p.height);
  unit->widget_->setEnabled(!(p.style & rt::kStyleDisabled));
  counters().created++;
  return unit;
}

rt::UnitObject* create_window(const rt::UnitCreateParams& p) {
  return create(p, true);
}
rt::UnitObject* create_box(const rt::UnitCreateParams& p) {
  return create(p, false);
}

thread_local std::string g_answer;

rt::PropertyPair get(rt::UnitObject* u, int32_t index) {
  auto* unit = static_cast<FakeUnit*>(u);
  counters().property_thread = std::this_thread::get_id();
  switch (index) {
    case 0:
      g_answer = unit->text;
      return rt::PropertyPair::data(g_answer.data(), g_answer.size());
    case 1:
      return rt::PropertyPair::value(static_cast<uint32_t>(unit->layout));
    case 2:
      return rt::PropertyPair::value(static_cast<uint32_t>(unit->flag));
    case 3:
      return unit->has_font ? rt::PropertyPair::data(&unit->font, sizeof unit->font)
                            : rt::PropertyPair{};
    case 4:
      return rt::PropertyPair::data(unit->bytes.data(), unit->bytes.size());
    default:
      return rt::PropertyPair::value(99);  // a careless kind answers anything
  }
}

int32_t set(rt::UnitObject* u, int32_t index, rt::PropertyPair v) {
  auto* unit = static_cast<FakeUnit*>(u);
  counters().property_thread = std::this_thread::get_id();
  switch (index) {
    case 0:
      unit->text.assign(reinterpret_cast<const char*>(v.first), v.second);
      return 0;
    case 1:
      unit->layout = v.as_int();
      return 1;  // shows only after re-creation
    case 2:
      unit->flag = v.as_int();
      return 0;
    case 3:
      if (v.second == sizeof unit->font) {
        std::memcpy(&unit->font, v.bytes(), sizeof unit->font);
        unit->has_font = true;
      }
      return 0;
    case 4:
      unit->bytes.assign(v.bytes(), v.bytes() + v.second);
      return 0;
    default:
      return 0;
  }
}

std::vector<uint8_t> save(rt::UnitObject* u) {
  auto* unit = static_cast<FakeUnit*>(u);
  return box_data(unit->text, unit->layout);
}

void* window_interface(int32_t n) {
  switch (n) {
    case rt::kInterfaceCreate:
      return reinterpret_cast<void*>(&create_window);
    case rt::kInterfaceSetProperty:
      return reinterpret_cast<void*>(&set);
    case rt::kInterfaceSaveState:
      return reinterpret_cast<void*>(&save);
    case rt::kInterfaceGetProperty:
      return reinterpret_cast<void*>(&get);
    default:
      return nullptr;
  }
}

void* box_interface(int32_t n) {
  if (n == rt::kInterfaceCreate)
    return reinterpret_cast<void*>(&create_box);
  return window_interface(n);
}

const rt::PropertyInfo kProperties[] = {
    {"", "", "", rt::kPropInt, 0, nullptr},       {"", "", "", rt::kPropInt, 0, nullptr},
    {"", "", "", rt::kPropInt, 0, nullptr},       {"", "", "", rt::kPropInt, 0, nullptr},
    {"", "", "", rt::kPropText, 0, nullptr},      {"", "", "", rt::kPropBool, 0, nullptr},
    {"", "", "", rt::kPropBool, 0, nullptr},      {"", "", "", rt::kPropCursor, 0, nullptr},
    {"", "", "", rt::kPropText, 0, nullptr},       // 8 text
    {"", "", "", rt::kPropChoice, 0, nullptr},     // 9 layout: re-create
    {"", "", "", rt::kPropBool, 0, nullptr},       // 10 flag
    {"", "", "", rt::kPropFont, 0, nullptr},       // 11 font
    {"", "", "", rt::kPropBytes1024, 0, nullptr},  // 12 bytes
};

const rt::KindDescriptor kKinds[] = {
    {"窗口", "window", "", rt::kKindRaisesEvents | rt::kKindContainer, 13, kProperties,
     &window_interface},
    {"盒子", "Box", "", rt::kKindRaisesEvents | rt::kKindContainer, 13, kProperties,
     &box_interface},
    {},
    {"哑", "Silent", "", 0, 13, kProperties, &box_interface},
};

}  // namespace

const rt::UnitLibrary& library() {
  static const rt::UnitLibrary kLibrary{"fake", nullptr, kKinds, 4, nullptr, 0};
  return kLibrary;
}

rt::UnitRecord record(uint32_t kind, const char* name, int left, int top, int width, int height,
                      int flags, uint32_t parent, std::vector<rt::EventBinding> events) {
  rt::UnitRecord r;
  r.kind = kind;
  r.name = name;
  r.left = left;
  r.top = top;
  r.width = width;
  r.height = height;
  r.flags = flags;
  r.parent = parent;
  r.cursor_data = {0, 0, 0, 0};
  r.events = std::move(events);
  r.property_data = box_data(name);
  return r;
}

std::vector<uint8_t> box_data(const std::string& text, int32_t layout) {
  std::vector<uint8_t> out(8 + text.size());
  const auto n = static_cast<int32_t>(text.size());
  std::memcpy(out.data(), &n, 4);
  std::memcpy(out.data() + 4, text.data(), text.size());
  std::memcpy(out.data() + 4 + text.size(), &layout, 4);
  return out;
}

}  // namespace fake
