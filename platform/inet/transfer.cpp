#include "platform/inet/transfer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace inet {
namespace {

// Body bytes waiting for the reader beyond this pause the transfer.
constexpr size_t kPauseAt = 256 << 10;
// libcurl's receive buffer: one read from the socket, and one step of the transfer, take up to
// this much. Large bodies go through in fewer steps; fifty transfers at once still hold little.
constexpr long kReceiveBuffer = 256 * 1024;
// How long one wait for the sockets lasts; libcurl's own timers shorten it when due.
constexpr int kPollMs = 1000;

}  // namespace

void initialise_curl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::unique_ptr<Transfer> Transfer::start(TransferSetup setup) {
  initialise_curl();
  std::unique_ptr<Transfer> transfer(new Transfer);
  transfer->setup_ = std::move(setup);
  if (!transfer->configure())
    return nullptr;
  return transfer;
}

Transfer::~Transfer() {
  setup_.closing->detach();
  if (multi_ && easy_)
    curl_multi_remove_handle(multi_, easy_);
  if (easy_)
    curl_easy_cleanup(easy_);
  if (multi_)
    curl_multi_cleanup(multi_);
  curl_slist_free_all(headers_);
  curl_slist_free_all(resolve_);
}

bool Transfer::configure() {
  easy_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (!easy_ || !multi_)
    return false;
  setup_.closing->attach(multi_);
  const TransferSetup& s = setup_;
  const Limits& limits = s.limits;
  bool ok = true;
  const auto check = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };

  check(curl_easy_setopt(easy_, CURLOPT_URL, s.url.c_str()));
  check(curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https"));
  check(curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, s.redirect_protocols.c_str()));
  check(curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, s.follow_redirects ? 1L : 0L));
  blocks_ = HeaderBlocks(s.follow_redirects ? Redirects::kFollowed : Redirects::kReturned);
  check(curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, static_cast<long>(limits.max_redirects)));
  check(curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L));
  check(curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(limits.connect_timeout_ms)));
  check(curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT,
                         static_cast<long>(limits.stall_bytes_per_second)));
  check(curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stall_seconds)));
  check(
      curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_seconds) * 1000));
  check(curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION,
                         s.http10 ? long{CURL_HTTP_VERSION_1_0} : long{CURL_HTTP_VERSION_1_1}));
  // The body goes to the caller as the server sent it.
  check(curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L));
  check(curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L));
  check(curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L));
  if (!s.ca_file.empty())
    check(curl_easy_setopt(easy_, CURLOPT_CAINFO, s.ca_file.c_str()));
  // An empty proxy also keeps libcurl from taking one from the environment.
  check(curl_easy_setopt(easy_, CURLOPT_PROXY, s.proxy_url.c_str()));
  check(curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  if (!s.agent.empty())
    check(curl_easy_setopt(easy_, CURLOPT_USERAGENT, s.agent.c_str()));
  if (s.cookie_store)
    check(curl_easy_setopt(easy_, CURLOPT_COOKIEFILE, ""));
  check(curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReceiveBuffer));

  for (const std::string& line : s.header_lines) {
    curl_slist* more = curl_slist_append(headers_, line.c_str());
    if (!more)
      return false;
    headers_ = more;
  }
  check(curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_));

  if (s.verb == "HEAD") {
    check(curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L));
  } else if (s.body) {
    static const char kNothing[] = "";
    const void* data = s.body->empty() ? static_cast<const void*>(kNothing) : s.body->data();
    check(curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                           static_cast<curl_off_t>(s.body->size())));
    check(curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, data));
    if (s.verb != "POST")
      check(curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, s.verb.c_str()));
  } else if (s.verb != "GET") {
    check(curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, s.verb.c_str()));
  }

  if (s.connected && s.connected->socket.valid()) {
    // Pin the name to the address already connected, so libcurl asks for exactly that socket.
    const std::string entry = s.connected_name + ":" + s.connected->peer_text;
    resolve_ = curl_slist_append(nullptr, entry.c_str());
    if (!resolve_)
      return false;
    check(curl_easy_setopt(easy_, CURLOPT_RESOLVE, resolve_));
    check(curl_easy_setopt(easy_, CURLOPT_OPENSOCKETFUNCTION, &Transfer::on_open_socket));
    check(curl_easy_setopt(easy_, CURLOPT_OPENSOCKETDATA, this));
    check(curl_easy_setopt(easy_, CURLOPT_SOCKOPTFUNCTION, &Transfer::on_socket_options));
    check(curl_easy_setopt(easy_, CURLOPT_SOCKOPTDATA, this));
  }

  check(curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::on_header));
  check(curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this));
  check(curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::on_body));
  check(curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this));
  if (!ok)
    return false;
  return curl_multi_add_handle(multi_, easy_) == CURLM_OK;
}

