// The whole chain against the demo site on a port of its own: search, details, play list and
// the jump to a stream, driven through the units' events as a user's clicks would.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/flows.h"
#include "app/ids.h"
#include "app/list_commands.h"
#include "app/program.h"
#include "demo-site/film_site.h"
#include "e2e/flow_driver.h"
#include "platform/windowing/native_window.h"
#include "runtime/events.h"
#include "runtime/services.h"
#include "runtime/startup.h"
#include "runtime/values.h"
#include "runtime/window_registry.h"
#include "runtime/windows.h"
#include "support/temp_dir.h"

namespace {

using namespace app;
namespace fs = std::filesystem;

using namespace e2e;

class Flows : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(opener_.ready());
    std::string error;
    site_ = demo_site::FilmSite::open({demo_site::default_data_dir(), delay()}, error);
    ASSERT_TRUE(site_) << error;
    const int port = site_->start("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    override_site_base_for_tests("http://127.0.0.1:" + std::to_string(port));
    load_start_window();
  }
  void TearDown() override {
    close_windows();
    if (site_)
      site_->stop();
  }
  virtual std::chrono::milliseconds delay() const { return std::chrono::milliseconds(0); }

  // Types a keyword and clicks the search button; waits for the search to end.
  // Texts in this file are code page 936, like every text of the program.
  void search(const char* keyword) {
    set_text(kStartWindow, start::kSearchBox, kPropText, keyword);
    set_text(kStartWindow, start::kSearchStatusLabel, kPropText, "");
    rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
    // Done: the button is enabled again with the label hidden over a filled list, or showing
    // the failure text.
    ASSERT_TRUE(pump_until(&search_ended));
  }
  // Selects a row of the results and clicks the list; waits for the details to arrive.
  void pick(int32_t row) {
    set_int(kStartWindow, start::kResultsList, kPropCurrentRow, row);
    set_text(kStartWindow, start::kDownloadBox, kPropText, "");
    rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
    ASSERT_TRUE(pump_until(&details_ended));
  }
  int32_t row_of(std::string_view name) {
    for (int32_t r = 0;; ++r) {
      const rt::Text cell = cell_text(kResults, r, 2);
      if (cell.empty())
        return -1;
      if (cell.view() == name)
        return r;
    }
  }
  std::vector<std::string> opened() const { return opener_.opened(); }

  RecordingOpener opener_;
  std::unique_ptr<demo_site::FilmSite> site_;
};

