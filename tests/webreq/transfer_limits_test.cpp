// The internet library's limits as a slow, endless or oversized answer meets them: the read that
// passes one fails (it never looks like the end of a whole body), and it comes in time.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "internet_seams.h"
#include "loopback_server.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testsupport::Exchange;
using testsupport::LoopbackServer;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kCap = uint64_t{16} << 20;

struct Fetched {
  std::string body;
  int32_t last_read = -1;  // the result of the read that returned no bytes
  Clock::duration took{};
};

// Sends a GET and reads the body to its end, the way a caller of the library does.
Fetched fetch(uint16_t port) {
  auto* open = rt::dll_function<inet::InternetOpenFn>(rt::kImportInternetOpenA);
  auto* connect = rt::dll_function<inet::InternetConnectFn>(rt::kImportInternetConnectA);
  auto* open_request = rt::dll_function<inet::HttpOpenRequestFn>(rt::kImportHttpOpenRequestA);
  auto* send = rt::dll_function<inet::HttpSendRequestTextFn>(rt::kImportHttpSendRequestA);
  auto* read = rt::dll_function<inet::InternetReadFileFn>(rt::kImportInternetReadFile);
  auto* close = rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);

  Fetched fetched;
  const auto start = Clock::now();
  inet::Handle session = open("limits", inet::kOpenTypeDirect, nullptr, nullptr, 0);
  inet::Handle connection =
      connect(session, "127.0.0.1", port, nullptr, nullptr, inet::kServiceHttp, 0, 0);
  inet::Handle request = open_request(connection, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
  if (send(request, nullptr, 0, nullptr, 0) == 1) {
    std::string chunk(64 << 10, '\0');
    for (;;) {
      uint32_t count = 0;
      const int32_t ok = read(request, chunk.data(), static_cast<uint32_t>(chunk.size()), &count);
      if (count == 0) {
        fetched.last_read = ok;
        break;
      }
      fetched.body.append(chunk, 0, count);
    }
  }
  fetched.took = Clock::now() - start;
  close(request);
  close(connection);
  close(session);
  return fetched;
}

// Sends `piece` every `every` until the client goes or the server stops.
void trickle(Exchange& e, const std::string& head, const std::string& piece, milliseconds every) {
  e.send(head);
  while (e.send(piece) && !e.idle(every)) {
  }
}

std::string sized_body(uint64_t size) {
  std::string body(size, 'b');
  for (size_t i = 0; i < body.size(); i += 4096) body[i] = static_cast<char>('0' + i / 4096 % 10);
  return body;
}

class TransferLimits : public testing::Test {
 protected:
  testsupport::InternetSeams seams_;
};

TEST_F(TransferLimits, SlowAndEndlessAnswersEndAsAFailedRead) {
  struct Case {
    const char* name;
    std::function<void(Exchange&)> answer;
    uint32_t total_seconds;
    Clock::duration at_least;
    Clock::duration at_most;
  };
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n";
  const Case cases[] = {
      {"a byte a second", [&](Exchange& e) { trickle(e, head, "x", milliseconds(1000)); }, 10,
       milliseconds(1500), seconds(4)},
      {"200 bytes a second",
       [&](Exchange& e) { trickle(e, head, std::string(20, 'x'), milliseconds(100)); }, 10,
       milliseconds(1500), seconds(4)},
      {"silent after the header block", [&](Exchange& e) { trickle(e, head, "", seconds(20)); }, 10,
       milliseconds(1500), seconds(4)},
      // Fast enough never to stall: the total time ends it.
      {"8 KiB a second, without end",
       [&](Exchange& e) { trickle(e, head, std::string(800, 'x'), milliseconds(100)); }, 3,
       milliseconds(2500), seconds(5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The stall rate is the library's own; only the times are shortened.
    inet::Limits limits;
    limits.connect_timeout_ms = 2000;
    limits.stall_seconds = 2;
    limits.total_seconds = c.total_seconds;
    seams_.set_limits(limits);
    LoopbackServer server(c.answer);
    const Fetched fetched = fetch(server.port());
    EXPECT_EQ(fetched.last_read, 0) << "a failed read, not the end of the body";
    EXPECT_GE(fetched.took, c.at_least);
    EXPECT_LE(fetched.took, c.at_most);
  }
}

TEST_F(TransferLimits, BodyPastTheCapEndsAtTheCapAsAFailedRead) {
  inet::Limits limits;  // the library's own cap
  limits.connect_timeout_ms = 2000;
  limits.stall_seconds = 5;
  limits.total_seconds = 20;
  seams_.set_limits(limits);
  struct Case {
    const char* name;
    uint64_t size;
    bool with_length;
    uint64_t arrives;
    int32_t last_read;
  };
  const Case cases[] = {
      {"a byte under the cap", kCap - 1, true, kCap - 1, 1},
      {"exactly the cap", kCap, true, kCap, 1},
      {"a byte past the cap", kCap + 1, true, kCap, 0},
      {"twice the cap", 2 * kCap, true, kCap, 0},
      {"past the cap, no length", kCap + 4096, false, kCap, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = sized_body(c.size);
    LoopbackServer server([&](Exchange& e) {
      e.send(c.with_length ? testsupport::response("200 OK", body)
                           : "HTTP/1.0 200 OK\r\n\r\n" + body);
    });
    const Fetched fetched = fetch(server.port());
    EXPECT_EQ(fetched.body.size(), c.arrives);
    EXPECT_TRUE(fetched.body == body.substr(0, c.arrives)) << "the first bytes, in order";
    EXPECT_EQ(fetched.last_read, c.last_read);
  }
}

}  // namespace
