// What the windows show while a page is on its way, and the exact texts they end with: the
// guards and status texts a user relies on, seen at the moment they matter.
#include <gtest/gtest.h>

#include <string>

#include "app/flows.h"
#include "app/ids.h"
#include "e2e/flow_driver.h"
#include "e2e/gated_site.h"

namespace {

using namespace app;
using namespace e2e;

std::string utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

std::string card(int n) {
  const std::string id = std::to_string(n);
  return "<li><a class=\"pics\" href=\"/vod/" + id + ".html\" data-original=\"/poster/" + id +
         ".jpg\"><span class=\"fed-list-remarks fed-text-white fed-text-center\">HD</span></a>"
         "<a class=\"fed-list-title\" href=\"/vod/" +
         id + ".html\">Film " + id + "</a><span class=\"fed-list-desc\">Cast " + id +
         "</span></li>";
}

std::string title_page(const std::string& downloads) {
  return utf8(u8"<p>zuidall直连</p>") +
         "<a class='x' href='/play/1-2-1.html' target=\"_self\">E1</a>" +
         "<a class='x' href='/play/1-2-2.html' target=\"_self\">E2</a>" + utf8(u8"zuidam3u8") +
         "<script>var GvodUrls1 = \"" + downloads + "\";echoDown(GvodUrls1,0);</script>";
}

std::string play_page(int episode) {
  return "<script>var vid=\"1\";var now=\"http://streams.example/1/" + std::to_string(episode) +
         ".m3u8\";var pn=\"hls\";</script>";
}

class Interim : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(opener_.ready());
    site_.set_page(GatedSite::kSearch, card(1) + card(2));
    site_.set_page(GatedSite::kTitle, title_page(utf8(u8"第01集$http://dl.example/1.mp4")));
    site_.set_page(GatedSite::kPlay, play_page(2));
    override_site_base_for_tests(site_.base());
    load_start_window();
  }
  void TearDown() override {
    site_.release_all();
    close_windows();
  }

  void search() {
    rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
    ASSERT_TRUE(pump_until([] { return search_ended() && !cell_text(kResults, 0, 0).empty(); }));
  }
  // Pumps until the site has seen `count` requests of the kind.
  bool until_arrived(GatedSite::Kind kind, int count) {
    return pump_until([&] { return site_.arrived(kind) >= count; });
  }
  std::string text(uint32_t window, uint32_t unit) {
    return std::string(get_text(window, unit, kPropText).view());
  }

  RecordingOpener opener_;
  GatedSite site_;
};

TEST_F(Interim, WhileASearchRunsItsButtonIsDisabledOverAnEmptiedList) {
  search();
  site_.hold(GatedSite::kSearch);
  rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
  ASSERT_TRUE(until_arrived(GatedSite::kSearch, 2));
  EXPECT_EQ(get_int(kStartWindow, start::kSearchButton, kPropDisabled), 1);
  EXPECT_EQ(get_int(kStartWindow, start::kSearchStatusLabel, kPropVisible), 1);
  EXPECT_EQ(text(kStartWindow, start::kSearchStatusLabel), "搜索中，请耐心等待......");
  EXPECT_TRUE(cell_text(kResults, 0, 0).empty()) << "the list was emptied";
  site_.release(GatedSite::kSearch);
  ASSERT_TRUE(pump_until([] { return search_ended() && !cell_text(kResults, 1, 0).empty(); }));
  EXPECT_EQ(get_int(kStartWindow, start::kSearchStatusLabel, kPropVisible), 0);
  EXPECT_TRUE(cell_text(kResults, 2, 0).empty());
}

TEST_F(Interim, DetailsShowTheirProgressThenTheExactDownloadText) {
  search();
  site_.hold(GatedSite::kPoster);
  site_.hold(GatedSite::kTitle);
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 1);
  rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
  ASSERT_TRUE(until_arrived(GatedSite::kPoster, 1));
  EXPECT_EQ(get_int(kStartWindow, start::kOnlinePlayButton, kPropDisabled), 0);
  EXPECT_EQ(get_int(kStartWindow, start::kPosterStatusLabel, kPropVisible), 1);
  EXPECT_EQ(text(kStartWindow, start::kPosterStatusLabel), "图片加载中.....");
  EXPECT_EQ(text(kStartWindow, start::kDownloadBox), "正在获取，请耐心等待......");

  site_.release(GatedSite::kPoster);
  ASSERT_TRUE(until_arrived(GatedSite::kTitle, 1));
  ASSERT_TRUE(pump_until(
      [] { return get_int(kStartWindow, start::kPosterStatusLabel, kPropVisible) == 0; }));
  EXPECT_EQ(text(kStartWindow, start::kDownloadBox), "正在获取，请耐心等待......");
  site_.release(GatedSite::kTitle);
  ASSERT_TRUE(pump_until(&details_ended));
  EXPECT_EQ(text(kStartWindow, start::kDownloadBox), "第01集  http://dl.example/1.mp4");
}

