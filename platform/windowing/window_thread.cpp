#include "platform/windowing/window_thread.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace windowing {
namespace {

// Qt's event queue is locked inside Qt, out of the thread sanitizer's sight: a release when a
// call is posted and an acquire when it arrives tell it that the window thread sees what the
// poster wrote.
void handed_over(void* p) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(p);
#else
  (void)p;
#endif
}
void taken_over(void* p) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(p);
#else
  (void)p;
#endif
}

const QEvent::Type kPostedCall = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedCall final : public QEvent {
 public:
  explicit PostedCall(std::function<void()> call) : QEvent(kPostedCall), fn(std::move(call)) {}
  std::function<void()> fn;
};

std::atomic<std::thread::id> g_window_thread{};

int g_argc = 1;
char g_arg0[] = "filmfinder";
char* g_argv[] = {g_arg0, nullptr};

// The name of the desktop entry, the icons and the AppStream data: the desktop matches windows
// to the menu entry by it.
constexpr char kApplicationId[] = "io.github.filmfinder.FilmFinder";

// Where the installed icon lies from the program's folder (set by the install rules).
#ifndef FF_ICON_FROM_PROGRAM
#define FF_ICON_FROM_PROGRAM "io.github.filmfinder.FilmFinder.png"
#endif

// The icon theme's icon; else the installed icon found from the program's folder, for an install
// under a prefix the desktop does not search; else the copy the build puts beside the program.
QIcon application_icon() {
  QIcon icon = QIcon::fromTheme(QString::fromLatin1(kApplicationId));
  if (!icon.isNull())
    return icon;
  const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
  for (const char* relative : {FF_ICON_FROM_PROGRAM, "io.github.filmfinder.FilmFinder.png"}) {
    const QString file = folder + QString::fromUtf8(relative);
    if (QFileInfo::exists(file))
      return QIcon(file);
  }
  return icon;
}

}  // namespace

void start_application() {
  if (!QCoreApplication::instance()) {
    // The program takes no command line; Qt gets only a program name.
    new QApplication(g_argc, g_argv);  // lives until the process ends
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    QApplication::setWindowIcon(application_icon());
  }
  record_window_thread();
}

void record_window_thread() {
  g_window_thread.store(std::this_thread::get_id());
}

bool on_window_thread() {
  return g_window_thread.load() == std::this_thread::get_id();
}

bool has_application() {
  return QCoreApplication::instance() != nullptr;
}

namespace {

// Calls from other threads wait in one queue. The window thread drains it in bursts: after a
// call it waits a moment for the worker's next one before it goes back to its event loop, so a
// worker filling a list in many small calls costs one layout and one repaint per burst, not one
// per call. A burst ends when no call comes within kIdleWait, or after kMaxBurst so that the
// window keeps painting.
constexpr auto kIdleWait = std::chrono::microseconds(800);
constexpr auto kMaxBurst = std::chrono::milliseconds(8);

// Both sides look for the other's answer for a few microseconds before they sleep: a worker
// making call after call is answered without two thread wake-ups per call.
constexpr auto kSpin = std::chrono::microseconds(20);

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

// A waiting call points at its caller's function and is marked done; a queued call owns its
// function and is deleted once it has run.
struct Call {
  const std::function<void()>* fn = nullptr;
  std::atomic<bool> done = false;
  std::function<void()> owned;
  bool queued = false;
};

// Queued calls not yet run beyond which a queuing caller waits.
constexpr size_t kMaxQueued = 4096;

struct CallQueue {
  std::mutex lock;
  std::condition_variable arrived;
  std::condition_variable finished;
  std::deque<Call*> calls;
  std::atomic<size_t> waiting = 0;  // calls.size(), readable without the lock
  // A drain message is on its way: a new call needs no other.
  bool drain_posted = false;
  // A drain is between calls and will see a new one: it needs no message either. A drain
  // running a call is not, since the call may run a nested loop of its own.
  bool draining = false;

  // Whether a caller that has just added a call must post a drain for it.
  bool needs_drain() const { return !drain_posted && !draining; }
};

// Spins until pred() holds or kSpin has passed; whether it holds.
template <typename Pred>
bool spin_until(Pred pred) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (;;) {
    for (int i = 0; i < 32; ++i) {
      if (pred())
        return true;
      cpu_relax();
    }
    if (std::chrono::steady_clock::now() >= until)
      return pred();
  }
}

CallQueue& call_queue() {
  static auto* queue = new CallQueue;  // lives until the process ends
  return *queue;
}

void post_drain(QCoreApplication* app);

