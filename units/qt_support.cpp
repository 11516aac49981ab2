#include "units/qt_support.h"

#include <QApplication>
#include <QFrame>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/windowing/font_size.h"
#include "runtime/imports.h"
#include "units/property_data.h"

namespace units {
namespace {

// The kernel's code-page functions, reached through the program's dynamic-library command table
// like every other caller of a platform library.
using MultiByteToWideCharFn = int(uint32_t, uint32_t, const char*, int, char16_t*, int);
using WideCharToMultiByteFn = int(uint32_t, uint32_t, const char16_t*, int, char*, int, const char*,
                                  int*);

constexpr uint32_t kLocalCodePage = 936;

}  // namespace

// Flags 0: input that does not decode becomes U+FFFD, a unit without a local form "?". Every
// byte gives at most one unit and every unit at most two bytes, so one call always has room.
QString to_qt(std::string_view local) {
  if (local.empty() || local.size() > INT_MAX)
    return {};
  const int length = static_cast<int>(local.size());
  std::u16string units(local.size(), u'\0');
  const int written = rt::dll_function<MultiByteToWideCharFn>(rt::kImportMultiByteToWideChar)(
      kLocalCodePage, 0, local.data(), length, units.data(), length);
  return QString::fromUtf16(units.data(), written);
}

std::string to_local(const QString& text) {
  if (text.isEmpty() || text.size() > INT_MAX / 2)
    return {};
  const int length = static_cast<int>(text.size());
  std::string bytes(text.size() * 2, '\0');
  const int written = rt::dll_function<WideCharToMultiByteFn>(rt::kImportWideCharToMultiByte)(
      kLocalCodePage, 0, reinterpret_cast<const char16_t*>(text.utf16()), length, bytes.data(),
      2 * length, nullptr, nullptr);
  bytes.resize(static_cast<size_t>(written));
  return bytes;
}

QString to_qt_lines(std::string_view local) {
  QString text = to_qt(local);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

std::string to_local_lines(const QString& text) {
  QString crlf = text;
  crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return to_local(crlf);
}

QColor qt_colour(int32_t colour) {
  if (colour == kColourNone)
    return QColor(Qt::transparent);
  const auto v = static_cast<uint32_t>(colour);
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>((v >> 16) & 0xFF));
}

int32_t colour_value(const QColor& c) {
  if (c.alpha() == 0)
    return kColourNone;
  return units::colour(c.red(), c.green(), c.blue());
}

void set_palette_colour(QWidget* widget, QPalette::ColorRole role, int32_t colour) {
  QPalette palette = widget->palette();
  if (colour == kColourDefault) {
    const QPalette own = QApplication::palette(widget);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      palette.setColor(group, role, own.color(group, role));
    }
  } else {
    const QColor c = qt_colour(colour);
    palette.setColor(QPalette::Active, role, c);
    palette.setColor(QPalette::Inactive, role, c);
  }
  widget->setPalette(palette);
}

int32_t palette_colour(const QWidget* widget, QPalette::ColorRole role) {
  return colour_value(widget->palette().color(QPalette::Active, role));
}

void set_background(QWidget* widget, int32_t colour) {
  const bool filled = colour != kColourDefault && colour != kColourNone;
  set_palette_colour(widget, QPalette::Window, filled ? colour : kColourDefault);
  widget->setAutoFillBackground(filled);
}

QFont qt_font(const rt::LogicalFont& font, const QFont& base) {
  if (!has_own_font(font))
    return base;
  QFont f = base;
  f.setFamilies({to_qt(face_name(font))});
  if (font.height != 0) {
    f.setPixelSize(std::max(1, std::abs(font.height)));
  }
  if (font.weight > 0) {
    f.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight, 100, 900)));
  } else {
    f.setWeight(QFont::Normal);
  }
  f.setItalic(font.italic != 0);
  f.setUnderline(font.underline != 0);
  f.setStrikeOut(font.strike_out != 0);
  return f;
}

rt::LogicalFont logical_font(const QFont& font, const QWidget* widget) {
  int pixels = font.pixelSize();
  if (pixels <= 0) {
    pixels = windowing::font_pixels(font.pointSizeF(), const_cast<QWidget*>(widget));
  }
  rt::LogicalFont f = make_font(to_local(font.family()), -pixels, font.weight());
  f.italic = font.italic() ? 1 : 0;
  f.underline = font.underline() ? 1 : 0;
  f.strike_out = font.strikeOut() ? 1 : 0;
  return f;
}

void apply_border(QFrame* frame, int32_t border) {
  frame->setMidLineWidth(0);
  switch (border) {
    case kBorderNone:
      frame->setFrameStyle(QFrame::NoFrame);
      return;
    case kBorderRaised:
      frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
      frame->setLineWidth(2);
      return;
    case kBorderShallow:
      frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      frame->setLineWidth(1);
      return;
    case kBorderBump:
      frame->setFrameStyle(QFrame::Box | QFrame::Raised);
      frame->setLineWidth(1);
      return;
    case kBorderLine:
      frame->setFrameStyle(QFrame::Box | QFrame::Plain);
      frame->setLineWidth(1);
      return;
    default:
      frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      frame->setLineWidth(1);
      return;
  }
}

Qt::Alignment horizontal_alignment(int32_t choice) {
  switch (choice) {
    case 1:
      return Qt::AlignHCenter;
    case 2:
      return Qt::AlignRight;
    default:
      return Qt::AlignLeft;
  }
}

Qt::Alignment vertical_alignment(int32_t choice) {
  switch (choice) {
    case 1:
      return Qt::AlignVCenter;
    case 2:
      return Qt::AlignBottom;
    default:
      return Qt::AlignTop;
  }
}

void show_selection_without_focus(QWidget* widget, bool shown) {
  QPalette palette = widget->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  if (!shown) {
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Inactive, QPalette::Base));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Inactive, QPalette::Text));
  }
  widget->setPalette(palette);
}

}  // namespace units
