// Message boxes of the windowing layer.
#pragma once

namespace windowing {

// A modal box with no owner, the error icon and one button; texts are code page 936. Carried to
// the window thread and waited for when called elsewhere. Without an application object it
// writes the text to standard error instead, so a report is never lost.
void show_error_box(const char* caption, const char* text);

}  // namespace windowing