TEST_F(Interim, DownloadTextsInTheirExactShape) {
  search();
  const struct {
    std::string value;
    std::string shown;
  } cases[] = {
      {utf8(u8"第01集$http://dl.example/1.mp4###第02集$http://dl.example/2.mp4"),
       "第01集  http://dl.example/1.mp4\r\n\r\n第02集  http://dl.example/2.mp4"},
      {utf8(u8"A$a###B$b###C$c"), "A  a\r\n\r\nB  b\r\n\r\nC  c"},
      {"http://dl.example/only.mp4", "http://dl.example/only.mp4"},  // neither "$" nor "###"
      {"", "网页返回为空，请重新尝试单击获取......"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    site_.set_page(GatedSite::kTitle, title_page(c.value));
    set_text(kStartWindow, start::kDownloadBox, kPropText, "");
    set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 0);
    rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
    ASSERT_TRUE(pump_until(&details_ended));
    EXPECT_EQ(text(kStartWindow, start::kDownloadBox), c.shown);
  }
}

TEST_F(Interim, ThePlayListLoadsJumpsAndListsAfreshEachTime) {
  search();
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 0);
  for (int opening = 1; opening <= 2; ++opening) {
    SCOPED_TRACE(opening);
    site_.hold(GatedSite::kTitle);
    site_.hold(GatedSite::kPlay);
    int step = 0;
    with_play_list([&] {
      switch (step) {
        case 0:  // the title page is on its way
          if (site_.arrived(GatedSite::kTitle) < opening)
            return false;
          EXPECT_EQ(text(kPlayListWindow, play_list::kStatusLabel), "加载中......");
          EXPECT_TRUE(cell_text(kEpisodes, 0, 0).empty()) << "the list starts empty each time";
          site_.release(GatedSite::kTitle);
          step = 1;
          return false;
        case 1:  // listed: the rows are written one by one, the label cleared last; a label
                 // never cleared leaves the step here and the window closes at its deadline
          if (cell_text(kEpisodes, 1, 0).empty())
            return false;
          if (!text(kPlayListWindow, play_list::kStatusLabel).empty())
            return false;
          EXPECT_TRUE(cell_text(kEpisodes, 2, 0).empty());
          EXPECT_EQ(cell_text(kEpisodes, 1, 1).view(), "E2");
          EXPECT_EQ(get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop), 1);
          set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 1);
          rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
          step = 2;
          return false;
        case 2:  // the play page is on its way
          if (site_.arrived(GatedSite::kPlay) < opening)
            return false;
          EXPECT_EQ(text(kPlayListWindow, play_list::kStatusLabel), "跳转中......");
          EXPECT_EQ(get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop), 1);
          site_.release(GatedSite::kPlay);
          step = 3;
          return false;
        default:  // jumped: the label is cleared and the window no longer stays on top
          if (get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop) != 0)
            return false;
          EXPECT_EQ(text(kPlayListWindow, play_list::kStatusLabel), "");
          return true;
      }
    });
    EXPECT_EQ(step, 3);
  }
  // The opener is a process of its own and writes when it runs.
  pump_until([this] { return opener_.opened().size() >= 2; }, 5000);
  EXPECT_EQ(opener_.opened(), (std::vector<std::string>(2, "http://streams.example/1/2.m3u8")));
}

// No episode selected: the play page asked for is the site's base address, which names no
// stream; nothing is opened and the label says so.
TEST_F(Interim, AnEpisodeClickWithNoRowSelected) {
  search();
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 0);
  std::string label;
  bool clicked = false;
  with_play_list([&] {
    if (!clicked) {
      if (cell_text(kEpisodes, 1, 0).empty())
        return false;
      set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, -1);
      rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
      clicked = true;
      return false;
    }
    if (get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop) != 0)
      return false;
    label = text(kPlayListWindow, play_list::kStatusLabel);
    return true;
  });
  EXPECT_EQ(label, "未找到播放地址");
  EXPECT_EQ(site_.arrived(GatedSite::kOther), 1) << "the base address itself was fetched";
  EXPECT_EQ(site_.arrived(GatedSite::kPlay), 0);
  EXPECT_TRUE(opener_.opened().empty());
}

}  // namespace
