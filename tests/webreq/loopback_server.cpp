#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {
namespace {

constexpr size_t kMaxHead = 1 << 20;

bool same_name(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':')
    return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if ((line[i] | 0x20) != (name[i] | 0x20))
      return false;
  }
  return true;
}

int listen_on_loopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(fd, 128) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Reads the request head and a Content-Length body; false when the client went away first.
bool read_request(int fd, ReceivedRequest& request) {
  std::string data;
  char chunk[4096];
  size_t head_end;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > kMaxHead)
      return false;
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0)
      return false;
    data.append(chunk, static_cast<size_t>(got));
    if (data[0] == '\x16')
      return false;  // a TLS handshake: this server speaks plain HTTP only
  }
  std::string_view head(data.data(), head_end);
  size_t line_end = head.find("\r\n");
  request.request_line = std::string(head.substr(0, line_end));
  while (line_end != std::string_view::npos) {
    head.remove_prefix(line_end + 2);
    line_end = head.find("\r\n");
    request.header_lines.emplace_back(head.substr(0, line_end));
  }
  const size_t length = std::strtoul(request.header("Content-Length").c_str(), nullptr, 10);
  request.body = data.substr(head_end + 4);
  while (request.body.size() < length) {
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0)
      return false;
    request.body.append(chunk, static_cast<size_t>(got));
  }
  return true;
}

}  // namespace

std::string ReceivedRequest::header(std::string_view name) const {
  for (const std::string& line : header_lines) {
    if (!same_name(line, name))
      continue;
    const size_t value = line.find_first_not_of(' ', name.size() + 1);
    return value == std::string::npos ? std::string() : line.substr(value);
  }
  return {};
}

bool ReceivedRequest::has_header(std::string_view name) const {
  for (const std::string& line : header_lines) {
    if (same_name(line, name))
      return true;
  }
  return false;
}

bool Exchange::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

bool Exchange::idle(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!stopping_.load()) {
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = listen_on_loopback(port_);
  acceptor_ = std::thread([this] { accept_loop(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_.store(true);
  acceptor_.join();
  close(listener_);
  for (std::thread& worker : workers_) worker.join();
}

std::string LoopbackServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> LoopbackServer::requests() const {
  std::lock_guard guard(lock_);
  return requests_;
}

void LoopbackServer::accept_loop() {
  while (!stopping_.load()) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0)
      continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    connections_.fetch_add(1);
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

void LoopbackServer::serve(int fd) {
  Exchange exchange(fd, stopping_);
  if (read_request(fd, exchange.request_)) {
    {
      std::lock_guard guard(lock_);
      requests_.push_back(exchange.request_);
    }
    handler_(exchange);
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

std::string response(std::string_view status, std::string_view body,
                     std::string_view extra_headers) {
  std::string out = "HTTP/1.1 " + std::string(status) + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Connection: close\r\n";
  out += extra_headers;
  out += "\r\n";
  out += body;
  return out;
}

uint16_t closed_port() {
  uint16_t port = 0;
  close(listen_on_loopback(port));
  return port;
}

}  // namespace testsupport
