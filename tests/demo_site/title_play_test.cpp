// Title pages, play pages, streams and posters: what the program cuts out of each.
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>

#include "app/site.h"
#include "demo-site/catalogue.h"
#include "tests/demo_site/site_fixture.h"

namespace site_test {
namespace {

// The program's own markers. The pages are UTF-8 here, so the one marker with Chinese in it is
// spelt again as UTF-8 (app/site.h holds it in the program's code page).
const std::string kLeftLine = utf8(u8"zuidall直连");
const std::string kRightLine = app::site::kPlaySourceEnd;
constexpr std::string_view kDownloadLeft = app::site::kDownloadStart;
constexpr std::string_view kDownloadRight = app::site::kDownloadEnd;
constexpr std::string_view kStreamLeft = app::site::kStreamStart;
constexpr std::string_view kStreamRight = app::site::kStreamEnd;

class TitlePage : public SiteTest {};

TEST_F(TitlePage, EpisodesBetweenTheLineNamesAreTheDirectLine) {
  struct Case {
    uint32_t id;
    size_t episodes;
    std::u8string first, last;
  };
  const Case cases[] = {
      {1003, 240, u8"第001集", u8"第240集"},
      {1002, 36, u8"第01集", u8"第36集"},
      {1010, 2, u8"上集", u8"下集"},
      {1001, 2, u8"HD国语", u8"HD粤语"},
      {1012, 0, u8"", u8""},  // no direct line at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string page = fetch("/vod/" + std::to_string(c.id) + ".html");
    const std::vector<EpisodeLink> listed = episode_links(between(page, kLeftLine, kRightLine));
    ASSERT_EQ(listed.size(), c.episodes);
    // Other lines carry links of the same shape: ignoring the names would list too many.
    EXPECT_GT(episode_links(page).size(), c.episodes);
    if (c.episodes == 0)
      continue;
    EXPECT_EQ(listed.front().name, utf8(c.first));
    EXPECT_EQ(listed.back().name, utf8(c.last));
    for (size_t n = 1; n <= listed.size(); ++n) {
      EXPECT_EQ(listed[n - 1].address,
                "/play/" + std::to_string(c.id) + "-2-" + std::to_string(n) + ".html");
    }
  }
}

TEST_F(TitlePage, DownloadListValue) {
  const std::string o = origin();
  struct Case {
    uint32_t id;
    std::string value;
  };
  const Case cases[] = {
      {1010, utf8(u8"上集$") + o + "/download/1010/1.mp4###" + utf8(u8"下集$") + o +
                 "/download/1010/2.mp4"},
      {1004, utf8(u8"HD中字$") + o + "/download/1004/1.mp4"},
      {1013, ""},  // markers present, nothing between
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string page = fetch("/vod/" + std::to_string(c.id) + ".html");
    ASSERT_NE(page.find(kDownloadLeft), std::string::npos);
    ASSERT_NE(page.find(kDownloadRight), std::string::npos);
    EXPECT_EQ(between(page, kDownloadLeft, kDownloadRight), c.value);
  }

  // The long series: one "label$address" entry per episode, "###" between them.
  const std::string value = between(fetch("/vod/1003.html"), kDownloadLeft, kDownloadRight);
  size_t entries = 0;
  size_t from = 0;
  while (true) {
    const size_t end = value.find("###", from);
    const std::string entry = value.substr(from, end == std::string::npos ? end : end - from);
    ++entries;
    const size_t dollar = entry.find('$');
    ASSERT_NE(dollar, std::string::npos) << entry;
    EXPECT_EQ(entry.find('$', dollar + 1), std::string::npos) << entry;
    EXPECT_TRUE(entry.substr(dollar + 1).starts_with(o + "/download/1003/")) << entry;
    if (end == std::string::npos)
      break;
    from = end + 3;
  }
  EXPECT_EQ(entries, 240u);
}

TEST_F(TitlePage, PlayPagesCarryAFetchableStreamAddress) {
  struct Case {
    uint32_t id;
    size_t episode;
  };
  for (const Case c : {Case{1003, 1}, Case{1003, 240}, Case{1010, 2}, Case{1011, 6}}) {
    SCOPED_TRACE(std::to_string(c.id) + " episode " + std::to_string(c.episode));
    const std::string id = std::to_string(c.id);
    const std::string n = std::to_string(c.episode);
    const std::string page = fetch("/play/" + id + "-2-" + n + ".html");
    EXPECT_EQ(page.find(kStreamLeft), page.rfind(kStreamLeft));  // exactly one address
    const std::string stream = between(page, kStreamLeft, kStreamRight);
    const std::string path = "/stream/" + id + "/2/" + n + ".m3u8";
    ASSERT_EQ(stream, origin() + path);
    const auto reply = client_->Get(path.c_str());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("Content-Type"), "application/vnd.apple.mpegurl");
    EXPECT_TRUE(reply->body.starts_with("#EXTM3U\n"));
    EXPECT_TRUE(reply->body.ends_with("#EXT-X-ENDLIST\n"));
  }
}

TEST_F(TitlePage, UnknownAddressesAnswerAWhole404Page) {
  for (const char* path :
       {"/vod/9999.html", "/vod/abc.html", "/play/1010-2-3.html", "/play/1010-2-0.html",
        "/play/1012-2-1.html", "/play/9999-2-1.html", "/stream/1010/9/1.m3u8", "/posters/9999.jpg",
        "/posters/..%2Fcatalogue.tsv", "/posters/.hidden.png", "/static/catalogue.tsv",
        "/nothing-here",
        // media: past the segments, episodes or lines, and downloads no title page lists
        "/stream/1010/2/1/3.ts", "/stream/1010/2/3/0.ts", "/stream/1010/9/1/0.ts",
        "/stream/1012/2/1/0.ts", "/stream/9999/2/1/0.ts", "/stream/1010/2/1/seg0.ts",
        "/media/seg0.ts", "/download/1010/3.mp4", "/download/1010/0.mp4", "/download/9999/1.mp4",
        "/download/1013/1.mp4", "/download/1010/1.ts", "/download/sample.mp4"}) {
    SCOPED_TRACE(path);
    const auto reply = client_->Get(path);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 404);
    EXPECT_TRUE(reply->body.starts_with("<!DOCTYPE html>"));
    EXPECT_EQ(reply->body.find(kStreamLeft), std::string::npos);
  }
}

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST_F(TitlePage, PostersAreTheDataFilesWithTheirPictureType) {
  const std::vector<std::string> posters = poster_addresses(search(""));
  ASSERT_EQ(posters.size(), site_->catalogue().titles.size());
  std::set<std::string> distinct;
  size_t jpeg = 0;
  size_t png = 0;
  for (const std::string& address : posters) {
    SCOPED_TRACE(address);
    ASSERT_TRUE(address.starts_with(origin() + "/posters/"));
    const std::string path = address.substr(origin().size());
    const auto reply = client_->Get(path.c_str());
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200);
    const std::string file = path.substr(std::string("/posters/").size());
    EXPECT_EQ(reply->body, file_bytes(demo_site::default_data_dir() / "posters" / file));
    EXPECT_LE(reply->body.size(), 30u * 1024);
    const std::string type = reply->get_header_value("Content-Type");
    if (file.ends_with(".jpg")) {
      ++jpeg;
      EXPECT_EQ(type, "image/jpeg");
      EXPECT_TRUE(reply->body.starts_with("\xFF\xD8\xFF"));
    } else {
      ++png;
      EXPECT_EQ(type, "image/png");
      EXPECT_TRUE(reply->body.starts_with("\x89PNG\r\n\x1A\n"));
    }
    distinct.insert(reply->body);
  }
  EXPECT_EQ(distinct.size(), posters.size());
  EXPECT_GT(jpeg, 0u);
  EXPECT_GT(png, 0u);
}