TEST(UrlEncode, EveryByteIsEncoded) {
  const struct {
    const char* text;
    std::optional<bool> keep_plain;
    std::optional<bool> to_utf8;
    const char* expected;
  } cases[] = {
      {"a b", {}, {}, "%61%20%62"},
      {"a b", true, {}, "a%20b"},
      {"-./09AZaz~", true, {}, "-.%2F09AZaz%7E"},
      {"\n", {}, {}, "%0A"},
      {"", {}, true, ""},
      {"中", {}, true, "%E4%B8%AD"},  // GBK in, UTF-8 out: three groups
      {"中", {}, {}, "%D6%D0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(url_encode(c.text, c.keep_plain, c.to_utf8).view(), c.expected) << c.text;
  }
}

TEST_F(Flows, SearchFillsEveryColumn) {
  search("");  // an empty keyword lists the whole catalogue
  const size_t titles = site_->catalogue().titles.size();
  ASSERT_GE(titles, 12u);
  for (int32_t r = 0; r < static_cast<int32_t>(titles); ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(cell_text(kResults, r, 0).view(), std::to_string(r + 1));
    for (int32_t column = 1; column <= 5; ++column)
      EXPECT_FALSE(cell_text(kResults, r, column).empty());
    EXPECT_EQ(cell_text(kResults, r, 3).view().substr(0, 5), "/vod/");
  }
  EXPECT_TRUE(cell_text(kResults, static_cast<int32_t>(titles), 0).empty());
  EXPECT_EQ(get_int(kStartWindow, start::kSearchStatusLabel, kPropVisible), 0);
  screenshot(kStartWindow, "e2e_results.png");
}

// The most rows a search writes, a page of cards that repeat the catalogue: every row is
// numbered in order and holds the cells of its own card, across the batches the rows go in.
TEST_F(Flows, ALongSearchWritesEveryRowWithItsOwnCells) {
  search("cards:1000");
  const auto titles = static_cast<int32_t>(site_->catalogue().titles.size());
  for (int32_t r = 0; r < 1000; ++r) {
    ASSERT_EQ(cell_text(kResults, r, 0).view(), std::to_string(r + 1));
    if (r < titles)
      continue;
    for (int32_t column = 1; column <= 5; ++column) {
      ASSERT_EQ(cell_text(kResults, r, column).view(),
                cell_text(kResults, r % titles, column).view())
          << "row " << r << " column " << column;
    }
  }
  EXPECT_TRUE(cell_text(kResults, 1000, 0).empty());
}

TEST_F(Flows, SearchByChineseKeywordAndNoResults) {
  search("青石巷");
  EXPECT_EQ(row_of("青石巷的春天"), 0);
  EXPECT_TRUE(cell_text(kResults, 1, 0).empty());
  search("没有这样的片子");
  EXPECT_TRUE(cell_text(kResults, 0, 0).empty());
  EXPECT_EQ(get_int(kStartWindow, start::kSearchStatusLabel, kPropVisible), 1);
  EXPECT_EQ(get_text(kStartWindow, start::kSearchStatusLabel, kPropText).view(),
            std::string_view("查询失败，请重新尝试搜索......"));
}

TEST_F(Flows, DetailsShowPosterAndDownloadAddresses) {
  search("");
  const int32_t row = row_of("追风少年");
  ASSERT_GE(row, 0);
  EXPECT_EQ(get_int(kStartWindow, start::kOnlinePlayButton, kPropDisabled), 1);
  pick(row);
  EXPECT_EQ(get_int(kStartWindow, start::kOnlinePlayButton, kPropDisabled), 0);
  const rt::Text box = get_text(kStartWindow, start::kDownloadBox, kPropText);
  // One entry per paragraph: label, two spaces, address; an empty line between entries.
  const std::string text(box.view());
  EXPECT_NE(text.find("  http://"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('$'), std::string::npos);
  EXPECT_EQ(get_int(kStartWindow, start::kDownloadBox, kPropDisabled), 0);
  EXPECT_GT(get_bytes(kStartWindow, start::kPoster, kPropPicture).size(), 1000u);
  EXPECT_EQ(get_int(kStartWindow, start::kPosterStatusLabel, kPropVisible), 0);
  screenshot(kStartWindow, "e2e_details.png");

  const int32_t empty_downloads = row_of("小城故事多");
  ASSERT_GE(empty_downloads, 0);
  pick(empty_downloads);
  EXPECT_EQ(get_text(kStartWindow, start::kDownloadBox, kPropText).view(),
            std::string_view("网页返回为空，请重新尝试单击获取......"));
}

TEST_F(Flows, PlayListListsTheEpisodesAndOpensAStream) {
  search("");
  const int32_t row = row_of("追风少年");
  ASSERT_GE(row, 0);
  pick(row);
  const demo_site::Title* title = nullptr;
  for (const auto& t : site_->catalogue().titles) {
    if (t.name == reinterpret_cast<const char*>(u8"追风少年"))
      title = &t;  // the catalogue is UTF-8
  }
  ASSERT_NE(title, nullptr);
  bool listed = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    rt::detail::WindowEntry* entry = rt::detail::registry().find(kPlayListWindow);
    if (listed || !entry || !entry->initialised)
      return;
    const auto count = static_cast<int32_t>(title->episodes.size());
    // Listed: the worker clears the label once every row is in, so a late extra row shows.
    if (cell_text(kEpisodes, count - 1, 0).empty() ||
        !get_text(kPlayListWindow, play_list::kStatusLabel, kPropText).empty())
      return;
    listed = true;
    EXPECT_TRUE(cell_text(kEpisodes, count, 0).empty()) << "only the episodes between the markers";
    EXPECT_EQ(cell_text(kEpisodes, 0, 0).view(), "1");
    EXPECT_TRUE(cell_text(kEpisodes, 0, 2).empty());
    EXPECT_EQ(cell_text(kEpisodes, 0, 3).view().substr(0, 6), "/play/");
    screenshot(kPlayListWindow, "e2e_play_list.png");
    set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 1);
    rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
  });
  QTimer close_when_opened;
  QObject::connect(&close_when_opened, &QTimer::timeout, [&] {
    if (!listed || opened().empty() || !rt::window_loaded(kPlayListWindow))
      return;
    if (get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop) != 0)
      return;  // still jumping
    static_cast<QWidget*>(rt::unit_native_window(kPlayListWindow, 0))->close();
  });
  poll.start(10);
  close_when_opened.start(10);
  const ModalDeadline deadline(10000);
  rt::raise_unit_event(kStartWindow, start::kOnlinePlayButton, 0);  // modal until closed
  EXPECT_TRUE(listed);
  const std::vector<std::string> streams = opened();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_NE(streams[0].find("/stream/"), std::string::npos) << streams[0];
  EXPECT_EQ(get_int(kStartWindow, start::kOnlinePlayButton, kPropDisabled), 1);
  EXPECT_EQ(get_int(kStartWindow, kOwnUnit, kPropVisible), 1);
}

class SlowSite : public Flows {
  std::chrono::milliseconds delay() const override { return std::chrono::milliseconds(400); }
};

TEST_F(SlowSite, ClosingThePlayListDuringALoadKeepsTheProgram) {
  search("");
  pick(row_of("青石巷的春天"));
  QTimer::singleShot(0, [] {});
  QTimer close_soon;
  QObject::connect(&close_soon, &QTimer::timeout, [&] {
    rt::detail::WindowEntry* entry = rt::detail::registry().find(kPlayListWindow);
    if (entry && entry->initialised) {
      static_cast<QWidget*>(rt::unit_native_window(kPlayListWindow, 0))->close();
    }
  });
  close_soon.start(20);
  rt::raise_unit_event(kStartWindow, start::kOnlinePlayButton, 0);
  close_soon.stop();
  EXPECT_FALSE(rt::window_loaded(kPlayListWindow));
  // The episode worker's page arrives after the window has gone: it writes nothing, and the
  // program goes on.
  QElapsedTimer wait;
  wait.start();
  while (wait.elapsed() < 900) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(rt::window_loaded(kStartWindow));
  EXPECT_EQ(get_int(kStartWindow, kOwnUnit, kPropVisible), 1);
}

TEST_F(Flows, ADeadSiteGivesTheFailureTexts) {
  site_->stop();
  search("");
  EXPECT_EQ(get_text(kStartWindow, start::kSearchStatusLabel, kPropText).view(),
            std::string_view("查询失败，请重新尝试搜索......"));
  pick(-1);
  EXPECT_EQ(get_text(kStartWindow, start::kDownloadBox, kPropText).view(),
            std::string_view("网页返回为空，请重新尝试单击获取......"));
}

}  // namespace
