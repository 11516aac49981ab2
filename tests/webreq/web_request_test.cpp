// web_request against servers of the test's own on 127.0.0.1: what arrives, what comes back,
// and what reaches the internet library.
#include <gtest/gtest.h>

#include <httplib.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "internet_seams.h"
#include "loopback_server.h"
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

class WebRequest : public testing::Test {
 protected:
  void SetUp() override {
    inet::Limits limits;
    limits.connect_timeout_ms = 2000;
    limits.stall_seconds = 1;
    limits.total_seconds = 4;
    seams_.set_limits(limits);
  }
  testsupport::InternetSeams seams_;
};

// The most address space the process has held so far, from /proc/self/status; -1 unknown.
long peak_address_space_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmPeak:"))
      return std::stol(line.substr(7));
  }
  return -1;
}

// Answers every request with the same bytes.
LoopbackServer answering(std::string bytes) {
  return LoopbackServer([bytes](Exchange& e) { e.send(bytes); });
}

TEST_F(WebRequest, PlainGetMakesTheLibraryCallsInOrder) {
  LoopbackServer server = answering(response("200 OK", "hello"));
  const std::string address = server.url("/s?q=1");
  const std::string port = std::to_string(server.port());
  seams_.start_log();
  EXPECT_EQ(text_of(web::web_request({.address = address.c_str()})), "hello");

  const std::string block = "Accept: */*\\r\\nReferer: " + address + "\\r\\nAccept-Language: zh-cn";
  const std::vector<std::string> expected = {
      std::string("InternetOpenA(\"") + kAgent + "\", 1, null, null, 0x0) -> handle",
      "InternetConnectA(\"127.0.0.1\", " + port + ", null, null, 3, 0x0, 0) -> handle",
      "HttpOpenRequestA(\"GET\", \"/s?q=1\", \"HTTP/1.1\", null, null, 0x80004010, 0) -> handle",
      "HttpSendRequestA(\"" + block + "\", " + std::to_string(block.size() - 4) + ", \"\", 0) -> 1",
      "HttpQueryInfoA(536870917, 4) -> 1",  // the declared length, as a number
      "InternetReadFile(5) -> 5",           // the room left in a block of the declared size
      "InternetReadFile(1024) -> 0",
      "HttpQueryInfoA(22, 5000) -> 1",
      "InternetCloseHandle(request) -> 1",
      "InternetCloseHandle(connection) -> 1",
      "InternetCloseHandle(session) -> 1",
  };
  EXPECT_EQ(seams_.calls(true), expected);
}

