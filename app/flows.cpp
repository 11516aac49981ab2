#include "app/flows.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/ids.h"
#include "app/list_commands.h"
#include "app/site.h"
#include "bridges/regex_object.h"
#include "runtime/imports.h"
#include "runtime/services.h"
#include "runtime/windows.h"
#include "web/codepage.h"
#include "web/commands.h"
#include "web/html_text.h"
#include "web/link.h"
#include "web/page_text.h"
#include "web/text_ops.h"
#include "web/web_request.h"

#ifndef FF_FILM_SITE_BASE
#define FF_FILM_SITE_BASE "http://127.0.0.1:8931"
#endif

namespace app {
namespace {

using namespace site;

std::mutex g_base_lock;
std::string g_base = FF_FILM_SITE_BASE;

// The start window's own poster, shown for a result whose card has none.
struct Placeholder {
  std::mutex lock;
  rt::Bytes bytes;
};
Placeholder& placeholder() {
  static auto* kept = new Placeholder;  // workers may outlive static destruction
  return *kept;
}

// --- Property access through the runtime's entries ---

void set_word(uint32_t window, uint32_t unit, int32_t index, int32_t value) {
  rt::entry_table().set_property(window, unit, index, -1, static_cast<uint32_t>(value), 0);
}
void set_pointer(uint32_t window, uint32_t unit, int32_t index, const void* p) {
  const auto bits = reinterpret_cast<uintptr_t>(p);
  rt::entry_table().set_property(window, unit, index, -1, static_cast<uint32_t>(bits),
                                 static_cast<uint32_t>(bits >> 32));
}
void set_text(uint32_t window, uint32_t unit, int32_t index, const char* text) {
  set_pointer(window, unit, index, text ? text : "");
}
int32_t get_word(uint32_t window, uint32_t unit, int32_t index) {
  return static_cast<int32_t>(rt::entry_table().get_property(window, unit, index, -1));
}
rt::Text get_text(uint32_t window, uint32_t unit, int32_t index) {
  return rt::Text::adopt(
      reinterpret_cast<char*>(rt::entry_table().get_property(window, unit, index, -1)));
}

rt::Cell list_of(uint32_t window, uint32_t unit) {
  return rt::Cell{window, unit, kKindListView};
}

// A fetched page as local text, read in the charset its response declares (UTF-8 unless it
// declares another); a missing body counts as empty.
rt::Text fetch_page(const std::string& address) {
  rt::Text headers;
  web::WebRequest request;
  request.address = address.c_str();
  request.method = static_cast<int32_t>(web::HttpMethod::kGet);
  request.returned_headers = &headers;
  const rt::Bytes body = web::web_request(request);
  return web::page_text(body.view(), headers.view());
}

// The site's pages, for resolving the links found on them.
std::string search_page_address() {
  return std::string(site_base()) + kSearchPage;
}

// The address of a page of the site named by a link on the search page. An empty link names the
// site's base address itself (what an unselected row gives).
std::string site_page_address(const char* link, const std::string& found_on) {
  if (!*link)
    return site_base();
  return web::resolve_link(found_on, web::decode_html_references(link));
}

rt::Text row_cell(const rt::Cell& list, int32_t row, int32_t column) {
  return cell_text(list, row, column);
}

// A worker's hold on the load of a window that was open when it started. The window may be
// closed (and even loaded again) while the worker still runs: every read and write goes through
// write() or post(), which check that load and do the work in one call on the window thread.
// write() waits for it and answers false once the window has gone; post() queues writes that
// need no answer behind the worker's earlier calls, and answers false once one of them found the
// window gone. A worker ends with a write(), which also waits for everything it posted.
class WindowGuard {
 public:
  explicit WindowGuard(uint32_t window)
      : window_(window),
        generation_(rt::window_generation(window)),
        gone_(std::make_shared<std::atomic<bool>>(false)) {}
  template <typename Fn>
  bool write(Fn fn) const {
    if (rt::with_window_loaded(window_, generation_, fn))
      return true;
    gone_->store(true);
    return false;
  }
  // fn must own what it writes: it may run after the caller's locals are gone.
  bool post(std::function<void()> fn) const {
    if (gone_->load())
      return false;
    rt::queue_while_window_loaded(window_, generation_, std::move(fn), gone_);
    return true;
  }

