// Texts that come from the film site (addresses, cookies) or from callers can never add a header
// line of their own: checked on the raw request the server received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "internet_seams.h"
#include "loopback_server.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "web/web_request.h"

namespace {

using testsupport::Exchange;
using testsupport::LoopbackServer;
using testsupport::response;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string text_of(const rt::Bytes& bytes) {
  const auto v = bytes.view();
  return {reinterpret_cast<const char*>(v.data()), v.size()};
}

std::string replaced(std::string text, const std::string& mark, const std::string& by) {
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size()))
    text.replace(at, mark.size(), by);
  return text;
}

bool mentions_injected(const testsupport::ReceivedRequest& request) {
  if (request.request_line.find("Injected") != std::string::npos)
    return true;
  for (const std::string& line : request.header_lines) {
    if (line.find("Injected") != std::string::npos)
      return true;
  }
  return false;
}

class HeaderInjection : public testing::Test {
 protected:
  void SetUp() override {
    inet::Limits limits;
    limits.connect_timeout_ms = 2000;
    limits.stall_seconds = 2;
    limits.total_seconds = 4;
    seams_.set_limits(limits);
  }
  testsupport::InternetSeams seams_;
};

TEST_F(HeaderInjection, AddressWithAControlByteIsRefusedBeforeAnythingOpens) {
  LoopbackServer server([](Exchange& e) { e.send(response("200 OK", "page")); });
  const std::string port = std::to_string(server.port());
  // "@" stands for 127.0.0.1:port.
  const char* const cases[] = {
      "http://@/a\r\nX-Injected: 1",
      "http://@/a\rX-Injected: 1",
      "http://@/a\nX-Injected: 1",
      "http://@/s?q=1\r\nX-Injected: 1\r\n",
      "http://@/s?q=\nHost: evil.lan",
      "http://@/s?q=a\tb",
      "http://@/s?q=\x7f",
      "http://@/a\tb",
      "http://@/a\x7f",
      "http://@/a\x01",
      "http://@/a\x1b[0m",
      "http://@/\r\n\r\nGET /smuggled HTTP/1.1",
      "http://127.0.0.1\r\nX-Injected: 1\r\n:P/",
      "http://127.0.0.1\t:P/",
      "http://127.0.0.1\x7f:P/",
      "http://\n@/",
      "\r\nhttp://@/",
      "http://@\n",
  };
  for (const char* pattern : cases) {
    const std::string address =
        replaced(replaced(pattern, "@", "127.0.0.1:" + port), ":P", ":" + port);
    SCOPED_TRACE(testing::PrintToString(address));
    testsupport::InternetSeams seams;
    seams.start_log();
    rt::Text cookies("c=1"), returned_cookies("old"), headers("X-A: 1"), returned_headers("old");
    rt::Bytes body_bytes;
    const rt::Bytes body = web::web_request({.address = address.c_str(),
                                             .method = 1,
                                             .body_text = "a=1",
                                             .cookies = &cookies,
                                             .returned_cookies = &returned_cookies,
                                             .headers = &headers,
                                             .returned_headers = &returned_headers,
                                             .body_bytes = &body_bytes});
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(seams.calls(true), std::vector<std::string>{}) << "not even InternetOpenA";
    EXPECT_EQ(cookies.view(), "c=1");
    EXPECT_EQ(returned_cookies.view(), "old");
    EXPECT_EQ(headers.view(), "X-A: 1");
    EXPECT_EQ(returned_headers.view(), "old");
    EXPECT_TRUE(body_bytes.empty());
  }
  EXPECT_EQ(server.connections(), 0u);
}

