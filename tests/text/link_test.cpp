// Links cut out of pages, resolved against the page they came from as a browser would, and the
// ones that must never be fetched or opened.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "web/link.h"

namespace {

TEST(ResolveLink, EveryFormOfLinkAgainstItsPage) {
  constexpr const char* kSearch = "http://site.lan/search.php?searchword=%E4%B8%AD";
  constexpr const char* kTitle = "http://site.lan:8080/vod/12.html";
  const struct {
    const char* page;
    const char* link;
    const char* expected;
  } cases[] = {
      {kSearch, "http://img.lan/p.jpg", "http://img.lan/p.jpg"},
      {kSearch, "//img.lan/p.jpg", "http://img.lan/p.jpg"},
      {"https://site.lan/s", "//cdn.lan/p.jpg", "https://cdn.lan/p.jpg"},
      {kSearch, "/upload/p.jpg", "http://site.lan/upload/p.jpg"},
      {kSearch, "p.jpg", "http://site.lan/p.jpg"},
      {kTitle, "p.jpg", "http://site.lan:8080/vod/p.jpg"},
      {kTitle, "../play/12-1-1.html", "http://site.lan:8080/play/12-1-1.html"},
      {kTitle, "./a/../b.html", "http://site.lan:8080/vod/b.html"},
      {kTitle, "?line=2", "http://site.lan:8080/vod/12.html?line=2"},
      {kTitle, "/p.m3u8#t=10", "http://site.lan:8080/p.m3u8#t=10"},
      {kSearch, "HTTPS://img.lan/P.jpg", "https://img.lan/P.jpg"},
      // What a template puts around an attribute's value, and inside it.
      {kSearch, " \t/vod/1.html\r\n ", "http://site.lan/vod/1.html"},
      {kSearch, "/posters/a b.jpg", "http://site.lan/posters/a%20b.jpg"},
      {kSearch, "/posters/中.jpg", "http://site.lan/posters/%E4%B8%AD.jpg"},  // GBK in, UTF-8 out
      {kSearch, "\\upload\\p.jpg?a\\b", "http://site.lan/upload/p.jpg?a\\b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(web::resolve_link(c.page, c.link), c.expected) << c.page << " + " << c.link;
  }
}

TEST(ResolveLink, LinksThatAreNeverFollowed) {
  const char* refused[] = {
      "",
      "   ",
      "javascript:alert(1)",
      "data:image/png;base64,AAAA",
      "file:///etc/passwd",
      "ftp://files.lan/p.jpg",
      "/a\r\nHost: evil.lan",
      "/a\nb",
      "/a\x01"
      "b",
      "/a\x7f",
      "http://a b.lan/",
  };
  for (const char* link : refused) {
    EXPECT_EQ(web::resolve_link("http://site.lan/search.php", link), "") << link;
  }
  EXPECT_EQ(web::resolve_link("", "/p.jpg"), "") << "no page to resolve against";
  EXPECT_EQ(web::resolve_link("file:///x", "/p.jpg"), "");
}

// curl decodes a host written with percent-escapes; the address still comes out in ASCII, the
// host in its IDNA form, or not at all (found by fuzzing: raw bytes came out, which later
// readers take for code page 936).
TEST(ResolveLink, HostsComeOutInAscii) {
  constexpr const char* kPage = "http://site.lan/search.php";
  EXPECT_EQ(web::resolve_link(kPage, "//img%FFlan/p.jpg"), "");
  EXPECT_EQ(web::resolve_link(kPage, "//im%67.lan/p.jpg"), "http://img.lan/p.jpg");
  // IDNA reads host names in the locale's encoding, as the program runs with it.
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(web::resolve_link(kPage, "//%E4%B8%AD.lan/p.jpg"), "http://xn--fiq.lan/p.jpg");
  EXPECT_EQ(web::resolve_link(kPage, "//中.lan/p.jpg"), "http://xn--fiq.lan/p.jpg");  // GBK
  EXPECT_EQ(web::resolve_link(kPage, "//img%FFlan/p.jpg"), "");
  std::setlocale(LC_CTYPE, saved.c_str());
}

// The page's own address is read the way a link is, so characters a link would have had
// encoded come out encoded from either, and a result resolves to itself when followed again
// (found by fuzzing).
TEST(ResolveLink, ThePageAddressIsEncodedLikeALink) {
  const std::string from_page = web::resolve_link("http://h.lan/a/b<q\\c", "?p=2");
  EXPECT_EQ(from_page, "http://h.lan/a/b%3Cq/c?p=2");
  EXPECT_EQ(web::resolve_link("http://other.lan/x", from_page), from_page);
  EXPECT_EQ(web::resolve_link("http://h.lan/a/", "b<q"), "http://h.lan/a/b%3Cq");
}

TEST(ResolveLink, WebAddressesAreToldFromPaths) {
  EXPECT_TRUE(web::is_web_address("http://a/"));
  EXPECT_TRUE(web::is_web_address("HTTPS://a/"));
  EXPECT_FALSE(web::is_web_address("/vod/1.html"));
  EXPECT_FALSE(web::is_web_address("//a/"));
  EXPECT_FALSE(web::is_web_address("http:/a"));
}

}  // namespace
