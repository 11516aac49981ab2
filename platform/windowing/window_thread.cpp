#include "platform/windowing/window_thread.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <thread>

namespace windowing {
namespace {

std::atomic<std::thread::id> g_window_thread{};

int g_argc = 1;
char g_arg0[] = "filmfinder";
char* g_argv[] = {g_arg0, nullptr};

}  // namespace

void start_application() {
  if (!QCoreApplication::instance()) {
    // The program takes no command line; Qt gets only a program name.
    new QApplication(g_argc, g_argv);  // lives until the process ends
    QApplication::setQuitOnLastWindowClosed(false);
  }
  record_window_thread();
}

void record_window_thread() { g_window_thread.store(std::this_thread::get_id()); }

bool on_window_thread() { return g_window_thread.load() == std::this_thread::get_id(); }

bool has_application() { return QCoreApplication::instance() != nullptr; }

bool run_on_window_thread(const std::function<void()>& fn) {
  if (on_window_thread()) {
    fn();
    return true;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  if (app->thread() == QThread::currentThread()) {
    fn();
    return true;
  }
  return QMetaObject::invokeMethod(app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

bool post_to_window_thread(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  return QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void process_pending_messages() {
  if (QCoreApplication::instance() && on_window_thread()) QCoreApplication::processEvents();
}

}  // namespace windowing