 private:
  uint32_t window_;
  uint32_t generation_;
  std::shared_ptr<std::atomic<bool>> gone_;
};

// Rows a worker writes into a list, gathered and queued to the window thread a batch at a time:
// each row is inserted, numbered in column 0 and given its texts in the batch's columns, in the
// order they were added, as one call per row would. A batch holds its texts end to end in one
// block. A call per row cost the worker and the window thread several allocations each, and,
// whenever the window thread had caught up, a wake-up of it: the rows of a page, all matched
// before the first is written, cost more to hand over than to write. A batch of kRows takes the
// window thread well under a frame.
class RowBatch {
 public:
  static constexpr size_t kRows = 256;

  RowBatch(const rt::Cell& list, std::vector<int32_t> columns)
      : list_(list), columns_(std::move(columns)) {}

  // The row's texts, one for each of the batch's columns; each is written as a text up to its
  // first zero byte, like any text handed to the list.
  void add(std::initializer_list<std::string_view> texts) {
    for (const std::string_view text : texts) {
      starts_.push_back(texts_.size());
      texts_.append(text);
      texts_.push_back('\0');
    }
  }
  bool full() const { return starts_.size() >= kRows * columns_.size(); }

  // Queues the rows added so far behind the worker's earlier calls; false once the window has
  // gone.
  bool post(const WindowGuard& window) {
    if (starts_.empty())
      return true;
    const bool queued = window.post(
        [list = list_, columns = columns_, texts = std::move(texts_), starts = std::move(starts_)] {
          for (size_t at = 0; at < starts.size(); at += columns.size()) {
            const int32_t r = insert_row(list);
            set_cell_text(list, r, 0, std::to_string(r + 1).c_str());
            for (size_t c = 0; c < columns.size(); ++c)
              set_cell_text(list, r, columns[c], texts.data() + starts[at + c]);
          }
        });
    texts_.clear();
    starts_.clear();
    return queued;
  }

 private:
  rt::Cell list_;
  std::vector<int32_t> columns_;
  std::string texts_;
  std::vector<size_t> starts_;  // where each text begins in texts_
};

// Result clicks number their details workers. Only the newest may write, and a newer click
// abandons the transfers of the one before: otherwise a slow older worker would overwrite the
// details of the row clicked later, and quick clicks would pile up transfers.
class DetailsTickets {
 public:
  // On the window thread, where the workers' writes are checked too.
  int32_t issue() {
    std::lock_guard lock(lock_);
    newest_.store(newest_.load() + 1);
    if (running_)
      running_->abandon();
    running_.reset();
    return newest_.load();
  }
  // The canceller of the worker with this ticket; null when a newer click came meanwhile.
  std::shared_ptr<web::RequestCanceller> enter(int32_t ticket) {
    std::lock_guard lock(lock_);
    if (ticket != newest_.load())
      return nullptr;
    running_ = std::make_shared<web::RequestCanceller>();
    return running_;
  }
  bool newest(int32_t ticket) const { return ticket == newest_.load(); }

