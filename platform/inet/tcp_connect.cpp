#include "platform/inet/tcp_connect.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/inet/close_signal.h"

namespace inet {
namespace {

using Clock = std::chrono::steady_clock;

// A connect waits in slices this long, so that a closed handle is noticed soon.
constexpr long kSliceMs = 50;

struct AddressList {
  addrinfo* head = nullptr;
  ~AddressList() {
    if (head)
      freeaddrinfo(head);
  }
};

// Waits for a non-blocking connect to finish; true when it succeeded before the deadline and
// before the signal was raised.
bool finish_connect(int fd, Clock::time_point deadline, const CloseSignal& closing) {
  for (;;) {
    if (closing.raised())
      return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
      return false;
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long>(left, kSliceMs)));
    if (ready == 0 || (ready < 0 && errno == EINTR))
      continue;
    if (ready < 0)
      return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
      return false;
    return error == 0;
  }
}

std::string numeric_text(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST];
  if (getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
    return {};
  if (address->sa_family == AF_INET6)
    return std::string("[") + host + "]";
  return host;
}

}  // namespace

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0)
      close(fd_);
    fd_ = std::exchange(o.fd_, -1);
  }
  return *this;
}

Socket::~Socket() {
  if (fd_ >= 0)
    close(fd_);
}

std::optional<ConnectedSocket> connect_tcp(const std::string& host, uint16_t port,
                                           std::chrono::milliseconds timeout,
                                           const CloseSignal& closing) {
  const auto deadline = Clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  AddressList addresses;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses.head) != 0)
    return std::nullopt;

  for (const addrinfo* a = addresses.head; a; a = a->ai_next) {
    if (closing.raised())
      break;
    if (a->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    Socket s(socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.valid())
      continue;
    const int started = connect(s.get(), a->ai_addr, a->ai_addrlen);
    if (started != 0 && (errno != EINPROGRESS || !finish_connect(s.get(), deadline, closing))) {
      if (Clock::now() >= deadline)
        break;
      continue;
    }
    ConnectedSocket connected;
    connected.socket = std::move(s);
    std::memcpy(&connected.peer, a->ai_addr, a->ai_addrlen);
    connected.peer_length = a->ai_addrlen;
    connected.peer_text = numeric_text(a->ai_addr, a->ai_addrlen);
    if (connected.peer_text.empty())
      continue;
    return connected;
  }
  return std::nullopt;
}

bool same_peer(const ConnectedSocket& connected, const sockaddr* address, socklen_t length) {
  const auto& peer = connected.peer;
  if (!address || address->sa_family != peer.ss_family)
    return false;
  if (peer.ss_family == AF_INET && length >= sizeof(sockaddr_in)) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(address);
    const auto* b = reinterpret_cast<const sockaddr_in*>(&peer);
    return a->sin_port == b->sin_port && a->sin_addr.s_addr == b->sin_addr.s_addr;
  }
  if (peer.ss_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(address);
    const auto* b = reinterpret_cast<const sockaddr_in6*>(&peer);
    return a->sin6_port == b->sin6_port &&
           std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0;
  }
  return false;
}

}  // namespace inet
