// The internet stand-in called directly: handles are checked, the header query reports the size
// it needs, and the header block it answers holds whole lines.
#include <gtest/gtest.h>

#include <string>

#include "loopback_server.h"
#include "platform/inet/wininet.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"

namespace {

TEST(InternetLibrary, HandlesAreCheckedAndNeverReused) {
  auto* open = rt::dll_function<inet::InternetOpenFn>(rt::kImportInternetOpenA);
  auto* connect = rt::dll_function<inet::InternetConnectFn>(rt::kImportInternetConnectA);
  auto* open_request = rt::dll_function<inet::HttpOpenRequestFn>(rt::kImportHttpOpenRequestA);
  auto* read = rt::dll_function<inet::InternetReadFileFn>(rt::kImportInternetReadFile);
  auto* close = rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);

  inet::Handle session = open("agent", inet::kOpenTypeDirect, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(close(session), 1);
  EXPECT_EQ(close(session), 0) << "a closed handle stays closed";
  inet::Handle again = open("agent", inet::kOpenTypeDirect, nullptr, nullptr, 0);
  EXPECT_NE(again, session);

  testsupport::LoopbackServer server([](testsupport::Exchange&) {});
  uint32_t count = 7;
  char buffer[16];
  EXPECT_EQ(read(again, buffer, sizeof buffer, &count), 0) << "a session is not a request";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(connect(reinterpret_cast<inet::Handle>(0x1234), "127.0.0.1", server.port(), nullptr,
                    nullptr, inet::kServiceHttp, 0, 0),
            nullptr);
  inet::Handle connection =
      connect(again, "127.0.0.1", server.port(), nullptr, nullptr, inet::kServiceHttp, 0, 0);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(open_request(connection, "GE T", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(open_request(connection, "GET", "/", "HTTP/2", nullptr, nullptr, 0, 0), nullptr);
  inet::Handle request = open_request(connection, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(read(request, buffer, sizeof buffer, &count), 0) << "nothing sent yet";
  EXPECT_EQ(close(request), 1);
  EXPECT_EQ(close(connection), 1);
  EXPECT_EQ(close(again), 1);
}

// One GET of "/" from the server through the library's own calls, its handles closed at the end.
class OneRequest {
 public:
  explicit OneRequest(const testsupport::LoopbackServer& server) {
    auto* open = rt::dll_function<inet::InternetOpenFn>(rt::kImportInternetOpenA);
    auto* connect = rt::dll_function<inet::InternetConnectFn>(rt::kImportInternetConnectA);
    auto* open_request = rt::dll_function<inet::HttpOpenRequestFn>(rt::kImportHttpOpenRequestA);
    auto* send = rt::dll_function<inet::HttpSendRequestTextFn>(rt::kImportHttpSendRequestA);
    session_ = open("agent", inet::kOpenTypeDirect, nullptr, nullptr, 0);
    connection_ =
        connect(session_, "127.0.0.1", server.port(), nullptr, nullptr, inet::kServiceHttp, 0, 0);
    request_ = open_request(connection_, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
    sent_ = send(request_, nullptr, 0, nullptr, 0) == 1;
  }
  ~OneRequest() {
    auto* close = rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);
    close(request_);
    close(connection_);
    close(session_);
  }
  OneRequest(const OneRequest&) = delete;
  OneRequest& operator=(const OneRequest&) = delete;

  bool sent() const { return sent_; }
  int32_t query(uint32_t what, std::string& buffer, uint32_t& length) const {
    auto* query = rt::dll_function<inet::HttpQueryInfoFn>(rt::kImportHttpQueryInfoA);
    return query(request_, what, buffer.data(), &length, nullptr);
  }

 private:
  inet::Handle session_{}, connection_{}, request_{};
  bool sent_ = false;
};

TEST(InternetLibrary, HeaderQueryReportsTheSizeItNeeds) {
  testsupport::LoopbackServer server(
      [](testsupport::Exchange& e) { e.send(testsupport::response("200 OK", "x")); });
  OneRequest request(server);
  ASSERT_TRUE(request.sent());

  const std::string block = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n";
  std::string buffer(block.size(), '.');
  uint32_t length = static_cast<uint32_t>(buffer.size());
  EXPECT_EQ(request.query(inet::kQueryRawHeadersCrlf, buffer, length), 0);
  EXPECT_EQ(length, block.size() + 1) << "room for the terminator too";
  EXPECT_EQ(buffer, std::string(block.size(), '.')) << "nothing written when it does not fit";
  buffer.resize(length);
  EXPECT_EQ(request.query(inet::kQueryRawHeadersCrlf, buffer, length), 1);
  EXPECT_EQ(length, block.size());
  EXPECT_EQ(buffer, block + '\0');
  EXPECT_EQ(request.query(19, buffer, length), 0) << "only the raw block";
}

// A bare CR inside a header line is read as a space: whoever splits the block at its line ends
// sees every line whole (found by fuzzing).
TEST(InternetLibrary, ABareCrInsideAHeaderLineIsASpace) {
  testsupport::LoopbackServer server([](testsupport::Exchange& e) {
    e.send(
        "HTTP/1.1 200 OK\r\nX-Odd: a\rSet-Cookie: b\r\nContent-Length: 1\r\n"
        "Connection: close\r\n\r\nx");
  });
  OneRequest request(server);
  ASSERT_TRUE(request.sent());
  std::string buffer(4096, '\0');
  uint32_t length = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(request.query(inet::kQueryRawHeadersCrlf, buffer, length), 1);
  buffer.resize(length);
  EXPECT_EQ(buffer,
            "HTTP/1.1 200 OK\r\nX-Odd: a Set-Cookie: b\r\nContent-Length: 1\r\n"
            "Connection: close\r\n");
}

}  // namespace
