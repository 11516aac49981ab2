#include "platform/windowing/native_window.h"

#include <QApplication>
#include <QWidget>
#include <unordered_set>

namespace windowing {
namespace {

std::unordered_set<void*>& live() {
  static auto* set = new std::unordered_set<void*>;  // window thread only
  return *set;
}

QWidget* widget(Handle h) {
  return is_window(h) ? static_cast<QWidget*>(h) : nullptr;
}

}  // namespace

void register_native(Handle h) {
  auto* w = static_cast<QWidget*>(h);
  if (!w || !live().insert(h).second)
    return;
  QObject::connect(w, &QObject::destroyed, [h] { live().erase(h); });
}

bool is_window(Handle h) {
  return h && live().count(h) != 0;
}

Rect geometry_in_parent(Handle h) {
  QWidget* w = widget(h);
  if (!w)
    return {};
  // A top-level window's size is its client area: the frame is the window manager's and its
  // size is not known before the window is mapped, so sizes read back as they were set.
  if (w->isWindow())
    return {w->pos().x(), w->pos().y(), w->width(), w->height()};
  const QRect g = w->geometry();
  return {g.x(), g.y(), g.width(), g.height()};
}

void move(Handle h, int left, int top) {
  if (QWidget* w = widget(h))
    w->move(left, top);
}

void resize(Handle h, int width, int height) {
  if (QWidget* w = widget(h))
    w->resize(width, height);
}

bool is_visible(Handle h) {
  QWidget* w = widget(h);
  return w && w->isVisible();
}

void set_visible(Handle h, bool visible) {
  if (QWidget* w = widget(h))
    w->setVisible(visible);
}

void show_no_activate(Handle h) {
  QWidget* w = widget(h);
  if (!w)
    return;
  const bool was = w->testAttribute(Qt::WA_ShowWithoutActivating);
  w->setAttribute(Qt::WA_ShowWithoutActivating, true);
  w->show();
  w->setAttribute(Qt::WA_ShowWithoutActivating, was);
}

bool is_enabled(Handle h) {
  QWidget* w = widget(h);
  return w && w->isEnabled();
}

void set_enabled(Handle h, bool enabled) {
  if (QWidget* w = widget(h))
    w->setEnabled(enabled);
}

Handle parent_of(Handle h) {
  QWidget* w = widget(h);
  return w ? w->parentWidget() : nullptr;
}

void set_parent(Handle h, Handle parent) {
  QWidget* w = widget(h);
  QWidget* p = widget(parent);
  if (!w || !p || w->parentWidget() == p)
    return;
  const QPoint pos = w->pos();
  const bool visible = w->isVisibleTo(w->parentWidget());
  w->setParent(p);
  w->move(pos);
  w->setVisible(visible);
}

void stack_below(Handle h, Handle sibling) {
  QWidget* w = widget(h);
  if (!w)
    return;
  QWidget* s = widget(sibling);
  if (s && s->parentWidget() == w->parentWidget()) {
    w->stackUnder(s);
  } else {
    w->raise();
  }
}

bool is_top_level(Handle h) {
  QWidget* w = widget(h);
  return w && w->isWindow();
}

bool is_minimised(Handle h) {
  QWidget* w = widget(h);
  return w && w->isMinimized();
}

void restore_or_activate(Handle h) {
  QWidget* w = widget(h);
  if (!w)
    return;
  if (w->isMinimized()) {
    w->showNormal();
  } else {
    w->raise();
    w->activateWindow();
  }
}

void set_always_on_top(Handle h, bool on_top) {
  QWidget* w = widget(h);
  if (!w || w->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on_top)
    return;
  const bool visible = w->isVisible();
  // Changing window flags re-creates the platform window; keep it where and as it was.
  const QRect geometry = w->geometry();
  w->setWindowFlag(Qt::WindowStaysOnTopHint, on_top);
  w->setGeometry(geometry);
  if (visible)
    show_no_activate(h);
}

bool is_always_on_top(Handle h) {
  QWidget* w = widget(h);
  return w && w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void destroy(Handle h) {
  delete widget(h);
}

void repaint(Handle h) {
  if (QWidget* w = widget(h))
    w->update();
}

Handle focus_window() {
  return QApplication::focusWidget();
}

void set_focus(Handle h) {
  if (QWidget* w = widget(h))
    w->setFocus();
}

}  // namespace windowing