 private:
  std::mutex lock_;
  std::atomic<int32_t> newest_{0};
  std::shared_ptr<web::RequestCanceller> running_;
};

DetailsTickets& details_tickets() {
  static auto* tickets = new DetailsTickets;  // workers may outlive static destruction
  return *tickets;
}

}  // namespace

const char* site_base() {
  std::lock_guard lock(g_base_lock);
  return g_base.c_str();
}

void set_site_base(const std::string& base) {
  std::lock_guard lock(g_base_lock);
  g_base = base;
}

std::string url_encoded(std::string_view text, PlainBytes plain, QueryCharset charset) {
  if (text.empty())
    return {};
  const std::string utf8 =
      charset == QueryCharset::kUtf8 ? web::code_pages::local_to_utf8(text) : std::string();
  const std::string_view bytes = charset == QueryCharset::kUtf8 ? std::string_view(utf8) : text;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    const bool is_plain = (b >= 0x2D && b <= 0x39 && b != 0x2F) || (b >= 0x41 && b <= 0x5A) ||
                          (b >= 0x61 && b <= 0x7A);
    if (plain == PlainBytes::kKeep && is_plain) {
      out += c;
      continue;
    }
    out += '%';
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

rt::Text url_encode(const char* text, std::optional<bool> keep_plain, std::optional<bool> to_utf8) {
  return rt::call_text(&url_encode_command, text, keep_plain, to_utf8);
}

void url_encode_command(rt::Cell* result, int32_t count, const rt::Cell* args) {
  const rt::Args a(count, args);
  const std::string out =
      url_encoded(a.text_view(0), a.flag(1) ? PlainBytes::kKeep : PlainBytes::kEncode,
                  a.flag(2) ? QueryCharset::kUtf8 : QueryCharset::kLocal);
  rt::set_text(result, rt::make_text(out));
}

bool open_address(const char* address) {
  using FindWindow = void*(void*, void*, const char*, const char*);
  using ShellExecute = intptr_t(void*, const char*, const char*, const char*, const char*, int32_t);
  void* owner = rt::dll_function<FindWindow>(rt::kImportFindWindowExA)(
      nullptr, nullptr, nullptr, "Microsoft Internet Explorer");
  constexpr int32_t kShowNormal = 1;
  const intptr_t answer = rt::dll_function<ShellExecute>(rt::kImportShellExecuteA)(
      owner, "open", address ? address : "", nullptr, nullptr, kShowNormal);
  // The shell answers a number above 32 when it started a program for the address.
  return answer > 32;
}

void open_address_command(rt::Cell* result, int32_t count, const rt::Cell* args) {
  rt::set_bool(result, open_address(rt::Args(count, args).text(0)));
}

int32_t search_worker(int32_t) {
  const WindowGuard window(kStartWindow);
  bridges::RegexObject regex;
  const rt::Cell list = list_of(kStartWindow, start::kResultsList);
  rt::Text keyword;
  const bool begun = window.write([&] {
    set_word(kStartWindow, start::kSearchButton, kPropDisabled, 1);
    set_word(kStartWindow, start::kSearchStatusLabel, kPropVisible, 1);
    set_text(kStartWindow, start::kSearchStatusLabel, kPropText, kSearching);
    delete_all_rows(list);
    keyword = get_text(kStartWindow, start::kSearchBox, kPropText);
  });
  if (!begun)
    return 0;
  const std::string encoded = url_encoded(keyword.view(), PlainBytes::kEncode, QueryCharset::kUtf8);
  const rt::Text page = fetch_page(std::string(site_base()) + kSearchPath + encoded);

  regex.create(kCardPattern, page.c_str());
  const int32_t n = std::min(regex.match_count(), kMaxResultRows);
  if (n == 0) {
    window.write(
        [] { set_text(kStartWindow, start::kSearchStatusLabel, kPropText, kSearchFailed); });
  } else {
    if (!window.post([] { set_word(kStartWindow, start::kSearchStatusLabel, kPropVisible, 0); }))
      return 0;
    RowBatch rows(list, {1, 2, 3, 4, 5});
    for (int32_t i = 1; i <= n; ++i) {
      // Card i goes to row i - 1: the list was emptied above and only this worker fills it.
      // Shown texts as a browser shows them; addresses as the page has them.
      rows.add({web::shown_text(regex.submatch_text(i, kCardNote).view()),
                web::shown_text(regex.submatch_text(i, kCardName).view()),
                regex.submatch_text(i, kCardAddress).view(),
                web::shown_text(regex.submatch_text(i, kCardCast).view()),
                regex.submatch_text(i, kCardPoster).view()});
      if (rows.full() && !rows.post(window))
        return 0;
    }
    if (!rows.post(window))
      return 0;
  }
  window.write([] { set_word(kStartWindow, start::kSearchButton, kPropDisabled, 0); });
  return 0;
}

int32_t episode_list_worker(int32_t) {
  const WindowGuard play_list(kPlayListWindow);
  const WindowGuard start_window(kStartWindow);
  bridges::RegexObject regex;
  play_list.write([] { set_text(kPlayListWindow, play_list::kStatusLabel, kPropText, kLoading); });
  rt::Text title;
  const bool read = start_window.write([&] {
    const int32_t r = get_word(kStartWindow, start::kResultsList, kPropCurrentRow);
    title = row_cell(list_of(kStartWindow, start::kResultsList), r, 3);
  });
  if (!read)
    return 0;
  const std::string title_page = site_page_address(title.c_str(), search_page_address());
  const rt::Text page = fetch_page(title_page);
  // The first section between the two names that holds episode links: a tab bar that names
  // the play sources before their sections holds none.
  int32_t n = 0;
  int32_t from = 1;
  for (int pair = 0; pair < kMaxSectionPairs && n == 0; ++pair) {
    const int32_t at = web::text_ops::find(page.view(), kPlaySourceStart, from);
    if (at == -1)
      break;
    const std::string section =
        web::text_ops::between(page.view(), kPlaySourceStart, kPlaySourceEnd, at);
    if (section.empty())
      break;
    regex.create(kEpisodePattern, section.c_str());
    n = std::min(regex.match_count(), kMaxEpisodeRows);
    from = at + 1;
  }
  const rt::Cell episodes = list_of(kPlayListWindow, play_list::kEpisodeList);
  // The rows and their cells go in while the window is known to be the one this worker serves.
  RowBatch rows(episodes, {1, 3});
  for (int32_t i = 1; i <= n; ++i) {
    rows.add({web::shown_text(regex.submatch_text(i, kEpisodeName).view()),
              regex.submatch_text(i, kEpisodeAddress).view()});
    if (rows.full() && !rows.post(play_list))
      return 0;
  }
  if (!rows.post(play_list))
    return 0;
  play_list.write([] { set_text(kPlayListWindow, play_list::kStatusLabel, kPropText, ""); });
  return 0;
}

void keep_placeholder_poster() {
  const uint64_t bits =
      rt::entry_table().get_property(kStartWindow, start::kPoster, kPropPicture, -1);
  rt::Bytes bytes = rt::Bytes::adopt(reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(bits)));
  std::lock_guard lock(placeholder().lock);
  placeholder().bytes = std::move(bytes);
}

int32_t next_details_ticket() {
  return details_tickets().issue();
}

int32_t details_worker(int32_t ticket) {
  const WindowGuard window(kStartWindow);
  const std::shared_ptr<web::RequestCanceller> canceller = details_tickets().enter(ticket);
  if (!canceller)
    return 0;
  const web::AbandonScope abandonable(canceller);
  // Writes of this worker land only while no newer click has come.
  const auto write = [&window, ticket](auto fn) {
    bool newest = false;
    window.write([&] {
      newest = details_tickets().newest(ticket);
      if (newest)
        fn();
    });
    return newest;
  };

  rt::Text title, poster;
  const bool begun = write([&] {
    set_word(kStartWindow, start::kOnlinePlayButton, kPropDisabled, 0);
    set_text(kStartWindow, start::kDownloadBox, kPropText, "");
    const rt::Cell results = list_of(kStartWindow, start::kResultsList);
    title = row_cell(results, get_word(kStartWindow, start::kResultsList, kPropCurrentRow), 3);
    poster = row_cell(results, get_word(kStartWindow, start::kResultsList, kPropCurrentRow), 5);
    set_word(kStartWindow, start::kPosterStatusLabel, kPropVisible, 1);
    set_text(kStartWindow, start::kPosterStatusLabel, kPropText, kPosterLoading);
    set_text(kStartWindow, start::kDownloadBox, kPropText, kFetching);
  });
  if (!begun)
    return 0;

  // A card without a poster shows the placeholder; a poster address that cannot be followed
  // fetches nothing and leaves the box empty, like one that does not answer.
  const std::string search_page = search_page_address();
  const std::string_view poster_link = web::trim_html_space(poster.view());
  rt::Bytes picture;
  if (poster_link.empty()) {
    std::lock_guard lock(placeholder().lock);
    picture = rt::Bytes(placeholder().bytes.view());
  } else {
    const std::string poster_address =
        web::resolve_link(search_page, web::decode_html_references(poster_link));
    web::WebRequest poster_request;
    poster_request.address = poster_address.c_str();
    if (!poster_address.empty())
      picture = web::web_request(poster_request);
  }
  const bool shown = write([&] {
    set_pointer(kStartWindow, start::kPoster, kPropPicture, picture.get());
    set_word(kStartWindow, start::kPosterStatusLabel, kPropVisible, 0);
  });
  if (!shown)
    return 0;

  const std::string title_page = site_page_address(title.c_str(), search_page);
  const rt::Text page = title_page.empty() ? rt::Text() : fetch_page(title_page);
  using web::text_ops::Case;
  std::string downloads = web::text_ops::between(page.view(), kDownloadStart, kDownloadEnd);
  downloads = web::text_ops::replace(downloads, "$", "  ", Case::kExact);
  downloads = web::text_ops::replace(downloads, "###", "\r\n\r\n", Case::kExact);
  write([&] {
    set_text(kStartWindow, start::kDownloadBox, kPropText, downloads.c_str());
    if (get_text(kStartWindow, start::kDownloadBox, kPropText).empty()) {
      set_text(kStartWindow, start::kDownloadBox, kPropText, kNothingFound);
    } else {
      set_word(kStartWindow, start::kDownloadBox, kPropDisabled, 0);
    }
  });
  return 0;
}

int32_t play_worker(int32_t) {
  const WindowGuard play_list(kPlayListWindow);
  const WindowGuard start_window(kStartWindow);
  play_list.write([] { set_text(kPlayListWindow, play_list::kStatusLabel, kPropText, kJumping); });
  rt::Text address;
  play_list.write([&] {
    const int32_t r = get_word(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow);
    address = row_cell(list_of(kPlayListWindow, play_list::kEpisodeList), r, 3);
  });
  // The episode's link was found on the title page of the result the play list was opened for.
  rt::Text title;
  start_window.write([&] {
    const int32_t r = get_word(kStartWindow, start::kResultsList, kPropCurrentRow);
    title = row_cell(list_of(kStartWindow, start::kResultsList), r, 3);
  });
  const std::string title_page = site_page_address(title.c_str(), search_page_address());
  const std::string play_page =
      address.empty() ? std::string(site_base()) : site_page_address(address.c_str(), title_page);
  const rt::Text page = play_page.empty() ? rt::Text() : fetch_page(play_page);
  const std::string value = web::text_ops::between(page.view(), kStreamStart, kStreamEnd);
  // Player scripts often write the address as a JSON string, with its slashes escaped.
  const std::string unescaped =
      web::text_ops::replace(value, "\\/", "/", web::text_ops::Case::kExact);
  const std::string stream =
      unescaped.empty() ? std::string() : web::resolve_link(play_page, unescaped);
  const bool opened = open_address(stream.c_str());  // also after the window has closed
  // Said in the label rather than cleared as if it had worked.
  const char* outcome = opened ? "" : stream.empty() ? kNoStream : kNoPlayer;
  play_list.write([outcome] {
    set_text(kPlayListWindow, play_list::kStatusLabel, kPropText, outcome);
    set_word(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop, 0);
  });
  return 0;
}

}  // namespace app