TEST_F(WebRequest, PlainGetAndPostArriveWithTheCompletedHeaderBlock) {
  LoopbackServer server = answering(response("200 OK", "hello"));
  const std::string address = server.url("/s?q=1");
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port());
  const std::string block = "Accept: */*\r\nReferer: " + address + "\r\nAccept-Language: zh-cn";
  const std::string form = "Content-Type: application/x-www-form-urlencoded";
  struct Case {
    int32_t method;
    std::string block;
    std::vector<std::string> lines;  // as they arrive, after the request line
  };
  const Case cases[] = {
      {0,
       block,
       {host, std::string("User-Agent: ") + kAgent, "Accept: */*", "Referer: " + address,
        "Accept-Language: zh-cn", "Cache-Control: no-cache"}},
      {1,
       block + "\r\n" + form,
       {host, std::string("User-Agent: ") + kAgent, "Accept: */*", "Referer: " + address,
        "Accept-Language: zh-cn", form, "Cache-Control: no-cache", "Content-Length: 3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    rt::Text headers, returned_headers, returned_cookies;
    const rt::Bytes body = web::web_request({.address = address.c_str(),
                                             .method = c.method,
                                             .body_text = "a=1",
                                             .returned_cookies = &returned_cookies,
                                             .headers = &headers,
                                             .returned_headers = &returned_headers});
    EXPECT_EQ(text_of(body), "hello");
    EXPECT_EQ(headers.view(), c.block);
    EXPECT_EQ(returned_headers.view(),
              "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n");
    EXPECT_TRUE(returned_cookies.empty());
    const testsupport::ReceivedRequest request = server.requests().back();
    EXPECT_EQ(request.request_line,
              (c.method == 0 ? "GET" : "POST") + std::string(" /s?q=1 HTTP/1.1"));
    EXPECT_EQ(request.header_lines, c.lines);
    EXPECT_EQ(request.body, c.method == 0 ? "" : "a=1");
  }
}

TEST_F(WebRequest, MethodsAndBodies) {
  struct Case {
    int32_t method;
    const char* body_text;
    std::string body_bytes;
    const char* verb;
    std::string on_the_wire;
    std::string body_bytes_after;
  };
  const std::string zero_inside("a\0b", 3);
  const Case cases[] = {
      {-1, "a=1", "", "GET", "", ""},  // GET sends nothing and leaves the bytes alone
      {0, "a=1", "", "GET", "", ""},
      {1, "a=1", "", "POST", "a=1", "a=1"},
      {1, "a=1", "xyz", "POST", "xyz", "xyz"},  // given bytes win over the text
      {1, "", zero_inside, "POST", zero_inside, zero_inside},
      {2, "", "", "HEAD", "", ""},
      {3, "p", "", "PUT", "p", "p"},
      {4, "", "", "OPTIONS", "", ""},
      {5, "", "", "DELETE", "", ""},
      {6, "", "", "TRACE", "", ""},
      {7, "", "", "CONNECT", "", ""},
      {8, "", "", "GET", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.method) + " " + c.body_text);
    LoopbackServer server = answering(response("200 OK", ""));
    rt::Bytes body_bytes(
        std::span(reinterpret_cast<const uint8_t*>(c.body_bytes.data()), c.body_bytes.size()));
    web::web_request({.address = server.url("/v").c_str(),
                      .method = c.method,
                      .body_text = c.body_text,
                      .body_bytes = &body_bytes});
    ASSERT_EQ(server.requests().size(), 1u);
    const testsupport::ReceivedRequest request = server.requests()[0];
    EXPECT_EQ(request.request_line, std::string(c.verb) + " /v HTTP/1.1");
    EXPECT_EQ(request.body, c.on_the_wire);
    EXPECT_EQ(text_of(body_bytes), c.body_bytes_after);
  }
}

