#include <gtest/gtest.h>

#include <climits>

#include "web/address.h"

namespace {

struct Split {
  const char* address;
  const char* host;
  int32_t port;
  const char* path;
};

TEST(AddressSplitting, HostPortAndPath) {
  const Split cases[] = {
      {"http://Host.lan/a/b?x=1", "host.lan", 80, "/a/b?x=1"},
      {"https://host.lan", "host.lan", 443, "/"},
      {"host.lan:8080/p", "host.lan", 8080, "/p"},
      {"HTTPS://x.lan/", "x.lan", 443, "/"},
      // Only the first five bytes are looked at for the default port.
      {"https.host.lan/x", "https.host.lan", 443, "/x"},
      {"http://host:/x", "host", 0, "/x"},
      {"http://Host.lan:8080", "host.lan", 8080, "/"},
      {"http://host.lan/A#Frag", "host.lan", 80, "/A#Frag"},
      {"http://a.lan/x?u=http://b.lan/y", "a.lan", 80, "/x?u=http://b.lan/y"},
      {"http://host.lan/电影/第1集", "host.lan", 80, "/电影/第1集"},
      {"", "", 80, "/"},
  };
  for (const Split& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(web::host_of_address(c.address).view(), c.host);
    EXPECT_EQ(web::port_of_address(c.address), c.port);
    EXPECT_EQ(web::path_of_address(c.address).view(), c.path);
  }
}

struct HostOption {
  const char* address;
  web::OptBool main_domain_only;
  web::OptBool keep_port;
  web::OptInt levels;
  const char* host;
};

TEST(AddressSplitting, HostOptions) {
  const HostOption cases[] = {
      {"http://a.b.host.lan/", true, {}, {}, "host.lan"},
      {"http://lan/", true, {}, {}, "lan"},
      {"http://a.b.host.lan:81/", true, true, {}, "host.lan:81"},
      {"http://host.lan:81/", {}, true, {}, "host.lan:81"},
      {"http://a.b.host.lan/", {}, {}, 1, "host.lan"},
      {"http://a.b.host.lan/", {}, {}, 0, "lan"},
      {"http://a.b.host.lan/", true, {}, 0, "lan"},  // the levels route ignores main_domain_only
      {"https://A.B.Host.lan:8080/x", {}, {}, 1, "host.lan"},
      {"https://a.b.host.lan:8080/x", {}, true, 1, "host.lan:8080"},
      {"http://a.b.host.lan./", {}, {}, 1, "host.lan."},  // a dot in the last byte is passed over
      {"http://a.b.c/", {}, {}, 5, "a.b.c"},              // fewer dots: the host stays whole
      {"http://a.b.c/", {}, {}, INT_MAX, "a.b.c"},
      {"http://a.b.c/", {}, {}, -3, "c"},
  };
  for (const HostOption& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(web::host_of_address(c.address, c.main_domain_only, c.keep_port, c.levels).view(),
              c.host);
  }
}

}  // namespace