TEST_F(HeaderInjection, CallerHeadersAndCookiesCannotAddALine) {
  struct Case {
    const char* name;
    const char* headers;  // null: left out
    const char* cookies;  // null: left out
    // What arrives after the Host line; "@" stands for the address.
    std::vector<std::string> lines;
  };
  const std::string agent = std::string("User-Agent: ") + kAgent;
  const std::vector<std::string> tail = {"Accept: */*", "Referer: @", "Accept-Language: zh-cn"};
  const auto plain = [&](std::vector<std::string> before, std::vector<std::string> after = {}) {
    std::vector<std::string> lines = {agent};
    lines.insert(lines.end(), before.begin(), before.end());
    lines.insert(lines.end(), tail.begin(), tail.end());
    lines.insert(lines.end(), after.begin(), after.end());
    lines.push_back("Cache-Control: no-cache");
    return lines;
  };
  const Case cases[] = {
      {"lone LF in a line", "X-A: 1\nX-Injected: 1\r\nX-B: 2", nullptr, plain({"X-B: 2"})},
      {"lone CR in a line", "X-A: 1\rX-Injected: 1\r\nX-B: 2", nullptr, plain({"X-B: 2"})},
      {"lone CR at the end", "X-B: 2\r\nX-A: 1\r", nullptr, plain({"X-B: 2"})},
      {"vertical tab", "X-A: 1\vX-Injected: 1", nullptr, plain({})},
      {"escape", "X-A: \x1b[31m", nullptr, plain({})},
      {"DEL", "X-A: 1\x7f", nullptr, plain({})},
      {"tab is kept", "X-A: a\tb", nullptr, plain({"X-A: a\tb"})},
      // An empty line would end the header block early and start a second request.
      {"empty line inside", "X-A: 1\r\n\r\nX-B: 2", nullptr, plain({"X-A: 1", "X-B: 2"})},
      {"agent line with a break",
       "User-Agent: a\nX-Injected: 1",
       nullptr,
       {"User-Agent: a", "Accept: */*", "Referer: @", "Accept-Language: zh-cn",
        "Cache-Control: no-cache"}},
      {"cookies clean", nullptr, "a=1", plain({}, {"Cookie: a=1"})},
      {"cookies with CR LF", nullptr, "a=1\r\nX-Injected: 1", plain({})},
      {"cookies with LF", nullptr, "a=1\nX-Injected: 1", plain({})},
      {"cookie line with CR", nullptr, "Cookie: a=1\rX-Injected: 1", plain({})},
      {"cookies with a tab", nullptr, "a=1;\tb=2", plain({})},
      {"cookies with DEL", nullptr, "a=\x7f", plain({})},
      {"bad cookies, good headers", "X-B: 2", "a=1\n", plain({"X-B: 2"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server([](Exchange& e) { e.send(response("200 OK", "page")); });
    const std::string address = server.url("/p");
    rt::Text headers(c.headers ? c.headers : ""), cookies(c.cookies ? c.cookies : "");
    const rt::Bytes body = web::web_request({.address = address.c_str(),
                                             .cookies = c.cookies ? &cookies : nullptr,
                                             .headers = c.headers ? &headers : nullptr});
    EXPECT_EQ(text_of(body), "page") << "the rest of the request goes out as it would";
    ASSERT_EQ(server.requests().size(), 1u);
    const testsupport::ReceivedRequest request = server.requests()[0];
    std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server.port())};
    for (const std::string& line : c.lines) expected.push_back(replaced(line, "@", address));
    EXPECT_EQ(request.header_lines, expected);
    EXPECT_EQ(request.request_line, "GET /p HTTP/1.1");
    EXPECT_FALSE(mentions_injected(request));
  }
}

// The library called directly, as any caller of it may: agent, referrer and accept types are
// cut at the first control byte, and header lines holding one are left out whole.
TEST_F(HeaderInjection, LibraryNeverSendsACallersControlByte) {
  auto* open = rt::dll_function<inet::InternetOpenFn>(rt::kImportInternetOpenA);
  auto* connect = rt::dll_function<inet::InternetConnectFn>(rt::kImportInternetConnectA);
  auto* open_request = rt::dll_function<inet::HttpOpenRequestFn>(rt::kImportHttpOpenRequestA);
  auto* send = rt::dll_function<inet::HttpSendRequestTextFn>(rt::kImportHttpSendRequestA);
  auto* close = rt::dll_function<inet::InternetCloseHandleFn>(rt::kImportInternetCloseHandle);
  struct Case {
    const char* name;
    const char* agent;
    const char* referrer;
    std::vector<const char*> accept;
    std::string block;               // sent with its length, zero bytes included
    std::vector<std::string> lines;  // after the Host line
  };
  const Case cases[] = {
      {"clean",
       "ag",
       "http://r/",
       {"text/html"},
       "X-A: 1",
       {"User-Agent: ag", "X-A: 1", "Referer: http://r/", "Accept: text/html"}},
      {"agent with CR LF", "ag\r\nX-Injected: 1", nullptr, {}, "", {"User-Agent: ag"}},
      {"agent with escape", "ag\x1bX-Injected", nullptr, {}, "", {"User-Agent: ag"}},
      {"agent with DEL", "ag\x7fX-Injected", nullptr, {}, "", {"User-Agent: ag"}},
      {"agent with a tab", "a\tg", nullptr, {}, "", {"User-Agent: a\tg"}},
      {"agent all control", "\nX-Injected: 1", nullptr, {}, "", {}},
      {"referrer with LF",
       "ag",
       "http://r/\nX-Injected: 1",
       {},
       "",
       {"User-Agent: ag", "Referer: http://r/"}},
      {"accept type with CR",
       "ag",
       nullptr,
       {"text/html\rX-Injected: 1", "image/*"},
       "",
       {"User-Agent: ag", "Accept: text/html, image/*"}},
      {"zero byte in a line",
       "ag",
       nullptr,
       {},
       std::string("X-A: 1\0X-Injected: 1\r\nX-B: 2", 28),
       {"User-Agent: ag", "X-B: 2"}},
      {"lone LF",
       "ag",
       nullptr,
       {},
       "X-A: 1\nX-Injected: 1\r\nX-B: 2",
       {"User-Agent: ag", "X-B: 2"}},
      {"lone CR",
       "ag",
       nullptr,
       {},
       "X-B: 2\r\nX-A: 1\rX-Injected: 1",
       {"User-Agent: ag", "X-B: 2"}},
      {"LF CR", "ag", nullptr, {}, "X-A: 1\n\rX-Injected: 1", {"User-Agent: ag"}},
      {"control byte", "ag", nullptr, {}, "X-A: \x01", {"User-Agent: ag"}},
      {"empty lines", "ag", nullptr, {}, "\r\n\r\nX-A: 1\r\n\r\n", {"User-Agent: ag", "X-A: 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server([](Exchange& e) { e.send(response("200 OK", "")); });
    std::vector<const char*> accept = c.accept;
    accept.push_back(nullptr);
    inet::Handle session = open(c.agent, inet::kOpenTypeDirect, nullptr, nullptr, 0);
    inet::Handle connection =
        connect(session, "127.0.0.1", server.port(), nullptr, nullptr, inet::kServiceHttp, 0, 0);
    inet::Handle request = open_request(connection, "GET", "/", nullptr, c.referrer,
                                        accept.size() > 1 ? accept.data() : nullptr, 0, 0);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(send(request, c.block.data(), static_cast<uint32_t>(c.block.size()), nullptr, 0), 1);
    close(request);
    close(connection);
    close(session);
    ASSERT_EQ(server.requests().size(), 1u);
    const testsupport::ReceivedRequest request_seen = server.requests()[0];
    std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server.port())};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(request_seen.header_lines, expected);
    EXPECT_FALSE(mentions_injected(request_seen));
  }
}

}  // namespace
