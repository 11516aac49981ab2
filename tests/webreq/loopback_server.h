// A server on 127.0.0.1 with an ephemeral port that records every request as it arrived (request
// line, header lines in order, body) and answers with raw bytes, so a test can also answer
// badly: slowly, not at all, cut short or malformed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

struct ReceivedRequest {
  std::string request_line;
  std::vector<std::string> header_lines;
  std::string body;

  // The value of the first header of that name (any letter case), or "" without one.
  std::string header(std::string_view name) const;
  bool has_header(std::string_view name) const;
};

class Exchange {
 public:
  Exchange(int fd, std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
  const ReceivedRequest& request() const { return request_; }
  // False once the client has gone.
  bool send(std::string_view bytes);
  // Waits as long as the server runs, at most `limit`; true when the server stopped first.
  bool idle(std::chrono::milliseconds limit);

 private:
  friend class LoopbackServer;
  int fd_;
  std::atomic<bool>& stopping_;
  ReceivedRequest request_;
};

class LoopbackServer {
 public:
  using Handler = std::function<void(Exchange&)>;
  explicit LoopbackServer(Handler handler);
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  ~LoopbackServer();

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:port" followed by the path.
  std::string url(std::string_view path) const;
  std::vector<ReceivedRequest> requests() const;
  // Connections accepted so far, whether or not a whole request came on them.
  size_t connections() const { return connections_.load(); }

 private:
  void accept_loop();
  void serve(int fd);

  Handler handler_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> connections_{0};
  mutable std::mutex lock_;
  std::vector<ReceivedRequest> requests_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// A complete response with a Content-Length and "Connection: close".
std::string response(std::string_view status, std::string_view body,
                     std::string_view extra_headers = {});

// A port on 127.0.0.1 where nothing listens.
uint16_t closed_port();

}  // namespace testsupport