void drain() {
  CallQueue& q = call_queue();
  const auto deadline = std::chrono::steady_clock::now() + kMaxBurst;
  std::unique_lock guard(q.lock);
  q.drain_posted = false;
  // A drain whose calls an earlier one has run meanwhile has nothing to wait for: waiting for
  // a next call is for a worker in the middle of its calls.
  if (q.calls.empty())
    return;
  q.draining = true;
  for (;;) {
    if (q.calls.empty()) {
      guard.unlock();
      spin_until([&q] { return q.waiting.load(std::memory_order_acquire) != 0; });
      guard.lock();
      if (q.calls.empty())
        q.arrived.wait_for(guard, kIdleWait, [&q] { return !q.calls.empty(); });
    }
    if (q.calls.empty()) {
      q.draining = false;
      return;
    }
    Call* call = q.calls.front();
    q.calls.pop_front();
    q.waiting.store(q.calls.size(), std::memory_order_release);
    // A call may run a nested loop (a modal window, a message box): calls arriving meanwhile
    // must be able to post a drain of their own.
    q.draining = false;
    guard.unlock();
    (*call->fn)();
    const bool queued = call->queued;
    if (queued)
      delete call;
    guard.lock();
    if (!queued)
      call->done.store(true, std::memory_order_release);
    q.finished.notify_all();
    if (std::chrono::steady_clock::now() >= deadline) {
      if (!q.calls.empty() && !q.drain_posted)
        post_drain(QCoreApplication::instance());
      return;
    }
    q.draining = true;
  }
}

// The receiver of calls posted to the window thread, made for the application object of the
// moment and living on its thread until the process ends.
CallReceiver* window_thread_receiver(QCoreApplication* app) {
  static std::mutex lock;
  static CallReceiver* receiver = nullptr;
  static QCoreApplication* made_for = nullptr;
  std::lock_guard guard(lock);
  if (!receiver || made_for != app) {
    receiver = new CallReceiver;
    receiver->moveToThread(app->thread());
    made_for = app;
  }
  return receiver;
}

void post_drain(QCoreApplication* app) {
  call_queue().drain_posted = true;
  post_call(*window_thread_receiver(app), &drain);
}

}  // namespace

bool CallReceiver::event(QEvent* e) {
  if (e->type() != kPostedCall)
    return QObject::event(e);
  taken_over(e);
  static_cast<PostedCall*>(e)->fn();
  return true;
}

void post_call(CallReceiver& receiver, std::function<void()> fn) {
  auto* call = new PostedCall(std::move(fn));
  handed_over(call);
  QCoreApplication::postEvent(&receiver, call);
}

bool run_on_window_thread(const std::function<void()>& fn) {
  if (on_window_thread()) {
    fn();
    return true;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app)
    return false;
  if (app->thread() == QThread::currentThread()) {
    fn();
    return true;
  }
  CallQueue& q = call_queue();
  Call call;
  call.fn = &fn;
  std::unique_lock guard(q.lock);
  q.calls.push_back(&call);
  q.waiting.store(q.calls.size(), std::memory_order_release);
  if (q.needs_drain()) {
    post_drain(app);
  } else {
    q.arrived.notify_one();
  }
  guard.unlock();
  if (spin_until([&call] { return call.done.load(std::memory_order_acquire); })) {
    // Done is set under the lock, before the window thread's notify: take the lock once so
    // that the call record outlives every use the window thread makes of it.
    guard.lock();
    return true;
  }
  guard.lock();
  q.finished.wait(guard, [&call] { return call.done.load(std::memory_order_acquire); });
  return true;
}

bool queue_on_window_thread(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app)
    return false;
  if (on_window_thread() || app->thread() == QThread::currentThread()) {
    fn();
    return true;
  }
  auto* call = new Call;
  call->owned = std::move(fn);
  call->fn = &call->owned;
  call->queued = true;
  CallQueue& q = call_queue();
  std::unique_lock guard(q.lock);
  q.finished.wait(guard, [&q] { return q.calls.size() < kMaxQueued; });
  q.calls.push_back(call);
  q.waiting.store(q.calls.size(), std::memory_order_release);
  if (q.needs_drain()) {
    post_drain(app);
  } else {
    q.arrived.notify_one();
  }
  return true;
}

bool post_to_window_thread(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app)
    return false;
  post_call(*window_thread_receiver(app), std::move(fn));
  return true;
}

void process_pending_messages() {
  if (QCoreApplication::instance() && on_window_thread())
    QCoreApplication::processEvents();
}

void process_messages(WaitForMessages wait) {
  if (wait == WaitForMessages::kWait)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
  else
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void wake_message_loop() {
  if (auto* dispatcher = QAbstractEventDispatcher::instance())
    dispatcher->wakeUp();
}

}  // namespace windowing