TEST_F(WebRequest, AgentStringAndCallerHeaders) {
  struct Case {
    const char* headers;
    const char* agent;  // as InternetOpenA receives it
    const char* sent;   // the block sent, address left out
  };
  const Case cases[] = {
      {"", kAgent, "Accept: */*\r\nReferer: @\r\nAccept-Language: zh-cn"},
      {"User-Agent: X", "X",
       "User-Agent: X\r\nAccept: */*\r\nReferer: @\r\nAccept-Language: zh-cn"},
      // Found without regard to case, but cut out with it: the text after the first colon.
      {"user-agent: X", "X",
       "user-agent: X\r\nAccept: */*\r\nReferer: @\r\nAccept-Language: zh-cn"},
      {"Accept: a\r\nUser-Agent:  Y \r\nX-K: v", "Y",
       "Accept: a\r\nUser-Agent:  Y \r\nX-K: v\r\nReferer: @\r\nAccept-Language: zh-cn"},
      {"accept: text/html", kAgent,
       "accept: text/html\r\nAccept: */*\r\nReferer: @\r\nAccept-Language: zh-cn"},
      {"Referer: r\r\nAccept-Language: en", kAgent,
       "Referer: r\r\nAccept-Language: en\r\nAccept: */*"},
      // The text after the first colon of the whole block, line break included: the library
      // must not let it start a line of its own.
      {"Accept: a\r\nuser-agent: Z", "a\\r\\nuser-agent: Z",
       "Accept: a\r\nuser-agent: Z\r\nReferer: @\r\nAccept-Language: zh-cn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    LoopbackServer server = answering(response("200 OK", ""));
    const std::string address = server.url("/");
    testsupport::InternetSeams seams;
    seams.start_log();
    rt::Text headers(c.headers);
    web::web_request({.address = address.c_str(), .headers = &headers});
    ASSERT_FALSE(seams.calls().empty());
    EXPECT_EQ(seams.calls()[0],
              "InternetOpenA(\"" + std::string(c.agent) + "\", 1, null, null, 0x0) -> handle");
    std::string sent = c.sent;
    if (const size_t at = sent.find('@'); at != std::string::npos)
      sent.replace(at, 1, address);
    EXPECT_EQ(headers.view(), sent);
    // Every line of the block arrives as given, in its order, and one agent line only.
    const auto lines = server.requests()[0].header_lines;
    std::string arrived;
    int agent_lines = 0;
    for (const std::string& line : lines) {
      if (sent.find(line) != std::string::npos)
        arrived += (arrived.empty() ? "" : "\r\n") + line;
      agent_lines += line.rfind("User-Agent", 0) == 0 || line.rfind("user-agent", 0) == 0;
    }
    EXPECT_EQ(arrived, sent);
    EXPECT_EQ(agent_lines, 1);
  }
}

TEST_F(WebRequest, RequestFlagsAndTheCookieLine) {
  struct Case {
    const char* scheme;
    const char* cookies;  // null: left out
    bool no_redirect;
    const char* flags;
    const char* cookie_line;  // null: nothing arrives (the server speaks no TLS)
  };
  const Case cases[] = {
      {"http", nullptr, false, "0x80004010", ""},
      {"https", nullptr, false, "0x80800010", nullptr},
      {"HTTPS", nullptr, false, "0x80800010", nullptr},
      {"http", nullptr, true, "0x80204010", ""},
      {"http", "", false, "0x80084010", ""},
      {"https", "", true, "0x80a80010", nullptr},
      {"http", "Cookie: a=1", false, "0x80084010", "a=1"},
      {"http", "a=1; b=2", false, "0x80084010", "a=1; b=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scheme) + " " + (c.cookies ? c.cookies : "(left out)"));
    LoopbackServer server = answering(response("200 OK", ""));
    const std::string address =
        std::string(c.scheme) + "://127.0.0.1:" + std::to_string(server.port()) + "/c";
    testsupport::InternetSeams seams;
    seams.start_log();
    rt::Text cookies(c.cookies ? c.cookies : "");
    web::web_request({.address = address.c_str(),
                      .cookies = c.cookies ? &cookies : nullptr,
                      .no_redirect = c.no_redirect});
    EXPECT_EQ(seams.calls()[2],
              std::string("HttpOpenRequestA(\"GET\", \"/c\", \"HTTP/1.1\", null, null, ") +
                  c.flags + ", 0) -> handle");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), c.cookie_line ? 1u : 0u);
    if (c.cookie_line) {
      EXPECT_EQ(requests[0].header("Cookie"), c.cookie_line);
    }
  }
}

TEST_F(WebRequest, ResponseCookiesAndMerging) {
  struct Case {
    const char* cookies;  // null: left out
    bool auto_merge;
    const char* returned;
    const char* cookies_after;
  };
  const Case cases[] = {
      {nullptr, true, "sid=9; x=1; a=deleted", ""},
      {"a=1; keep=3", true, "sid=9; x=1; keep=3", "sid=9; x=1; keep=3"},
      {"a=1; keep=3", false, "sid=9; x=1; a=deleted", "a=1; keep=3"},
      {"", true, "sid=9; x=1", "sid=9; x=1"},
  };
  const std::string cookie_headers =
      "set-cookie: sid=9; path=/\r\nSET-COOKIE: x=1\r\nSet-Cookie: a=deleted; Max-Age=0\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cookies ? c.cookies : "(left out)") +
                 (c.auto_merge ? "" : " no merge"));
    LoopbackServer server = answering(response("200 OK", "", cookie_headers));
    rt::Text cookies(c.cookies ? c.cookies : "");
    rt::Text returned_cookies, returned_headers;
    web::web_request({.address = server.url("/").c_str(),
                      .cookies = c.cookies ? &cookies : nullptr,
                      .returned_cookies = &returned_cookies,
                      .returned_headers = &returned_headers,
                      .auto_merge = c.auto_merge});
    EXPECT_EQ(returned_cookies.view(), c.returned);
    EXPECT_EQ(cookies.view(), c.cookies_after);
    EXPECT_NE(returned_headers.view().find("\r\nSet-Cookie: sid=9; path=/\r\nSet-Cookie: x=1\r\n"),
              std::string_view::npos);
  }
}

