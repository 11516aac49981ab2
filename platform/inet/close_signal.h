// Tells a call still working on a handle that another thread has closed that handle.
//
// Closing a handle cancels what is outstanding on it: a connect under way on a session, a send or
// read under way on a request. The call holds its own reference to the object, so it is not the
// object that goes away but the reason to go on; raising the signal makes the call give up at
// once instead of waiting for the server.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <mutex>

namespace inet {

class CloseSignal {
 public:
  CloseSignal() = default;
  CloseSignal(const CloseSignal&) = delete;
  CloseSignal& operator=(const CloseSignal&) = delete;

  // Any thread, any number of times.
  void raise();
  bool raised() const { return raised_.load(std::memory_order_acquire); }

  // A multi handle that a call may be waiting in (curl_multi_poll): raise() wakes it. Attached
  // before the first wait, detached before the multi handle is cleaned up.
  void attach(CURLM* multi);
  void detach();

 private:
  std::atomic<bool> raised_{false};
  std::mutex lock_;  // keeps the multi handle alive while raise() wakes it
  CURLM* multi_ = nullptr;
};

}  // namespace inet
