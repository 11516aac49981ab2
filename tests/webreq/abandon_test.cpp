// Abandoning a worker's requests from another thread: a RequestCanceller ends web_request at
// once while it connects, waits or reads (the internet library cancels a call blocked on a
// closed handle), whatever the server does, and no variable is written.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "internet_seams.h"
#include "loopback_server.h"
#include "web/web_request.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testsupport::Exchange;
using testsupport::LoopbackServer;
using testsupport::response;
using Clock = std::chrono::steady_clock;

std::string text_of(const rt::Bytes& bytes) {
  const auto v = bytes.view();
  return {reinterpret_cast<const char*>(v.data()), v.size()};
}

// A listener on 127.0.0.1 whose queue is full: a connect to it neither succeeds nor fails, the
// way a peer behind a dropping firewall behaves.
class FullListener {
 public:
  FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    // With a backlog of 0 the queue holds one connection; this one fills it.
    filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(filler_, reinterpret_cast<sockaddr*>(&address), length) != 0)
      throw std::runtime_error("cannot fill the queue");
  }
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  ~FullListener() {
    close(filler_);
    close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
};

// Limits far beyond any test's length: only closing or abandoning can end a call early.
class Abandoning : public testing::Test {
 protected:
  void SetUp() override {
    inet::Limits limits;
    limits.connect_timeout_ms = 20'000;
    limits.stall_seconds = 30;
    limits.total_seconds = 30;
    seams_.set_limits(limits);
  }
  testsupport::InternetSeams seams_;
};

void wait_until(const std::function<bool()>& ready) {
  const auto end = Clock::now() + seconds(10);
  while (!ready() && Clock::now() < end) std::this_thread::sleep_for(milliseconds(5));
}

