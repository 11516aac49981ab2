#include "platform/windowing/layered_window.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/windowing/layered_window_widget.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define FF_HAVE_XCB 1
#endif

namespace windowing {
namespace {

std::optional<bool> g_forced_translucency;

#ifdef FF_HAVE_XCB
// A compositing manager owns the selection _NET_WM_CM_S<screen>.
bool x11_compositor_running() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection())
    return false;
  xcb_connection_t* c = x11->connection();
  const std::string name = "_NET_WM_CM_S0";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  if (!atom)
    return false;
  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
  const bool running = owner && owner->owner != XCB_NONE;
  free(owner);
  free(atom);
  return running;
}
#endif

}  // namespace

bool translucency_available() {
  if (g_forced_translucency)
    return *g_forced_translucency;
#ifdef FF_HAVE_XCB
  if (QGuiApplication::platformName() == "xcb")
    return x11_compositor_running();
#endif
  return false;
}

void force_translucency(std::optional<bool> answer) {
  g_forced_translucency = answer;
}

// ---- the window --------------------------------------------------------------------------------

LayeredWindow::LayeredWindow(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                         Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LayeredWindow::set_content(QImage content) {
  content_ = std::move(content);
  update();
}

void LayeredWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(rect(), Qt::transparent);
  if (!content_.isNull())
    p.drawImage(0, 0, content_);
}

void set_layered_content(LayeredWindow* window, int32_t width, int32_t height,
                         std::span<const uint32_t> argb) {
  const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  const size_t h = height > 0 ? static_cast<size_t>(height) : 0;
  if (w == 0 || h == 0 || argb.size() != w * h) {
    window->resize(0, 0);
    window->set_content({});
    return;
  }
  window->resize(width, height);
  QImage content(width, height, QImage::Format_ARGB32);
  for (size_t y = 0; y < h; ++y)
    std::memcpy(content.scanLine(static_cast<int>(y)), argb.data() + y * w, w * 4);
  window->set_content(std::move(content));
}

// ---- following a target ------------------------------------------------------------------------

// The event filter on the target takes the place of a replaced window procedure.
class LayeredFollower::Tracker : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != target.data() || !window)
      return false;
    switch (event->type()) {
      case QEvent::Move:
        place();
        break;
      case QEvent::Close:
        close();
        if (closed)
          closed();
        break;
      case QEvent::Hide:
        window->hide();
        break;
      case QEvent::Show:
        window->show();
        break;
      default:
        break;
    }
    return false;
  }

  void place() {
    const QRect r = target->frameGeometry();
    window->setGeometry(r.left() - margin, r.top() - margin, r.width() + 2 * margin,
                        r.height() + 2 * margin);
  }

  void close() {
    if (window)
      window->deleteLater();
    window = nullptr;
    if (target)
      target->removeEventFilter(this);
  }

  QPointer<QWidget> target;
  QPointer<LayeredWindow> window;
  int32_t margin = 0;
  std::function<void()> closed;
};

LayeredFollower::LayeredFollower() : tracker_(std::make_unique<Tracker>()) {}
LayeredFollower::~LayeredFollower() = default;

bool LayeredFollower::open(Handle target, int32_t margin) {
  auto* widget = static_cast<QWidget*>(target);
  if (tracker_->window || !widget)
    return false;
  tracker_->margin = margin;
  tracker_->target = widget;
  tracker_->window = new LayeredWindow(widget);  // owned by the target
  return true;
}

void LayeredFollower::follow() {
  if (tracker_->target)
    tracker_->target->installEventFilter(tracker_.get());
}

void LayeredFollower::set_margin(int32_t margin) {
  tracker_->margin = margin;
}

void LayeredFollower::on_target_closed(std::function<void()> callback) {
  tracker_->closed = std::move(callback);
}

bool LayeredFollower::is_open() const {
  return tracker_->window && tracker_->target;
}
LayeredWindow* LayeredFollower::window() const {
  return tracker_->window.data();
}

Rect LayeredFollower::target_frame() const {
  const QRect r = tracker_->target->frameGeometry();
  return {r.left(), r.top(), r.width(), r.height()};
}

void LayeredFollower::place() {
  tracker_->place();
}
void LayeredFollower::move(int32_t left, int32_t top) {
  tracker_->window->move(left, top);
}
void LayeredFollower::resize(int32_t width, int32_t height) {
  tracker_->window->resize(width, height);
}

void LayeredFollower::set_shape(std::span<const Rect> rectangles) {
  std::vector<QRect> rects;
  rects.reserve(rectangles.size());
  for (const Rect& r : rectangles) rects.emplace_back(r.left, r.top, r.width, r.height);
  QRegion region;
  region.setRects(rects.data(), static_cast<int>(rects.size()));
  tracker_->window->setMask(region);
}

void LayeredFollower::show_below() {
  tracker_->window->show();
  tracker_->window->lower();
}

void LayeredFollower::close() {
  tracker_->close();
}

}  // namespace windowing
