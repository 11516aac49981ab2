// The skin engine: a small shared library that the program carries inside itself and maps from
// memory. It reads a ".SHE" skin resource (skin_format.h), shifts the skin's colours and hands
// the toolkit an application palette and a style sheet built from them.
//
// Built without exceptions and run-time type information; its only imports are the toolkit's
// functions and a few of the C library's, which the loader finds in the running process. Nothing
// here may keep pointers into the image inside the toolkit (no static string data handed over),
// since the image could be unmapped while the toolkit lives on.
#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPalette>
#include <QString>
#include <QThread>
#include <QWidget>
#include <cstdint>
#include <cstdlib>

#include "skin/engine/skin_format.h"

namespace {

// Set by the image's attach step. A loader that maps the engine without running it gets an
// engine that refuses to work rather than one in an undefined state.
bool g_attached = false;

__attribute__((constructor)) void process_attach() {
  g_attached = true;
}
__attribute__((destructor)) void process_detach() {
  g_attached = false;
}

static_assert(QPalette::WindowText == 0 && QPalette::Window == 10 &&
                  QPalette::PlaceholderText == 20 && QPalette::NColorRoles == 21,
              "palette role numbers of the skin format follow the toolkit's");
static_assert(QPalette::Active == 0 && QPalette::Disabled == 1 && QPalette::Inactive == 2,
              "colour group numbers of the skin format follow the toolkit's");

QPalette::ColorGroup group_of(uint8_t group) {
  switch (group) {
    case 0:
      return QPalette::Active;
    case 1:
      return QPalette::Disabled;
    case 2:
      return QPalette::Inactive;
    default:
      return QPalette::All;
  }
}

// Only on the toolkit's own thread, and only with a widget application to style.
QApplication* widget_application() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || !app->inherits("QApplication"))
    return nullptr;
  if (QThread::currentThread() != app->thread())
    return nullptr;
  return static_cast<QApplication*>(app);
}

// Widgets made before the skin copied the application's colours into palettes of their own; those
// copies follow the skin, while colours a widget chose for itself stay.
void retint_existing_widgets(const QPalette& before, const QPalette& after,
                             const skin_format::Skin& skin) {
  static constexpr QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Disabled,
                                                     QPalette::Inactive};
  const QWidgetList widgets = QApplication::allWidgets();
  for (QWidget* widget : widgets) {
    QPalette palette = widget->palette();
    bool changed = false;
    for (uint16_t i = 0; i < skin.palette_count; ++i) {
      const auto role = static_cast<QPalette::ColorRole>(skin.palette[i].role);
      for (QPalette::ColorGroup group : kGroups) {
        const QColor& old_colour = before.color(group, role);
        const QColor& new_colour = after.color(group, role);
        if (palette.color(group, role) == old_colour && old_colour != new_colour) {
          palette.setColor(group, role, new_colour);
          changed = true;
        }
      }
    }
    if (changed)
      widget->setPalette(palette);
  }
}

// The skin on the heap: a Skin holds fixed tables too large for a comfortable stack frame.
struct Work {
  skin_format::Skin skin;
  skin_format::Colour shifted[skin_format::kMaxColours];
};

}  // namespace

// Applies the skin in `data` to the running application. The password is part of the call's
// shape only: our skins are never locked, so it is not read. Returns 1 when the skin was applied.
extern "C" __attribute__((visibility("default"))) int32_t SkinH_AttachRes(
    const uint8_t* data, int32_t length, const char* /*password*/, int32_t hue, int32_t saturation,
    int32_t brightness) {
  if (!g_attached || data == nullptr || length <= 0)
    return 0;
  QApplication* app = widget_application();
  if (app == nullptr)
    return 0;
  auto* work = static_cast<Work*>(std::calloc(1, sizeof(Work)));
  if (work == nullptr)
    return 0;
  int32_t applied = 0;
  if (skin_format::read_skin(data, static_cast<size_t>(length), &work->skin) ==
      skin_format::Status::kOk) {
    const skin_format::Skin& skin = work->skin;
    for (uint16_t i = 0; i < skin.colour_count; ++i) {
      work->shifted[i] = skin_format::shift(skin.colours[i].colour, hue, saturation, brightness);
    }
    const size_t size = skin_format::expand_rules(skin, work->shifted, nullptr, 0);
    char* rules = static_cast<char*>(std::malloc(size + 1));
    if (rules != nullptr) {
      skin_format::expand_rules(skin, work->shifted, rules, size);
      const QPalette before = QGuiApplication::palette();
      QPalette palette = before;
      for (uint16_t i = 0; i < skin.palette_count; ++i) {
        const skin_format::PaletteEntry& e = skin.palette[i];
        const skin_format::Colour& c = work->shifted[e.colour];
        palette.setColor(group_of(e.group), static_cast<QPalette::ColorRole>(e.role),
                         QColor(c.red, c.green, c.blue));
      }
      QApplication::setPalette(palette);
      retint_existing_widgets(before, palette, skin);
      app->setStyleSheet(QString::fromUtf8(rules, static_cast<qsizetype>(size)));
      std::free(rules);
      applied = 1;
    }
  }
  std::free(work);
  return applied;
}