TEST_F(WebRequest, RedirectsFollowedOrNot) {
  LoopbackServer server([](Exchange& e) {
    if (e.request().request_line.starts_with("GET /from ")) {
      e.send(response("302 Found", "moved", "Location: /to\r\nSet-Cookie: hop=1\r\n"));
    } else {
      e.send(response("200 OK", "final", "Set-Cookie: end=2\r\n"));
    }
  });
  struct Case {
    bool no_redirect;
    const char* cookies;
    const char* body;
    const char* status;
    const char* returned_cookies;
    const char* cookie_at_target;  // null: the target is not asked
  };
  const Case cases[] = {
      {false, nullptr, "final", "HTTP/1.1 200 OK\r\n", "end=2", "hop=1"},
      {true, nullptr, "moved", "HTTP/1.1 302 Found\r\n", "hop=1", nullptr},
      // Cookies of the caller's own turn the library's cookie store off along the way.
      {false, "c=1", "final", "HTTP/1.1 200 OK\r\n", "end=2; c=1", "c=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const size_t before = server.requests().size();
    rt::Text cookies(c.cookies ? c.cookies : "");
    rt::Text returned_cookies, returned_headers;
    const rt::Bytes body = web::web_request({.address = server.url("/from").c_str(),
                                             .cookies = c.cookies ? &cookies : nullptr,
                                             .returned_cookies = &returned_cookies,
                                             .returned_headers = &returned_headers,
                                             .no_redirect = c.no_redirect});
    EXPECT_EQ(text_of(body), c.body);
    EXPECT_TRUE(returned_headers.view().starts_with(c.status)) << returned_headers.view();
    EXPECT_EQ(returned_cookies.view(), c.returned_cookies);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size() - before, c.cookie_at_target ? 2u : 1u);
    if (c.cookie_at_target) {
      EXPECT_EQ(requests.back().header("Cookie"), c.cookie_at_target);
    }
  }
}

