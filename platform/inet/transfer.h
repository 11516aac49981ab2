// One HTTP exchange carried out by libcurl, driven step by step from the caller's thread.
//
// Sending drives the transfer until the final response's header block has arrived (redirects
// followed on the way are passed over) or the transfer has ended; reading drives it until body
// bytes are there or it has ended. While a read waits, libcurl hands the body bytes straight into
// the reader's buffer; only what arrives outside a read, or does not fit, waits in a small buffer
// of the transfer's own, and when the reader falls behind libcurl is paused instead of that buffer
// growing. When the request's handle is closed on another thread (its CloseSignal raised), sending
// or reading gives up at once.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/inet/close_signal.h"
#include "platform/inet/header_block.h"
#include "platform/inet/tcp_connect.h"
#include "platform/inet/wininet.h"

namespace inet {

struct TransferSetup {
  std::string url;
  std::string verb = "GET";
  bool http10 = false;
  std::string agent;
  std::string proxy_url;  // empty: direct
  std::vector<std::string> header_lines;
  std::optional<std::vector<uint8_t>> body;
  bool follow_redirects = true;
  std::string redirect_protocols = "http";
  bool cookie_store = false;
  // A socket already connected to the server (or proxy) the transfer goes to first, with the
  // "host:port" under which libcurl will look that peer up.
  std::optional<ConnectedSocket> connected;
  std::string connected_name;
  Limits limits;
  std::string ca_file;
  // Raised when the request's handle is closed; never null.
  std::shared_ptr<CloseSignal> closing = std::make_shared<CloseSignal>();
};

class Transfer {
 public:
  // Nothing when libcurl cannot take the request as described.
  static std::unique_ptr<Transfer> start(TransferSetup setup);
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer();

  // Drives the transfer until the final response's header block is known; false when the
  // transfer ended without one.
  bool wait_for_response();
  // Up to buffer.size() body bytes; 0 once the body is over (or the transfer failed: past the
  // body cap, stalled, out of time, or the handle closed).
  size_t read(std::span<uint8_t> buffer);
  // True once the body has been read to its end without a failure.
  bool ended_cleanly() const {
    return done_ && result_ == CURLE_OK && pending_empty() && !setup_.closing->raised();
  }
  // The final response's status line and header lines, each ending "\r\n"; null without one.
  const std::string* response_headers() const { return blocks_.response(); }
  // The final response's Content-Length; nothing when it has none (a chunked body, say) or the
  // response is not known yet.
  std::optional<uint64_t> declared_length() const;

 private:
  Transfer() = default;
  bool configure();
  // Drives libcurl until ready() holds or the transfer has ended.
  template <typename Ready>
  void run_until(Ready ready);
  void note_finished();
  bool pending_empty() const { return pending_head_ == pending_.size(); }

  static size_t on_header(char* data, size_t size, size_t count, void* self);
  static size_t on_body(char* data, size_t size, size_t count, void* self);
  static curl_socket_t on_open_socket(void* self, curlsocktype purpose, curl_sockaddr* address);
  static int on_socket_options(void* self, curl_socket_t fd, curlsocktype purpose);

  TransferSetup setup_;
  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headers_ = nullptr;
  curl_slist* resolve_ = nullptr;
  int handed_over_fd_ = -1;

  // The header blocks received, and the final one once known.
  HeaderBlocks blocks_{Redirects::kFollowed};

  // Body bytes waiting for the next read, from pending_head_ on.
  std::vector<uint8_t> pending_;
  size_t pending_head_ = 0;
  // The buffer of the read under way (empty between reads) and how much of it is filled.
  std::span<uint8_t> target_;
  size_t target_filled_ = 0;
  uint64_t body_bytes_ = 0;
  bool paused_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
};

// Sets up libcurl once for the whole process; safe to call from any thread.
void initialise_curl();

}  // namespace inet
