// The internet stand-in called directly: handles are checked, and the header query reports the
// size it needs.
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

TEST(InternetLibrary, HeaderQueryReportsTheSizeItNeeds) {
  testsupport::LoopbackServer server(
      [](testsupport::Exchange& e) { e.send(testsupport::response("200 OK", "x")); });
  auto* open = rt::dll_function<inet::InternetOpenFn>(rt::kImportInternetOpenA);
  auto* connect = rt::dll_function<inet::InternetConnectFn>(rt::kImportInternetConnectA);
  auto* open_request = rt::dll_function<inet::HttpOpenRequestFn>(rt::kImportHttpOpenRequestA);
  auto* send = rt::dll_function<inet::HttpSendRequestTextFn>(rt::kImportHttpSendRequestA);
  auto* query = rt::dll_function<inet::HttpQueryInfoFn>(rt::kImportHttpQueryInfoA);
  auto* close = rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);

  inet::Handle session = open("agent", inet::kOpenTypeDirect, nullptr, nullptr, 0);
  inet::Handle connection =
      connect(session, "127.0.0.1", server.port(), nullptr, nullptr, inet::kServiceHttp, 0, 0);
  inet::Handle request = open_request(connection, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_EQ(send(request, nullptr, 0, nullptr, 0), 1);

  const std::string block = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n";
  std::string buffer(block.size(), '.');
  uint32_t length = static_cast<uint32_t>(buffer.size());
  EXPECT_EQ(query(request, inet::kQueryRawHeadersCrlf, buffer.data(), &length, nullptr), 0);
  EXPECT_EQ(length, block.size() + 1) << "room for the terminator too";
  EXPECT_EQ(buffer, std::string(block.size(), '.')) << "nothing written when it does not fit";
  buffer.resize(length);
  EXPECT_EQ(query(request, inet::kQueryRawHeadersCrlf, buffer.data(), &length, nullptr), 1);
  EXPECT_EQ(length, block.size());
  EXPECT_EQ(buffer, block + '\0');
  EXPECT_EQ(query(request, 19, buffer.data(), &length, nullptr), 0) << "only the raw block";
  close(request);
  close(connection);
  close(session);
}

}  // namespace