TEST_F(WebRequest, BodiesArriveWholeOrAsFarAsTheyCame) {
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>(i % 7 == 0 ? 0 : i);
  struct Case {
    const char* name;
    std::string answer;
    std::string body;
  };
  const Case cases[] = {
      {"zero bytes inside", response("200 OK", binary), binary},
      {"closed early", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + binary.substr(0, 100),
       binary.substr(0, 100)},
      {"chunked, cut short",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n10\r\nwor", "hellowor"},
      {"no length, ended by closing", "HTTP/1.0 200 OK\r\n\r\n" + binary, binary},
      {"empty", response("204 No Content", ""), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server = answering(c.answer);
    rt::Text returned_headers;
    const rt::Bytes body = web::web_request(
        {.address = server.url("/").c_str(), .returned_headers = &returned_headers});
    EXPECT_EQ(text_of(body), c.body);
    EXPECT_TRUE(returned_headers.view().starts_with("HTTP/1.")) << returned_headers.view();
  }
}

// The block grows toward the length the response declares, but the bytes that arrive decide:
// a length that is too large, too small or missing gives the bytes that came, in a block of their
// own size.
TEST_F(WebRequest, DeclaredLengthsTrueOrNotGiveTheBytesThatCame) {
  std::string sent(300'000, 'x');
  for (size_t i = 0; i < sent.size(); i += 89) sent[i] = static_cast<char>(i / 89);
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < sent.size(); at += 7000) {
    const std::string piece = sent.substr(at, 7000);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  struct Case {
    const char* name;
    std::string answer;
    int32_t method;
    std::string body;
  };
  const Case cases[] = {
      {"declared and whole", response("200 OK", sent), 0, sent},
      {"declared larger than what came",
       "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + sent, 0, sent},
      {"declared smaller than what came",
       "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n" + sent, 0,
       sent.substr(0, 1000)},
      {"declared past 32 bits", "HTTP/1.1 200 OK\r\nContent-Length: 4294967297\r\n\r\n" + sent, 0,
       sent},
      {"declared zero", response("200 OK", ""), 0, ""},
      {"a length for HEAD, no body", "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n", 2, ""},
      {"chunked, no length", chunked, 0, sent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server = answering(c.answer);
    const rt::Bytes body =
        web::web_request({.address = server.url("/").c_str(), .method = c.method});
    EXPECT_EQ(body.size(), c.body.size());
    EXPECT_TRUE(text_of(body) == c.body);
    if (!c.body.empty()) {
      EXPECT_LT(malloc_usable_size(const_cast<uint8_t*>(body.get())), 8 + c.body.size() + 4096);
    }
  }
}

// A server that declares a body of nearly 2 GB and sends a little gets a block for what it sent:
// the process never reserves the declared size.
TEST_F(WebRequest, AHugeDeclaredLengthReservesNothingUpFront) {
  const std::string sent(70'000, 'h');
  LoopbackServer server = answering("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n" + sent);
  const long peak_before = peak_address_space_kib();
  ASSERT_GT(peak_before, 0);
  const rt::Bytes body = web::web_request({.address = server.url("/").c_str()});
  EXPECT_TRUE(text_of(body) == sent);
  EXPECT_LT(peak_address_space_kib() - peak_before, 256 * 1024)
      << "the address space grew by the declared length";
}

TEST_F(WebRequest, UnreachableServerLeavesEveryVariableAlone) {
  struct Case {
    const char* address;
    const char* proxy;
  };
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(testsupport::closed_port()) + "/x";
  const Case cases[] = {
      {refused.c_str(), nullptr},
      {"http://no-such-host.invalid/x", nullptr},
      {"http://127.0.0.1:99999/x", nullptr},
      {"http://127.0.0.1/x", " "},  // a proxy text that names no server
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    rt::Text cookies("c=1"), returned_cookies("old"), headers("X-A: 1"), returned_headers("old");
    rt::Bytes body_bytes;
    const rt::Bytes body = web::web_request({.address = c.address,
                                             .method = 1,
                                             .body_text = "a=1",
                                             .cookies = &cookies,
                                             .returned_cookies = &returned_cookies,
                                             .headers = &headers,
                                             .returned_headers = &returned_headers,
                                             .body_bytes = &body_bytes,
                                             .proxy = c.proxy});
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(cookies.view(), "c=1");
    EXPECT_EQ(returned_cookies.view(), "old");
    EXPECT_EQ(headers.view(), "X-A: 1");
    EXPECT_EQ(returned_headers.view(), "old");
    EXPECT_TRUE(body_bytes.empty());
  }
}

TEST_F(WebRequest, RefusedConnectionClosesWhatWasOpened) {
  const std::string address =
      "http://127.0.0.1:" + std::to_string(testsupport::closed_port()) + "/x";
  seams_.start_log();
  web::web_request({.address = address.c_str()});
  const auto calls = seams_.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_TRUE(calls[1].ends_with("-> null"));
  EXPECT_EQ(calls[2], "InternetCloseHandle(session) -> 1");
}

TEST_F(WebRequest, HeaderBlockMustFitTheBuffer) {
  // A block of exactly `size` bytes: status line, length, padding, cookie.
  const auto answer_of_size = [](size_t size) {
    const std::string fixed = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nSet-Cookie: s=1\r\n";
    const std::string pad_name = "X-Pad: ";
    const std::string pad(size - fixed.size() - pad_name.size() - 2, 'p');
    return fixed + pad_name + pad + "\r\n\r\nbody";
  };
  for (const size_t size : {4999u, 5000u, 9000u}) {
    SCOPED_TRACE(size);
    LoopbackServer server = answering(answer_of_size(size));
    rt::Text returned_headers, returned_cookies;
    const rt::Bytes body = web::web_request({.address = server.url("/").c_str(),
                                             .returned_cookies = &returned_cookies,
                                             .returned_headers = &returned_headers});
    EXPECT_EQ(text_of(body), "body");
    const bool fits = size < 5000;  // the terminator needs the last byte
    EXPECT_EQ(returned_headers.size(), fits ? size : 5000u);
    if (!fits) {
      EXPECT_EQ(returned_headers.view(), std::string(5000, ' '));
    }
    EXPECT_EQ(returned_cookies.view(), fits ? "s=1" : "");
  }
}

TEST_F(WebRequest, ProxyCarriesTheRequest) {
  LoopbackServer proxy([](Exchange& e) {
    if (e.request().request_line.starts_with("CONNECT")) {
      e.send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
    } else {
      e.send(response("200 OK", "via proxy"));
    }
  });
  const std::string proxy_text = "127.0.0.1:" + std::to_string(proxy.port());
  struct Case {
    const char* address;
    std::string proxy_argument;
    const char* request_line;
    const char* body;
  };
  const Case cases[] = {
      {"http://film.lan/x?y=1", "\"http=" + proxy_text + "\"", "GET http://film.lan/x?y=1 HTTP/1.1",
       "via proxy"},
      {"https://film.lan/x", "\"" + proxy_text + "\"", "CONNECT film.lan:443 HTTP/1.1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    testsupport::InternetSeams seams;
    seams.start_log();
    const rt::Bytes body = web::web_request({.address = c.address, .proxy = proxy_text.c_str()});
    EXPECT_EQ(text_of(body), c.body);
    EXPECT_EQ(seams.calls()[0], std::string("InternetOpenA(\"") + kAgent + "\", 3, " +
                                    c.proxy_argument + ", \"\", 0x0) -> handle");
    EXPECT_EQ(proxy.requests().back().request_line, c.request_line);
  }
}

TEST_F(WebRequest, MisbehavingServersEndTheCall) {
  using std::chrono::milliseconds;
  struct Case {
    const char* name;
    std::function<void(Exchange&)> answer;
    const char* body;
  };
  const Case cases[] = {
      {"never answers", [](Exchange& e) { e.idle(milliseconds(20000)); }, ""},
      {"answers a byte at a time, forever",
       [](Exchange& e) {
         e.send("HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nX-Slow: ");
         while (!e.idle(milliseconds(100)) && e.send("x")) {
         }
       },
       ""},
      {"stops in the middle of the body",
       [](Exchange& e) {
         e.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
         e.idle(milliseconds(20000));
       },
       "part"},
      {"malformed status line",
       [](Exchange& e) { e.send("HTTP/1.1 abc\r\nSet-Cookie: s=1\r\n\r\nx"); }, ""},
      {"no status line", [](Exchange& e) { e.send("garbage\r\nSet-Cookie: s=1\r\n\r\nx"); }, ""},
      {"endless headers",
       [](Exchange& e) {
         e.send("HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\n");
         const std::string line = "X-More: " + std::string(1000, 'm') + "\r\n";
         while (e.send(line)) {
         }
       },
       ""},
      {"redirect to ftp",
       [](Exchange& e) {
         e.send(response("302 Found", "", "Location: ftp://127.0.0.1/x\r\nSet-Cookie: s=1\r\n"));
       },
       ""},
      {"redirect to a file",
       [](Exchange& e) {
         e.send(response("301 Moved", "", "Location: file:///etc/passwd\r\nSet-Cookie: s=1\r\n"));
       },
       ""},
      {"redirects without end",
       [](Exchange& e) {
         e.send(response("302 Found", "", "Location: /again\r\nSet-Cookie: s=1\r\n"));
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.answer);
    rt::Text returned_cookies("old");
    const auto start = std::chrono::steady_clock::now();
    const rt::Bytes body = web::web_request(
        {.address = server.url("/").c_str(), .returned_cookies = &returned_cookies});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(text_of(body), c.body);
    EXPECT_EQ(returned_cookies.view(), "") << "only a complete answer sets cookies";
  }
}

TEST_F(WebRequest, BodyPastTheLibraryCapIsCut) {
  inet::Limits limits = seams_.limits();
  limits.max_body_bytes = 100'000;
  seams_.set_limits(limits);
  std::string big(300'000, 'b');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = static_cast<char>('0' + i / 1000 % 10);
  LoopbackServer server = answering(response("200 OK", big));
  const rt::Bytes body = web::web_request({.address = server.url("/").c_str()});
  EXPECT_EQ(text_of(body), big.substr(0, 100'000));
}

// The body is read into a block that doubles from 16 KiB; what comes back is a byte set of
// exactly the body's size ({1, length, bytes}), whichever growth step the body ended in.
TEST_F(WebRequest, BodyComesBackAsAByteSetBlockOfItsOwnSize) {
  for (const size_t size : {size_t{1}, size_t{1024}, size_t{16376}, size_t{16377}, size_t{16384},
                            size_t{32760}, size_t{32761}, size_t{100'000}}) {
    SCOPED_TRACE(size);
    std::string sent(size, 'x');
    for (size_t i = 0; i < size; i += 97) sent[i] = static_cast<char>(i / 97);
    LoopbackServer server = answering(response("200 OK", sent));
    const rt::Bytes body = web::web_request({.address = server.url("/").c_str()});
    ASSERT_NE(body.get(), nullptr);
    int32_t header[2];
    std::memcpy(header, body.get(), sizeof header);
    EXPECT_EQ(header[0], 1);
    EXPECT_EQ(header[1], static_cast<int32_t>(size));
    EXPECT_EQ(text_of(body), sent);
    // Trimmed to the body, no room left over from growing (large blocks are whole pages).
    EXPECT_LT(malloc_usable_size(const_cast<uint8_t*>(body.get())), 8 + size + 4096);
  }
}

TEST_F(WebRequest, FiftyWorkersAtOnceGetTheirOwnBodies) {
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.Get(R"(/n/(\d+))", [](const httplib::Request& request, httplib::Response& reply) {
    const int n = std::stoi(request.matches[1]);
    reply.set_content(
        std::string(static_cast<size_t>(1000 + 997 * n), static_cast<char>('A' + n % 26)),
        "application/octet-stream");
  });
  // The library listens with a queue of 5; fifty callers at once would wait for retransmitted
  // connection requests. Listening again on the socket widens the queue.
  int listening = -1;
  server.set_socket_options([&listening](int socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening = socket;
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_EQ(listen(listening, 128), 0);
  std::thread listener([&] { server.listen_after_bind(); });

  constexpr int kWorkers = 50;
  std::vector<std::string> bodies(kWorkers);
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&bodies, port, i] {
      const std::string address =
          "http://127.0.0.1:" + std::to_string(port) + "/n/" + std::to_string(i);
      bodies[static_cast<size_t>(i)] = text_of(web::web_request({.address = address.c_str()}));
    });
  }
  for (std::thread& worker : workers) worker.join();
  server.stop();
  listener.join();
  for (int i = 0; i < kWorkers; ++i) {
    const std::string expected(static_cast<size_t>(1000 + 997 * i),
                               static_cast<char>('A' + i % 26));
    EXPECT_TRUE(bodies[static_cast<size_t>(i)] == expected)
        << "worker " << i << " got " << bodies[static_cast<size_t>(i)].size() << " bytes";
  }
}

}  // namespace
