// A film site of the test's own whose answers can be held back: a test sees what the windows show
// while a page is on its way, then lets it come. Pages are given as UTF-8 text per kind of request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "webreq/loopback_server.h"

namespace e2e {

class GatedSite {
 public:
  enum Kind { kSearch, kTitle, kPlay, kPoster, kOther };

  GatedSite() : server_([this](testsupport::Exchange& exchange) { serve(exchange); }) {}
  ~GatedSite() { release_all(); }

  std::string base() const { return server_.url(""); }
  void set_page(Kind kind, std::string body) {
    std::lock_guard lock(lock_);
    pages_[kind] = std::move(body);
  }
  // From now on requests of this kind wait until released.
  void hold(Kind kind) {
    std::lock_guard lock(lock_);
    held_[kind] = true;
  }
  void release(Kind kind) {
    std::lock_guard lock(lock_);
    held_[kind] = false;
    changed_.notify_all();
  }
  void release_all() {
    std::lock_guard lock(lock_);
    held_.clear();
    changed_.notify_all();
  }
  // How many requests of this kind have arrived (held ones included).
  int arrived(Kind kind) const {
    std::lock_guard lock(lock_);
    const auto it = arrived_.find(kind);
    return it == arrived_.end() ? 0 : it->second;
  }

 private:
  static Kind kind_of(const std::string& request_line) {
    if (request_line.find(" /search.php") != std::string::npos)
      return kSearch;
    if (request_line.find(" /vod/") != std::string::npos)
      return kTitle;
    if (request_line.find(" /play/") != std::string::npos)
      return kPlay;
    if (request_line.find(" /poster") != std::string::npos)
      return kPoster;
    return kOther;
  }

  void serve(testsupport::Exchange& exchange) {
    const Kind kind = kind_of(exchange.request().request_line);
    std::string body;
    {
      std::unique_lock lock(lock_);
      ++arrived_[kind];
      changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !held_[kind]; });
      body = pages_[kind];
    }
    exchange.send(testsupport::response("200 OK", body));
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::map<Kind, std::string> pages_;
  std::map<Kind, bool> held_;
  std::map<Kind, int> arrived_;
  testsupport::LoopbackServer server_;  // last: stopped first, while the rest still stands
};

}  // namespace e2e
