#include "platform/windowing/message_box.h"

#include <QMessageBox>
#include <cstdio>

#include "platform/kernel/codepage.h"
#include "platform/windowing/window_thread.h"

namespace windowing {

void show_error_box(const char* caption, const char* text) {
  const QString title = QString::fromStdU16String(kernel::local_to_utf16(caption));
  const QString body = QString::fromStdU16String(kernel::local_to_utf16(text));
  const bool shown = has_application() && run_on_window_thread([&] {
                       QMessageBox box(QMessageBox::Critical, title, body, QMessageBox::Ok);
                       box.exec();
                     });
  if (!shown)
    std::fprintf(stderr, "%s\n", body.toUtf8().constData());
}

}  // namespace windowing
