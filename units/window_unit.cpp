// The `window` kind: a top-level widget that holds the window's units.
//
// Events: 1 and 12 through the core's close question (a false answer keeps the window open),
// 2 when the window is destroyed, 3 and 4 when a shown window moves or changes size, 10 and 11
// when it is shown or hidden. The core itself raises 0, 3 and 4 after loading, while the window
// is still hidden, so the move and resize that Qt delivers when the window is first shown are
// not raised again.
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "runtime/events.h"
#include "units/core_link.h"
#include "units/kinds.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace wp = window_property;

class WindowUnit;

class WindowWidget final : public HookedWidget<QWidget> {
 public:
  // A window loaded with a parent window belongs to it: it stays above it and goes with it.
  explicit WindowWidget(QWidget* parent) : HookedWidget<QWidget>(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
  }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  WindowUnit* owner() const;
};

class WindowUnit final : public Unit {
 public:
  using Unit::Unit;

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto unit = decode_unit<WindowUnit>(kKindWindow, params);
    if (!unit)
      return nullptr;
    auto* w = new WindowWidget(static_cast<QWidget*>(params.parent));  // deleted on close
    unit->attach(w, params);
    unit->build(w);
    return unit.release();
  }

  void widget_destroyed() override {
    // The units' widgets are still alive here: event 2 runs against a whole window.
    const uint32_t window = window_id;
    const uint32_t own = unit_id;
    raise(rt::kEventDestroying);
    const std::vector<uint32_t> ids = live_unit_ids(window, own);
    const CoreLink& link = core_link();
    for (uint32_t id : ids) link.unit_destroyed(window, id);
    link.unit_destroyed(window, own);
    Unit::widget_destroyed();
  }

  void close_requested(QCloseEvent* event) {
    if (core_link().window_may_close(window_id)) {
      event->accept();
    } else {
      event->ignore();
    }
  }

  void geometry_changed(int32_t event) {
    if (quiet_ == 0 && widget()->isVisible())
      raise(event);
  }

  void visibility_changed(const QEvent* event, int32_t number) {
    if (quiet_ == 0 && !event->spontaneous())
      raise(number);
  }

  enum class KeyAction { kNone, kClose, kNextFocus };
  KeyAction key_action(const QKeyEvent* event) const {
    const int key = event->key();
    if (key == Qt::Key_Escape && values_.flag(wp::kEscapeCloses))
      return KeyAction::kClose;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && values_.flag(wp::kEnterMovesFocus)) {
      return KeyAction::kNextFocus;
    }
    return KeyAction::kNone;
  }

  bool mouse_pressed(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !values_.flag(wp::kDragAnywhere))
      return false;
    QWindow* handle = widget()->windowHandle();
    return handle && handle->startSystemMove();
  }

 protected:
  int32_t apply(int32_t index, const PropertyValue& value) override {
    store(index, value);
    switch (index) {
      case wp::kCaption:
        widget()->setWindowTitle(to_qt(values_.text(wp::kCaption)));
        break;
      case wp::kBackgroundColour:
        set_background(widget(), values_.word(wp::kBackgroundColour));
        break;
      case wp::kBorder:
      case wp::kControlBox:
      case wp::kMaximiseButton:
      case wp::kMinimiseButton:
      case wp::kShowInTaskbar:
      case wp::kAlwaysOnTop:
        apply_flags();
        break;
      default:
        break;
    }
    return 0;
  }

  void refresh(int32_t index) override {
    if (index == wp::kCaption) {
      values_.set_text(index, to_local(widget()->windowTitle()));
    } else if (index == wp::kAlwaysOnTop) {
      values_.set_word(index, widget()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }
  }

 private:
  void build(QWidget* w) {
    w->setWindowTitle(to_qt(values_.text(wp::kCaption)));
    set_background(w, values_.word(wp::kBackgroundColour));
    apply_flags();
    switch (values_.word(wp::kStartPosition)) {
      case 1:
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
          QRect frame = w->frameGeometry();
          frame.moveCenter(screen->availableGeometry().center());
          w->move(frame.topLeft());
        }
        break;
      case 2:
        w->setWindowState(Qt::WindowMinimized);
        break;
      case 3:
        w->setWindowState(Qt::WindowMaximized);
        break;
      default:
        break;
    }
  }

  Qt::WindowFlags window_flags() const {
    const int32_t border = values_.word(wp::kBorder);
    const bool tool = border >= 4 || !values_.flag(wp::kShowInTaskbar);
    Qt::WindowFlags flags = tool ? Qt::Tool : Qt::Window;
    if (border == 0) {
      flags |= Qt::FramelessWindowHint;
    } else {
      flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
      if (values_.flag(wp::kControlBox))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      if (values_.flag(wp::kMaximiseButton))
        flags |= Qt::WindowMaximizeButtonHint;
      if (values_.flag(wp::kMinimiseButton))
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (values_.flag(wp::kAlwaysOnTop))
      flags |= Qt::WindowStaysOnTopHint;
    return flags;
  }

  // New window flags make Qt hide the window; it comes back where it was, without being
  // activated and without the show and hide events of the exchange.
  void apply_flags() {
    QWidget* w = widget();
    const Qt::WindowFlags flags = window_flags();
    if (w->windowFlags() == flags)
      return;
    const bool visible = w->isVisible();
    const QPoint position = w->pos();
    const bool no_activate = w->testAttribute(Qt::WA_ShowWithoutActivating);
    ++quiet_;
    w->setAttribute(Qt::WA_ShowWithoutActivating, true);
    w->setWindowFlags(flags);
    w->move(position);
    if (visible)
      w->show();
    w->setAttribute(Qt::WA_ShowWithoutActivating, no_activate);
    --quiet_;
  }

  int quiet_ = 0;
};

WindowUnit* WindowWidget::owner() const {
  return static_cast<WindowUnit*>(unit);
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  if (WindowUnit* u = owner()) {
    u->close_requested(event);
  } else {
    event->accept();
  }
}

void WindowWidget::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (WindowUnit* u = owner())
    u->geometry_changed(rt::kEventMoved);
}

void WindowWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (WindowUnit* u = owner())
    u->geometry_changed(rt::kEventResized);
}

void WindowWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (WindowUnit* u = owner())
    u->visibility_changed(event, rt::kEventShown);
}

void WindowWidget::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (WindowUnit* u = owner())
    u->visibility_changed(event, rt::kEventHidden);
}

void WindowWidget::keyPressEvent(QKeyEvent* event) {
  const WindowUnit* u = owner();
  switch (u ? u->key_action(event) : WindowUnit::KeyAction::kNone) {
    case WindowUnit::KeyAction::kClose:
      close();
      return;
    case WindowUnit::KeyAction::kNextFocus:
      focusNextChild();
      return;
    case WindowUnit::KeyAction::kNone:
      QWidget::keyPressEvent(event);
      return;
  }
}

void WindowWidget::mousePressEvent(QMouseEvent* event) {
  WindowUnit* u = owner();
  if (u && u->mouse_pressed(event))
    return;
  QWidget::mousePressEvent(event);
}

void* window_interface(int32_t number) {
  return unit_interface(number, &WindowUnit::create);
}

}  // namespace

const rt::KindDescriptor& window_kind() {
  static const rt::KindDescriptor kind =
      describe_kind(kKindWindow, rt::kKindRaisesEvents | rt::kKindContainer, &window_interface);
  return kind;
}

}  // namespace units
