// The internet stand-in called directly: handles are checked, the header query reports the size
// it needs, and the header block it answers holds whole lines.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

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
  int32_t read(void* buffer, uint32_t to_read, uint32_t& count) const {
    auto* read = rt::dll_function<inet::InternetReadFileFn>(rt::kImportInternetReadFile);
    return read(request_, buffer, to_read, &count);
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

// The length the final response declares, as a number: none for a chunked body or one without a
// length, none past 32 bits, and never the length of a redirect that was followed.
TEST(InternetLibrary, DeclaredLengthQueryAnswersTheFinalResponsesNumber) {
  constexpr uint32_t kLength = inet::kQueryContentLength | inet::kQueryFlagNumber;
  struct Case {
    const char* name;
    std::string answer;  // to "GET /"; "GET /b" gets "abc" with its length
    int32_t result;
    uint32_t length;
  };
  const Case cases[] = {
      {"declared", testsupport::response("200 OK", "hello"), 1, 5},
      {"declared zero", testsupport::response("200 OK", ""), 1, 0},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 0,
       0},
      {"ended by closing", "HTTP/1.0 200 OK\r\n\r\nhello", 0, 0},
      {"past 32 bits", "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\nhello", 0, 0},
      {"redirect followed", testsupport::response("302 Found", "go away", "Location: /b\r\n"), 1,
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::LoopbackServer server([&c](testsupport::Exchange& e) {
      e.send(e.request().request_line.starts_with("GET /b ")
                 ? testsupport::response("200 OK", "abc")
                 : c.answer);
    });
    OneRequest request(server);
    ASSERT_TRUE(request.sent());
    std::string buffer(4, '\xEE');
    uint32_t length = 4;
    EXPECT_EQ(request.query(kLength, buffer, length), c.result);
    if (c.result == 1) {
      uint32_t value = 0;
      std::memcpy(&value, buffer.data(), 4);
      EXPECT_EQ(value, c.length);
      EXPECT_EQ(length, 4u);
      uint32_t short_length = 3;
      EXPECT_EQ(request.query(kLength, buffer, short_length), 0) << "no room for the number";
      EXPECT_EQ(short_length, 4u) << "the size it needs";
    } else {
      EXPECT_EQ(buffer, std::string(4, '\xEE')) << "nothing written";
    }
  }
}

// Reads of any size, small and large in turn, get the body whole and in order, whether the bytes
// waited for the read or went straight into the reader's buffer, and none is longer than asked.
TEST(InternetLibrary, ReadsOfAnySizeGetTheBodyWholeAndInOrder) {
  std::string body(700'000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string answer = testsupport::response("200 OK", body);
  testsupport::LoopbackServer server([&answer](testsupport::Exchange& e) {
    // In pieces, some after a pause, so that some bytes wait for the reader and some come while
    // it waits.
    constexpr size_t kPiece = 150'000;
    for (size_t at = 0, piece = 0; at < answer.size(); at += kPiece, ++piece) {
      if (piece % 2 == 1)
        e.idle(std::chrono::milliseconds(20));
      if (!e.send(std::string_view(answer).substr(at, kPiece)))
        return;
    }
  });
  const uint32_t sizes[] = {1, 65'536, 3, 1'000'000, 4096, 200'000};
  OneRequest request(server);
  ASSERT_TRUE(request.sent());
  std::string got;
  std::string buffer(1'000'000, '\0');
  for (size_t i = 0;; ++i) {
    const uint32_t size = sizes[i % std::size(sizes)];
    uint32_t count = 0;
    const int32_t ok = request.read(buffer.data(), size, count);
    ASSERT_LE(count, size);
    if (count == 0) {
      EXPECT_EQ(ok, 1) << "the end of a whole body";
      break;
    }
    got.append(buffer, 0, count);
  }
  EXPECT_EQ(got.size(), body.size());
  EXPECT_TRUE(got == body) << "the same bytes in the same order";
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
