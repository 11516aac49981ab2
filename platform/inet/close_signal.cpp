#include "platform/inet/close_signal.h"

namespace inet {

void CloseSignal::raise() {
  raised_.store(true, std::memory_order_release);
  std::lock_guard guard(lock_);
  // A wake-up sent while nobody waits is kept for the next wait, so a call that saw the flag
  // down just before it started waiting still returns at once.
  if (multi_)
    curl_multi_wakeup(multi_);
}

void CloseSignal::attach(CURLM* multi) {
  std::lock_guard guard(lock_);
  multi_ = multi;
}

void CloseSignal::detach() {
  std::lock_guard guard(lock_);
  multi_ = nullptr;
}

}  // namespace inet
