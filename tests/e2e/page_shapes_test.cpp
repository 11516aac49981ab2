// The whole chain against both shapes of the demo site: the compact pages, and the same
// catalogue as a live template emits it, indented and with the variations real sites carry
// (demo-site/film_site.h names which title carries which). A user sees the same results,
// posters, episodes and streams in both, except where the live page itself differs.
#include <gtest/gtest.h>

#include <QTimer>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "app/flows.h"
#include "app/ids.h"
#include "demo-site/film_site.h"
#include "demo-site/pages.h"
#include "e2e/flow_driver.h"
#include "runtime/events.h"
#include "web/codepage.h"
#include "web/html_text.h"
#include "web/link.h"

namespace {

using namespace app;
using namespace e2e;
using demo_site::PageShape;

std::string local(const std::string& utf8) {
  return std::string(web::utf8_to_local(utf8.c_str()).view());
}

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string bytes_text(const rt::Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// What a user sees in a result row; addresses as the program follows them.
struct Row {
  std::string number, note, name, title_page, cast, poster;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& r) {
  return out << r.number << " | " << r.note << " | " << r.name << " | " << r.title_page << " | "
             << r.cast << " | " << r.poster;
}

class PageShapes : public testing::TestWithParam<PageShape> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(opener_.ready());
    std::string error;
    site_ = demo_site::FilmSite::open({demo_site::default_data_dir(), {}, GetParam()}, error);
    ASSERT_TRUE(site_) << error;
    const int port = site_->start("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    base_ = "http://127.0.0.1:" + std::to_string(port);
    override_site_base_for_tests(base_);
    load_start_window();
    placeholder_ = bytes_text(get_bytes(kStartWindow, start::kPoster, kPropPicture));
  }
  void TearDown() override {
    close_windows();
    if (site_)
      site_->stop();
  }
  bool live() const { return GetParam() == PageShape::live; }
  const std::vector<demo_site::Title>& titles() const { return site_->catalogue().titles; }

  Row shown(int32_t r) const {
    const auto cell = [r](int32_t column) {
      return std::string(cell_text(kResults, r, column).view());
    };
    const std::string search_page = base_ + "/search.php";
    const auto followed = [&](const std::string& link) {
      return link.empty() ? std::string()
                          : web::resolve_link(search_page, web::decode_html_references(link));
    };
    return {cell(0), cell(1), cell(2), followed(cell(3)), cell(4), followed(cell(5))};
  }

  // The row the catalogue's title at `pos` (from 1) should give on a search for everything.
  Row expected(size_t pos) const {
    const demo_site::Title& t = titles()[pos - 1];
    Row r{std::to_string(pos), local(t.note),
          local(t.name),       base_ + demo_site::title_path(t),
          local(t.cast),       base_ + "/posters/" + t.poster};
    if (!live())
      return r;
    if (pos == 3)
      r.poster.clear();  // the card has no poster
    if (pos == 4)
      r.note.clear();  // nor remarks
    if (pos == 9)
      r.cast.clear();
    if (pos == 10) {
      const size_t comma = r.cast.find(',');
      r.cast.insert(comma, "?");  // the byte that is not UTF-8
    }
    return r;
  }

  void search_everything() {
    set_text(kStartWindow, start::kSearchBox, kPropText, "");
    rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
    ASSERT_TRUE(pump_until(&search_ended));
  }
  void pick(int32_t row) {
    set_int(kStartWindow, start::kResultsList, kPropCurrentRow, row);
    set_text(kStartWindow, start::kDownloadBox, kPropText, "");
    rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
    ASSERT_TRUE(pump_until(&details_ended));
  }

  RecordingOpener opener_;
  std::unique_ptr<demo_site::FilmSite> site_;
  std::string base_;
  std::string placeholder_;
};

TEST_P(PageShapes, EveryRowAndColumnOfASearch) {
  search_everything();
  for (size_t pos = 1; pos <= titles().size(); ++pos) {
    EXPECT_EQ(shown(static_cast<int32_t>(pos - 1)), expected(pos)) << "title " << pos;
  }
  EXPECT_TRUE(cell_text(kResults, static_cast<int32_t>(titles().size()), 0).empty());
  screenshot(kStartWindow, live() ? "e2e_live_results.png" : "e2e_compact_results.png");
}

TEST_P(PageShapes, EachRowShowsItsOwnPoster) {
  search_everything();
  const std::filesystem::path posters = demo_site::default_data_dir() / "posters";
  for (size_t pos = 1; pos <= titles().size(); ++pos) {
    SCOPED_TRACE(pos);
    pick(static_cast<int32_t>(pos - 1));
    const std::string poster = bytes_text(get_bytes(kStartWindow, start::kPoster, kPropPicture));
    if (live() && pos == 3) {
      EXPECT_EQ(poster, placeholder_) << "a card without a poster shows the placeholder";
    } else {
      EXPECT_EQ(poster, file_bytes(posters / titles()[pos - 1].poster));
    }
  }
}

// Download lists of titles whose pages are GBK in the live shape read as in the compact one.
TEST_P(PageShapes, DownloadListsInEveryCharset) {
  search_everything();
  std::map<size_t, std::string> lists;
  for (size_t pos : {size_t{1}, size_t{14}, size_t{15}}) {
    pick(static_cast<int32_t>(pos - 1));
    const std::string box(get_text(kStartWindow, start::kDownloadBox, kPropText).view());
    const demo_site::Title& t = titles()[pos - 1];
    ASSERT_TRUE(t.downloads) << pos;
    EXPECT_NE(box.find(local(t.episodes.front()) + "  http://"), std::string::npos) << box;
    EXPECT_EQ(box.find("?"), std::string::npos) << "no character lost: " << box;
  }
}

// The episodes of the title whose live page names its play sources in a tab bar first, and the
// stream an episode click opens.
TEST_P(PageShapes, EpisodesAndTheStreamOpened) {
  search_everything();
  const size_t pos = 11;
  const demo_site::Title& t = titles()[pos - 1];
  pick(static_cast<int32_t>(pos - 1));
  bool listed = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    rt::detail::WindowEntry* entry = rt::detail::registry().find(kPlayListWindow);
    if (listed || !entry || !entry->initialised)
      return;
    const auto count = static_cast<int32_t>(t.episodes.size());
    // Listed: the worker clears the label once every row is in, so a late extra row shows.
    if (cell_text(kEpisodes, count - 1, 0).empty() ||
        !get_text(kPlayListWindow, play_list::kStatusLabel, kPropText).empty())
      return;
    listed = true;
    for (int32_t k = 0; k < count; ++k) {
      EXPECT_EQ(cell_text(kEpisodes, k, 1).view(), local(t.episodes[static_cast<size_t>(k)])) << k;
    }
    EXPECT_TRUE(cell_text(kEpisodes, count, 0).empty());
    set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 2);
    rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
  });
  QTimer close_when_opened;
  QObject::connect(&close_when_opened, &QTimer::timeout, [&] {
    if (!listed || opener_.opened().empty() || !rt::window_loaded(kPlayListWindow))
      return;
    window_widget(kPlayListWindow)->close();
  });
  poll.start(10);
  close_when_opened.start(10);
  const ModalDeadline deadline(10000);
  rt::raise_unit_event(kStartWindow, start::kOnlinePlayButton, 0);  // modal until closed
  ASSERT_TRUE(listed);
  const int zuidall_line = 2;
  EXPECT_EQ(opener_.opened(),
            std::vector<std::string>{base_ + demo_site::stream_path(t, zuidall_line, 3)});
}

INSTANTIATE_TEST_SUITE_P(BothShapes, PageShapes,
                         testing::Values(PageShape::compact, PageShape::live),
                         [](const testing::TestParamInfo<PageShape>& shape) {
                           return shape.param == PageShape::live ? "Live" : "Compact";
                         });

}  // namespace
