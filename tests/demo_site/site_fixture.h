// The demo film site started inside the test process on an ephemeral loopback port, with a
// client and the program's patterns.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "demo-site/film_site.h"

namespace site_test {

// Test sources are compiled with a code page 936 execution character set; page texts are UTF-8.
inline std::string utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}

// Every byte as "%" and two upper-case hex digits, the way the program sends a keyword.
inline std::string encode_every_byte(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

// Text between the first `left` and the next `right` after it; empty when either is missing.
inline std::string between(const std::string& text, std::string_view left, std::string_view right) {
  const size_t start = text.find(left);
  if (start == std::string::npos)
    return {};
  const size_t from = start + left.size();
  const size_t end = text.find(right, from);
  if (end == std::string::npos)
    return {};
  return text.substr(from, end - from);
}

// The page with every `origin` written "{origin}", to compare pages served on different ports.
inline std::string with_origin_named(std::string page, const std::string& origin) {
  for (size_t at = page.find(origin); at != std::string::npos; at = page.find(origin, at)) {
    page.replace(at, origin.size(), "{origin}");
  }
  return page;
}

struct ResultCard {
  std::string note, address, name, cast;
};

// The program's search patterns, matched the way it matches them (ignoring case, all matches).
inline std::vector<ResultCard> result_cards(const std::string& page) {
  static const std::regex pattern(
      R"re(text-white fed-text-center">([\s\S]*?)</span></a><a class="fed-list-title fed-font-xiv fed-text-center fed-text-sm-left fed-visible fed-part-eone" href="([\s\S]*?)">([\s\S]*?)</a><span class="fed-list-desc fed-font-xii fed-visible fed-part-eone fed-text-muted fed-hide-xs fed-show-sm-block">([\s\S]*?)</span></li>)re",
      std::regex::icase);
  std::vector<ResultCard> cards;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    cards.push_back({(*it)[1].str(), (*it)[2].str(), (*it)[3].str(), (*it)[4].str()});
  }
  return cards;
}

inline std::vector<std::string> poster_addresses(const std::string& page) {
  static const std::regex pattern(R"re(data-original="([\s\S]*?)"><span class=")re",
                                  std::regex::icase);
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1].str());
  }
  return found;
}

struct EpisodeLink {
  std::string address, name;
};

inline std::vector<EpisodeLink> episode_links(const std::string& text) {
  static const std::regex pattern(R"re(' href='([\s\S]*?)' target="_self">([\s\S]*?)</a>)re",
                                  std::regex::icase);
  std::vector<EpisodeLink> links;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    links.push_back({(*it)[1].str(), (*it)[2].str()});
  }
  return links;
}

inline std::unique_ptr<demo_site::FilmSite> open_site(
    std::chrono::milliseconds delay = {},
    demo_site::PageShape shape = demo_site::PageShape::compact) {
  std::string error;
  auto site = demo_site::FilmSite::open({demo_site::default_data_dir(), delay, shape}, error);
  EXPECT_TRUE(site) << error;
  return site;
}

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = open_site({}, shape_);
    ASSERT_TRUE(site_);
    port_ = site_->start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_url_encode(false);  // queries go out exactly as written
  }

  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // The body of a page that must answer 200.
  std::string fetch(const std::string& path) {
    const auto reply = client_->Get(path.c_str());
    if (!reply) {
      ADD_FAILURE() << "no answer for " << path;
      return {};
    }
    EXPECT_EQ(reply->status, 200) << path;
    return reply->body;
  }

  std::string search(std::string_view keyword) {
    return fetch("/search.php?searchword=" + encode_every_byte(keyword));
  }

  demo_site::PageShape shape_ = demo_site::PageShape::compact;  // set before SetUp
  std::unique_ptr<demo_site::FilmSite> site_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
};

}  // namespace site_test
