// Connecting a TCP socket to a host and port within a time limit.
//
// The connection handle connects right away, so an unreachable server is known at the connect
// step; the transfer later takes this socket over instead of opening a second one.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace inet {

class CloseSignal;

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Socket& operator=(Socket&& o) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket();

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

struct ConnectedSocket {
  Socket socket;
  sockaddr_storage peer{};
  socklen_t peer_length = 0;
  // The peer's address as text ("127.0.0.1", "[::1]").
  std::string peer_text;
};

// Tries the host's addresses in turn until one connects; nothing when none does in time or the
// signal is raised first (the name lookup itself is not cut short).
std::optional<ConnectedSocket> connect_tcp(const std::string& host, uint16_t port,
                                           std::chrono::milliseconds timeout,
                                           const CloseSignal& closing);

// Whether an address (as libcurl hands it to the socket callback) is that socket's peer.
bool same_peer(const ConnectedSocket& connected, const sockaddr* address, socklen_t length);

}  // namespace inet
