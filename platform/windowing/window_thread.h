// The window thread: the thread that owns the Qt application object and every window.
//
// Work from other threads reaches it as a posted call; a synchronous call waits for the window
// thread to run it, the way a message sent across threads waits for its answer. The window
// thread itself never waits on a worker.
#pragma once

#include <QObject>
#include <functional>

namespace windowing {

// A receiver of posted calls: each call runs on the receiver's thread, in the order posted;
// calls still pending when the receiver is destroyed are dropped with it.
class CallReceiver : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool event(QEvent* e) override;
};

// Queues fn for `receiver`'s thread without waiting.
void post_call(CallReceiver& receiver, std::function<void()> fn);

// Creates the Qt application object on the calling thread, which becomes the window thread.
// Does nothing when one exists already.
void start_application();
// Marks the calling thread as the window thread (start-up does this).
void record_window_thread();
bool on_window_thread();
// True when a Qt application object exists to carry calls to the window thread.
bool has_application();

// Runs fn on the window thread and waits for it. Runs it at once when called on the window
// thread. Answers false (without running fn) when there is no application to carry the call.
bool run_on_window_thread(const std::function<void()>& fn);
// Queues fn for the window thread without waiting; false when there is no application.
bool post_to_window_thread(std::function<void()> fn);
// Queues fn for the window thread behind every call made with run_on_window_thread or this
// function before it, from any thread, and returns without waiting for it: a worker's writes
// that need no answer keep their order among its other calls without a round trip each. A caller
// finds out that they have run by making a waiting call after them. When many queued calls have
// not run yet the caller waits for the window thread to catch up, so a fast worker cannot grow
// the queue without bound. Runs fn at once on the window thread; answers false (without running
// fn) when there is no application to carry the call.
bool queue_on_window_thread(std::function<void()> fn);

// Processes pending window messages on the window thread.
void process_pending_messages();

// The message loop's steps, on the window thread. kWait blocks until at least one message
// arrives (or wake_message_loop is called).
enum class WaitForMessages { kNo, kWait };
void process_messages(WaitForMessages wait);
// Makes a waiting process_messages return, from any thread.
void wake_message_loop();

}  // namespace windowing
