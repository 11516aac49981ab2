// The program as a user at the desktop meets it: the keyboard alone drives the whole chain, and
// an episode that cannot be played says so in the play list instead of going quiet.
#include <gtest/gtest.h>

#include <string>

#include "app/flows.h"
#include "app/ids.h"
#include "demo-site/film_site.h"
#include "demo-site/pages.h"
#include "e2e/flow_driver.h"
#include "webreq/loopback_server.h"

namespace {

using namespace app;
using namespace e2e;

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(opener_.ready());
    std::string error;
    site_ = demo_site::FilmSite::open({demo_site::default_data_dir()}, error);
    ASSERT_TRUE(site_) << error;
    const int port = site_->start("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    base_ = "http://127.0.0.1:" + std::to_string(port);
    override_site_base_for_tests(base_);
    load_start_window();
  }
  void TearDown() override {
    close_windows();
    if (site_)
      site_->stop();
  }
  const demo_site::Title& title(size_t pos) const { return site_->catalogue().titles[pos - 1]; }

  RecordingOpener opener_;
  std::unique_ptr<demo_site::FilmSite> site_;
  std::string base_;
};

TEST_F(Desktop, TheKeyboardDrivesTheWholeChain) {
  set_text(kStartWindow, start::kSearchBox, kPropText, "");
  press_key(kStartWindow, start::kSearchBox, Qt::Key_Return);
  ASSERT_TRUE(pump_until([] { return search_ended() && !cell_text(kResults, 0, 0).empty(); }));

  // Enter on the third result shows its details as a click does.
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 2);
  press_key(kStartWindow, start::kResultsList, Qt::Key_Enter);
  ASSERT_TRUE(pump_until(&details_ended));
  const std::string box(get_text(kStartWindow, start::kDownloadBox, kPropText).view());
  EXPECT_NE(box.find("/download/" + std::to_string(title(3).id) + "/"), std::string::npos) << box;

  // Enter on the second episode plays it.
  bool pressed = false;
  with_play_list([&] {
    if (!pressed) {
      if (cell_text(kEpisodes, 1, 0).empty())
        return false;
      set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 1);
      press_key(kPlayListWindow, play_list::kEpisodeList, Qt::Key_Return);
      pressed = true;
    }
    return !opener_.opened().empty();
  });
  EXPECT_EQ(opener_.opened(),
            std::vector<std::string>{base_ + demo_site::stream_path(title(3), 2, 2)});
}

// While a search runs its button is disabled; Enter in the search box must not start another.
TEST_F(Desktop, EnterDoesNotSearchWhileTheButtonIsDisabled) {
  set_text(kStartWindow, start::kSearchBox, kPropText, "");
  press_key(kStartWindow, start::kSearchBox, Qt::Key_Return);
  ASSERT_TRUE(pump_until([] { return search_ended() && !cell_text(kResults, 0, 0).empty(); }));
  set_int(kStartWindow, start::kSearchButton, kPropDisabled, 1);
  set_text(kStartWindow, start::kSearchBox, kPropText, "没有这样的片子");
  press_key(kStartWindow, start::kSearchBox, Qt::Key_Return);
  pump_for(300);
  EXPECT_FALSE(cell_text(kResults, 0, 0).empty()) << "no search emptied the list";
  EXPECT_NE(get_text(kStartWindow, start::kSearchStatusLabel, kPropText).view(),
            "查询失败，请重新尝试搜索......");
}

TEST_F(Desktop, AnEpisodeNothingCanOpenSaysSo) {
  set_text(kStartWindow, start::kSearchBox, kPropText, "");
  press_key(kStartWindow, start::kSearchBox, Qt::Key_Return);
  ASSERT_TRUE(pump_until([] { return search_ended() && !cell_text(kResults, 0, 0).empty(); }));
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 0);
  rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
  ASSERT_TRUE(pump_until(&details_ended));
  opener_.remove();
  std::string label;
  bool clicked = false;
  with_play_list([&] {
    if (!clicked) {
      if (cell_text(kEpisodes, 0, 0).empty())
        return false;
      set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 0);
      rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
      clicked = true;
    }
    if (get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop) != 0)
      return false;  // jumping
    label = get_text(kPlayListWindow, play_list::kStatusLabel, kPropText).view();
    return true;
  });
  EXPECT_EQ(label, "没有可打开此地址的播放器");
}

// A play page without the stream's script: the label says no address was found.
TEST(PlayPage, WithoutAStreamSaysSo) {
  RecordingOpener opener;
  const std::string card =
      "<li><a class=\"p\" href=\"/vod/1.html\" data-original=\"/p.jpg\"></a><a "
      "class=\"fed-list-title\" href=\"/vod/1.html\">One</a><span class=\"fed-list-desc\">c</span>"
      "</li>";
  // Pages are UTF-8; this file's own texts are code page 936.
  const std::string title_page = reinterpret_cast<const char*>(
      u8"zuidall直连<a class='x' href='/play/1-2-1.html' target=\"_self\">第01集</a>zuidam3u8");
  testsupport::LoopbackServer server([&](testsupport::Exchange& exchange) {
    const std::string& line = exchange.request().request_line;
    const std::string body = line.find("/search.php") != std::string::npos ? card
                             : line.find("/vod/") != std::string::npos     ? title_page
                                                                       : "<html>no player</html>";
    exchange.send(testsupport::response("200 OK", body));
  });
  override_site_base_for_tests(server.url(""));
  load_start_window();
  rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
  ASSERT_TRUE(pump_until([] { return search_ended() && !cell_text(kResults, 0, 0).empty(); }));
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, 0);
  std::string label;
  bool clicked = false;
  with_play_list([&] {
    if (!clicked) {
      if (cell_text(kEpisodes, 0, 0).empty())
        return false;
      set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 0);
      rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
      clicked = true;
    }
    if (get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop) != 0)
      return false;
    label = get_text(kPlayListWindow, play_list::kStatusLabel, kPropText).view();
    return true;
  });
  close_windows();
  EXPECT_EQ(label, "未找到播放地址");
  EXPECT_TRUE(opener.opened().empty());
}

}  // namespace