TEST(SiteDelay, SlowsTitleAndPlayPagesOnly) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kDelay = std::chrono::milliseconds(400);
  auto site = open_site(kDelay);
  ASSERT_TRUE(site);
  const int port = site->start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  struct Case {
    const char* path;
    bool delayed;
  };
  for (const Case c : {Case{"/vod/1010.html", true}, Case{"/play/1010-2-1.html", true},
                       Case{"/search.php?searchword=", false}, Case{"/posters/1001.jpg", false}}) {
    SCOPED_TRACE(c.path);
    const auto start = Clock::now();
    const auto reply = client.Get(c.path);
    const auto took = Clock::now() - start;
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    if (c.delayed) {
      EXPECT_GE(took, kDelay);
    } else {
      EXPECT_LT(took, kDelay);
    }
  }
}

TEST(SiteStart, ABusyPortIsRefusedAndStopEndsServing) {
  auto first = open_site();
  auto second = open_site();
  ASSERT_TRUE(first && second);
  const int port = first->start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(second->start("127.0.0.1", port), -1);
  EXPECT_EQ(first->start("127.0.0.1", 0), -1);  // already serving
  first->stop();
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(std::chrono::seconds(1));
  EXPECT_FALSE(client.Get("/"));
}

TEST(SiteData, AnIncompleteFolderIsReported) {
  std::string error;
  EXPECT_FALSE(demo_site::FilmSite::open({"/nonexistent-folder", {}}, error));
  EXPECT_NE(error.find("catalogue.tsv"), std::string::npos) << error;
}

}  // namespace
}  // namespace site_test