template <typename Ready>
void Transfer::run_until(Ready ready) {
  for (;;) {
    // Checked before every step: a close raised while libcurl worked has also woken the poll.
    if (setup_.closing->raised() && !done_) {
      done_ = true;
      result_ = CURLE_ABORTED_BY_CALLBACK;
    }
    if (done_)
      return;
    int running = 0;
    const CURLMcode code = curl_multi_perform(multi_, &running);
    note_finished();
    if (code != CURLM_OK && !done_) {
      done_ = true;
      result_ = CURLE_FAILED_INIT;
    }
    if (done_ || ready())
      return;
    curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr);
  }
}

void Transfer::note_finished() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
      done_ = true;
      result_ = message->data.result;
    }
  }
  // A block that libcurl meant to follow but then did not (and said nothing) is the answer.
  if (done_ && result_ == CURLE_OK)
    blocks_.transfer_done();
}

bool Transfer::wait_for_response() {
  run_until([this] { return blocks_.response() != nullptr; });
  return blocks_.response() && !setup_.closing->raised();
}

std::optional<uint64_t> Transfer::declared_length() const {
  curl_off_t length = -1;
  if (!blocks_.response() ||
      curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(length);
}

size_t Transfer::read(std::span<uint8_t> buffer) {
  if (buffer.empty() || setup_.closing->raised())
    return 0;
  // Bytes that came before this read go first.
  if (!pending_empty()) {
    const size_t n = std::min(buffer.size(), pending_.size() - pending_head_);
    std::memcpy(buffer.data(), pending_.data() + pending_head_, n);
    pending_head_ += n;
    if (pending_empty()) {
      pending_.clear();
      pending_head_ = 0;
    }
    return n;
  }
  // Nothing waits: libcurl writes into the caller's buffer itself (on_body) until it has given
  // something, and all it gives in the same step that still fits.
  target_ = buffer;
  target_filled_ = 0;
  while (target_filled_ == 0 && pending_empty()) {
    if (paused_) {
      // Resuming may hand over the held-back bytes right away; when taking them fails (the body
      // passed the cap), the transfer has failed even if libcurl had already called it done.
      paused_ = false;
      const CURLcode resumed = curl_easy_pause(easy_, CURLPAUSE_CONT);
      if (resumed != CURLE_OK) {
        done_ = true;
        result_ = resumed;
      }
      continue;
    }
    if (done_)
      break;
    run_until([this] { return target_filled_ > 0 || !pending_empty(); });
  }
  target_ = {};
  // Bytes can only have gone to the side once the caller's buffer was full.
  return target_filled_;
}

size_t Transfer::on_header(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<Transfer*>(self);
  const size_t n = size * count;
  return t->blocks_.take_line(std::string_view(data, n)) ? n : 0;
}

size_t Transfer::on_body(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<Transfer*>(self);
  const size_t n = size * count;
  const size_t target_room = t->target_.size() - t->target_filled_;
  if (target_room == 0 && t->pending_.size() - t->pending_head_ >= kPauseAt) {
    t->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  const uint64_t cap = t->setup_.limits.max_body_bytes;
  const uint64_t room = t->body_bytes_ < cap ? cap - t->body_bytes_ : 0;
  const size_t taken = static_cast<size_t>(std::min<uint64_t>(n, room));
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  // Into the waiting read's buffer first; the rest waits for the next read.
  const size_t direct = std::min(taken, target_room);
  if (direct > 0) {
    std::memcpy(t->target_.data() + t->target_filled_, bytes, direct);
    t->target_filled_ += direct;
  }
  t->pending_.insert(t->pending_.end(), bytes + direct, bytes + taken);
  t->body_bytes_ += taken;
  return taken;  // short of n past the cap: libcurl ends the transfer with a write error
}

curl_socket_t Transfer::on_open_socket(void* self, curlsocktype purpose, curl_sockaddr* address) {
  auto* t = static_cast<Transfer*>(self);
  auto& connected = t->setup_.connected;
  if (purpose == CURLSOCKTYPE_IPCXN && connected && connected->socket.valid() &&
      same_peer(*connected, &address->addr, address->addrlen)) {
    t->handed_over_fd_ = connected->socket.release();  // libcurl closes it from now on
    return t->handed_over_fd_;
  }
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int Transfer::on_socket_options(void* self, curl_socket_t fd, curlsocktype) {
  // Asked right after the socket was opened. Forget the number at once: a later socket (after a
  // redirect, say) may be given the same one and must still be connected.
  auto* t = static_cast<Transfer*>(self);
  if (fd != t->handed_over_fd_)
    return CURL_SOCKOPT_OK;
  t->handed_over_fd_ = -1;
  return CURL_SOCKOPT_ALREADY_CONNECTED;
}

}  // namespace inet
