// The `PicBox` kind: a framed area for a picture. The picture bytes (property 10) are kept as
// the program wrote them and handed back unchanged; every write has them decoded off the window
// thread (units/picture_loader.h), and the box paints the result as its display mode says once
// it is ready, the picture before staying until then. An empty byte set clears the box at once.
// Bytes that do not decode leave the box without a picture, showing its background, and say
// nothing. A GIF with several frames plays while the animation setting is on. Event 0: a left
// click.
#include <QFrame>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <vector>

#include "decoders/picture.h"

#include "units/kinds.h"
#include "units/picture_loader.h"
#include "units/qt_support.h"
#include "units/unit.h"

namespace units {
namespace {

namespace pp = picture_property;

constexpr int32_t kEventClicked = 0;

enum DisplayMode : int32_t { kTopLeft, kScaled, kCentred, kScaledKeepingAspect, kTiled };

// Frames shown faster than this are shown at the common browser default instead.
constexpr int kShortestDelayMs = 20;
constexpr int kDefaultDelayMs = 100;

class PicWidget final : public HookedWidget<QFrame> {
 public:
  using HookedWidget<QFrame>::HookedWidget;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

class PicUnit final : public Unit {
 public:
  PicUnit(const rt::UnitCreateParams& params, PropertyValues values)
      : Unit(params, std::move(values)),
        loader_([this](LoadedPicture picture) { show(std::move(picture)); }) {}

  static rt::UnitObject* create(const rt::UnitCreateParams& params) {
    auto unit = decode_unit<PicUnit>(kKindPicBox, params);
    if (!unit)
      return nullptr;
    auto* w = new PicWidget(static_cast<QWidget*>(params.parent));
    unit->attach(w, params);
    unit->apply_look();
    unit->decode();
    return unit.release();
  }

  void clicked() { raise(kEventClicked); }

  void paint(QPainter& painter, const QRect& area) const {
    if (frames_.empty())
      return;
    const QImage& image = frames_[current_];
    const QSize size = image.size();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(area);
    switch (values_.word(pp::kDisplayMode)) {
      case kScaled:
        painter.drawImage(area, image);
        return;
      case kCentred:
        painter.drawImage(area.x() + (area.width() - size.width()) / 2,
                          area.y() + (area.height() - size.height()) / 2, image);
        return;
      case kScaledKeepingAspect: {
        const QSize fitted = size.scaled(area.size(), Qt::KeepAspectRatio);
        const QRect target(area.x() + (area.width() - fitted.width()) / 2,
                           area.y() + (area.height() - fitted.height()) / 2, fitted.width(),
                           fitted.height());
        painter.drawImage(target, image);
        return;
      }
      case kTiled:
        // A brush tiles the image as it is; a pixmap made per paint would copy all of it.
        painter.setBrushOrigin(area.topLeft());
        painter.fillRect(area, QBrush(image));
        return;
      default:
        painter.drawImage(area.topLeft(), image);
        return;
    }
  }

  // What the box shows, for tests: the number of frames and the current one.
  size_t frame_count() const { return frames_.size(); }

 protected:
  int32_t apply(int32_t index, const PropertyValue& value) override {
    store(index, value);
    if (index == pp::kBorder || index == pp::kBackgroundColour)
      apply_look();
    if (index == pp::kPicture || index == pp::kAnimate)
      decode();
    if (index == pp::kDisplayMode)
      widget()->update();
    return 0;
  }

 public:
  // Has the stored picture bytes decoded; an empty byte set clears the box at once.
  void decode() {
    const std::span<const uint8_t> bytes = values_.bytes(pp::kPicture);
    if (bytes.empty()) {
      loader_.cancel();
      show({});
      return;
    }
    loader_.load(bytes,
                 values_.flag(pp::kAnimate) ? imaging::Frames::kAll : imaging::Frames::kFirstOnly);
  }

 private:
  void show(LoadedPicture picture) {
    frames_ = std::move(picture.frames);
    delays_.clear();
    for (int32_t delay : picture.delays_ms)
      delays_.push_back(delay < kShortestDelayMs ? kDefaultDelayMs : delay);
    current_ = 0;
    if (timer_)
      timer_->stop();
    if (frames_.size() > 1) {
      if (!timer_) {
        timer_ = new QTimer(context());
        timer_->setSingleShot(true);
        QObject::connect(timer_, &QTimer::timeout, context(), [this] { next_frame(); });
      }
      timer_->start(delays_[0]);
    }
    widget()->update();
  }

  void next_frame() {
    current_ = (current_ + 1) % frames_.size();
    timer_->start(delays_[current_]);
    widget()->update();
  }

  std::vector<QImage> frames_;
  std::vector<int> delays_;
  size_t current_ = 0;
  QTimer* timer_ = nullptr;
  PictureLoader loader_;  // last: gone before anything its answer would touch

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

void PicWidget::paintEvent(QPaintEvent* event) {
  if (unit) {
    QPainter painter(this);
    static_cast<const PicUnit*>(unit)->paint(painter, contentsRect());
  }
  QFrame::paintEvent(event);
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
