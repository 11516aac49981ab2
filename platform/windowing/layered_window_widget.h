// The widget behind a layered window, for the windowing layer itself and for tests that look at
// what a layered window shows.
#pragma once

#include <QImage>
#include <QWidget>

#include "platform/windowing/layered_window.h"

namespace windowing {

// A top-level window whose whole content is one picture with its alpha channel.
class LayeredWindow : public QWidget {
 public:
  explicit LayeredWindow(QWidget* owner);
  void set_content(QImage content);
  const QImage& content() const { return content_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage content_;
};

}  // namespace windowing