TEST_F(Abandoning, AbandonEndsARequestInProgressAndWritesNothing) {
  struct Case {
    const char* name;
    std::function<void(Exchange&)> answer;  // null: the peer never accepts
  };
  const Case cases[] = {
      {"connecting", nullptr},
      {"server silent", [](Exchange& e) { e.idle(seconds(30)); }},
      {"body stopped",
       [](Exchange& e) {
         e.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nSet-Cookie: s=1\r\n\r\npart");
         e.idle(seconds(30));
       }},
      {"body in large pieces",
       [](Exchange& e) {
         e.send("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
         const std::string piece(64 << 10, 'p');
         while (e.send(piece) && !e.idle(milliseconds(50))) {
         }
       }},
      {"body trickling",
       [](Exchange& e) {
         e.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         while (e.send("x") && !e.idle(milliseconds(20))) {
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FullListener full;
    LoopbackServer server(c.answer ? c.answer : [](Exchange&) {});
    const std::string address =
        c.answer ? server.url("/p") : "http://127.0.0.1:" + std::to_string(full.port()) + "/p";
    testsupport::InternetSeams seams;
    seams.start_log();
    auto canceller = std::make_shared<web::RequestCanceller>();
    std::atomic<bool> returned{false};
    Clock::time_point returned_at;
    rt::Text cookies("c=1"), returned_cookies("old"), headers("X-A: 1"), returned_headers("old");
    rt::Bytes body_bytes;
    rt::Bytes body(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("old"), 3));
    std::thread worker([&] {
      web::AbandonScope scope(canceller);
      body = web::web_request({.address = address.c_str(),
                               .method = 1,
                               .body_text = "a=1",
                               .cookies = &cookies,
                               .returned_cookies = &returned_cookies,
                               .headers = &headers,
                               .returned_headers = &returned_headers,
                               .body_bytes = &body_bytes});
      returned_at = Clock::now();
      returned.store(true);
    });
    if (c.answer) {
      wait_until([&] { return !server.requests().empty(); });
    }
    std::this_thread::sleep_for(milliseconds(300));
    ASSERT_FALSE(returned.load()) << "still waiting for the server";
    const auto abandoned_at = Clock::now();
    canceller->abandon();
    EXPECT_LT(Clock::now() - abandoned_at, milliseconds(500)) << "abandon() does not wait";
    worker.join();
    EXPECT_LT(returned_at - abandoned_at, seconds(1));
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(cookies.view(), "c=1");
    EXPECT_EQ(returned_cookies.view(), "old");
    EXPECT_EQ(headers.view(), "X-A: 1");
    EXPECT_EQ(returned_headers.view(), "old");
    EXPECT_TRUE(body_bytes.empty());
    EXPECT_TRUE(canceller->abandoned());
    if (!c.answer) {
      // Logged as each call returns: the session is closed while the connect is under way.
      const auto calls = seams.calls();
      const auto connect = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
        return call.starts_with("InternetConnectA(");
      });
      ASSERT_NE(connect, calls.end());
      EXPECT_TRUE(connect->ends_with("-> null")) << *connect;
      EXPECT_NE(std::find(calls.begin(), connect, "InternetCloseHandle(session) -> 1"), connect);
    }
  }
}

TEST_F(Abandoning, AbandonedCancellerOpensNothing) {
  LoopbackServer server([](Exchange& e) { e.send(response("200 OK", "page")); });
  auto canceller = std::make_shared<web::RequestCanceller>();
  canceller->abandon();
  canceller->abandon();  // again: no harm
  web::AbandonScope scope(canceller);
  seams_.start_log();
  rt::Text cookies("c=1"), returned_cookies("old"), headers("X-A: 1"), returned_headers("old");
  const auto start = Clock::now();
  for (int32_t method : {0, 1}) {
    const rt::Bytes body = web::web_request({.address = server.url("/").c_str(),
                                             .method = method,
                                             .cookies = &cookies,
                                             .returned_cookies = &returned_cookies,
                                             .headers = &headers,
                                             .returned_headers = &returned_headers});
    EXPECT_TRUE(body.empty());
  }
  EXPECT_LT(Clock::now() - start, milliseconds(100));
  EXPECT_EQ(seams_.calls(true), std::vector<std::string>{});
  EXPECT_EQ(server.connections(), 0u);
  EXPECT_EQ(cookies.view(), "c=1");
  EXPECT_EQ(returned_cookies.view(), "old");
  EXPECT_EQ(headers.view(), "X-A: 1");
  EXPECT_EQ(returned_headers.view(), "old");
}

TEST_F(Abandoning, ScopesCoverTheirOwnThreadAndNest) {
  LoopbackServer server([](Exchange& e) { e.send(response("200 OK", "page")); });
  const std::string address = server.url("/");
  const auto fetch = [&address] { return text_of(web::web_request({.address = address.c_str()})); };
  auto canceller = std::make_shared<web::RequestCanceller>();
  {
    web::AbandonScope outer(canceller);
    EXPECT_EQ(fetch(), "page");
    seams_.start_log();
    canceller->abandon();
    EXPECT_EQ(seams_.calls(), std::vector<std::string>{}) << "a finished request leaves nothing";
    EXPECT_EQ(fetch(), "");
    {
      web::AbandonScope inner(std::make_shared<web::RequestCanceller>());
      EXPECT_EQ(fetch(), "page") << "the innermost scope counts";
    }
    EXPECT_EQ(fetch(), "") << "the outer scope again";
    std::string elsewhere;
    std::thread other([&] { elsewhere = fetch(); });
    other.join();
    EXPECT_EQ(elsewhere, "page") << "another thread is not in this thread's scope";
  }
  EXPECT_EQ(fetch(), "page") << "after the scope";
}

// Abandoning lands at every step of a request, from open to close: each result is the whole body
// or nothing, never a part, and nothing is left for a sanitizer to find.
TEST_F(Abandoning, WorkersAbandonedAtAnyMomentGetAllOrNothing) {
  const std::string whole(20'000, 'w');
  LoopbackServer server([&whole](Exchange& e) {
    e.send("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + whole.substr(0, 10'000));
    if (!e.idle(milliseconds(15)))
      e.send(whole.substr(10'000));
  });
  constexpr int kWorkers = 12;
  std::vector<std::shared_ptr<web::RequestCanceller>> cancellers;
  for (int i = 0; i < kWorkers; ++i)
    cancellers.push_back(std::make_shared<web::RequestCanceller>());
  std::vector<std::vector<std::string>> bodies(kWorkers);
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&, i] {
      web::AbandonScope scope(cancellers[static_cast<size_t>(i)]);
      auto& mine = bodies[static_cast<size_t>(i)];
      const std::string address = server.url("/");
      for (int n = 0; n < 200; ++n) {
        mine.push_back(text_of(web::web_request({.address = address.c_str()})));
        if (mine.back().empty())
          break;
      }
    });
  }
  for (int i = 0; i < kWorkers; ++i) {
    std::this_thread::sleep_for(milliseconds(7 * i + 3));
    cancellers[static_cast<size_t>(i)]->abandon();
  }
  for (std::thread& worker : workers) worker.join();
  for (int i = 0; i < kWorkers; ++i) {
    SCOPED_TRACE(i);
    const auto& mine = bodies[static_cast<size_t>(i)];
    ASSERT_FALSE(mine.empty());
    EXPECT_TRUE(mine.back().empty()) << "ended by abandoning";
    for (size_t n = 0; n + 1 < mine.size(); ++n) {
      EXPECT_TRUE(mine[n] == whole) << "request " << n << " gave " << mine[n].size() << " bytes";
    }
  }
}

}  // namespace
