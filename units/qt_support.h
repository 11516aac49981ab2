// Carrying unit property values onto Qt widgets and back: texts, colours, fonts, borders and
// alignments.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <string>
#include <string_view>

#include "runtime/unit_kind.h"

class QFrame;
class QWidget;

namespace units {

// Program texts are code page 936; Qt wants UTF-16.
QString to_qt(std::string_view local);
std::string to_local(const QString& text);
// Multi-line contents: the program writes line breaks as CR LF, Qt as LF.
QString to_qt_lines(std::string_view local);
std::string to_local_lines(const QString& text);

// 0x00BBGGRR colours. kColourNone is a transparent colour and reads back as kColourNone.
QColor qt_colour(int32_t colour);
int32_t colour_value(const QColor& colour);

// Sets `role` of the widget's palette for the active and inactive states; kColourDefault puts
// the application's own colour back.
void set_palette_colour(QWidget* widget, QPalette::ColorRole role, int32_t colour);
int32_t palette_colour(const QWidget* widget, QPalette::ColorRole role);
// A background colour: filled in the given colour, or not filled for kColourDefault (the parent's
// or the style's colour shows) and kColourNone.
void set_background(QWidget* widget, int32_t colour);

// The widget's font with a font record applied; a record without a face name leaves `base`.
QFont qt_font(const rt::LogicalFont& font, const QFont& base);
// The record of a widget's Qt font; the height is negative (a character height in pixels). A
// size in points becomes pixels at the resolution of the widget's screen, as the core converts.
rt::LogicalFont logical_font(const QFont& font, const QWidget* widget);

// Border choices 0 to 5 (units::Border) on a frame.
void apply_border(QFrame* frame, int32_t border);

// Choices 0 left, 1 centred, 2 right, and 0 top, 1 centred, 2 bottom.
Qt::Alignment horizontal_alignment(int32_t choice);
Qt::Alignment vertical_alignment(int32_t choice);

// Whether a selection stays drawn while the widget does not hold the focus.
void show_selection_without_focus(QWidget* widget, bool shown);

}  // namespace units
