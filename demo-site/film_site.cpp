#include "demo-site/film_site.h"

#ifndef FF_DEMO_DATA_FROM_PROGRAM
#define FF_DEMO_DATA_FROM_PROGRAM "demo-site-data"
#endif

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <fstream>
#include <map>
#include <thread>

#include "demo-site/byte_range.h"
#include "demo-site/live_pages.h"
#include "demo-site/media.h"
#include "demo-site/pages.h"
#include "demo-site/text_tools.h"

namespace demo_site {
namespace {

constexpr uintmax_t kMaxFileSize = 4u << 20;
constexpr std::string_view kHtml = "text/html; charset=utf-8";

bool read_file(const std::filesystem::path& path, std::string& out, std::string& error) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    error = "cannot read " + path.string();
    return false;
  }
  if (size > kMaxFileSize) {
    error = path.string() + " is too large";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out.assign(static_cast<size_t>(size), '\0');
  if (!in.read(out.data(), static_cast<std::streamsize>(size))) {
    error = "cannot read " + path.string();
    return false;
  }
  return true;
}

constexpr std::string_view kSegmentType = "video/mp2t";
constexpr std::string_view kDownloadType = "video/mp4";

std::string_view content_type_for(std::string_view name) {
  if (name.ends_with(".jpg"))
    return "image/jpeg";
  if (name.ends_with(".png"))
    return "image/png";
  if (name.ends_with(".css"))
    return "text/css; charset=utf-8";
  if (name.ends_with(".js"))
    return "application/javascript; charset=utf-8";
  return "application/octet-stream";
}

// The Host header names the address the client used; addresses in the pages are built on it so
// that they work on whatever port the site runs. Anything odd falls back to the bound address.
std::string origin_for(const httplib::Request& request, const std::string& fallback_host,
                       int port) {
  const std::string host = request.get_header_value("Host");
  const bool plain =
      !host.empty() && host.size() <= 255 && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
      });
  if (plain)
    return "http://" + host;
  return "http://" + fallback_host + ":" + std::to_string(port);
}

template <typename T>
bool parse_match(const std::string& text, T& value) {
  if (text.empty() || text.size() > 9)
    return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

struct FilmSite::State {
  SiteOptions options;
  Catalogue catalogue;
  std::map<std::string, std::string, std::less<>> posters;
  std::map<std::string, std::string, std::less<>> statics;
  std::vector<MediaSegment> segments;
  std::vector<std::string> segment_files;  // bytes of segments[i]
  std::string download_file;
  httplib::Server server;
  std::thread listener;
  std::atomic<bool> listen_returned{false};
  std::string host;
  int port = -1;

  PageContext context(const httplib::Request& request) const {
    return PageContext{origin_for(request, host, port)};
  }

  bool live() const { return options.shape == PageShape::live; }

  // Live title pages are not all UTF-8, so the type comes with the page.
  live::EncodedPage any_title_page(const Title& title, const PageContext& page) const {
    if (live())
      return live::title_page(catalogue, title, page);
    return {title_page(title, page), std::string(kHtml)};
  }

  void slow_down() const {
    if (options.delay.count() > 0)
      std::this_thread::sleep_for(options.delay);
  }

  void answer_not_found(const httplib::Request& request, httplib::Response& response) const {
    response.status = 404;
    response.set_content(
        live() ? live::not_found_page(context(request)) : not_found_page(context(request)),
        std::string(kHtml));
  }

  // Title, line and episode from the first three captured groups, checked against the catalogue.
  const Title* find_episode(const httplib::Request& request, int& line, size_t& episode) const {
    uint32_t id = 0;
    if (request.matches.size() < 4 || !parse_match(request.matches[1].str(), id) ||
        !parse_match(request.matches[2].str(), line) ||
        !parse_match(request.matches[3].str(), episode)) {
      return nullptr;
    }
    const Title* title = catalogue.find(id);
    if (!title)
      return nullptr;
    if (std::find(title->lines.begin(), title->lines.end(), line) == title->lines.end()) {
      return nullptr;
    }
    if (episode < 1 || episode > title->episodes.size())
      return nullptr;
    return title;
  }

  void serve_file(const std::map<std::string, std::string, std::less<>>& files,
                  const httplib::Request& request, httplib::Response& response) const {
    const std::string name = request.matches.size() == 2 ? request.matches[1].str() : "";
    const auto found = files.find(name);
    if (found == files.end()) {
      answer_not_found(request, response);
      return;
    }
    response.set_header("Cache-Control", "max-age=86400");
    response.set_content(found->second, std::string(content_type_for(name)));
  }

  // One byte range or the whole file; see byte_range.h.
  static void serve_media(std::string_view bytes, std::string_view type,
                          const httplib::Request& request, httplib::Response& response) {
    response.set_header("Accept-Ranges", "bytes");
    const ByteRange range = byte_range_for(request.get_header_value("Range"), bytes.size());
    switch (range.answer) {
      case RangeAnswer::part:
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                 std::to_string(range.first + range.length - 1) +
                                                 "/" + std::to_string(bytes.size()));
        response.set_content(bytes.data() + range.first, range.length, std::string(type));
        return;
      case RangeAnswer::past_end:
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(bytes.size()));
        return;
      case RangeAnswer::whole:
      case RangeAnswer::several_ranges:
      case RangeAnswer::other_unit:
      case RangeAnswer::malformed:
        response.set_content(bytes.data(), bytes.size(), std::string(type));
        return;
    }
  }

  void install_routes() {
    // cpp-httplib (0.11) answers a Range header itself on every response: it cuts 404 pages
    // short (or turns them into 416) and misstates Content-Range for a range running past the
    // end. Media answers ranges in serve_media instead, so the library is left none to apply.
    // The request is the server's own object, only handed to handlers as const.
    server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
      const_cast<httplib::Request&>(request).ranges.clear();
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [this](const httplib::Request& request, httplib::Response& response) {
      const PageContext page = context(request);
      response.set_content(live() ? live::home_page(catalogue, page) : home_page(catalogue, page),
                           std::string(kHtml));
    });
    server.Get("/search.php", [this](const httplib::Request& request, httplib::Response& response) {
      // The raw target is read, not the parsed parameters: those would turn "+" into a space.
      const std::string keyword =
          percent_decode(query_value(request.target, "searchword").value_or(""));
      const PageContext page = context(request);
      response.set_content(live() ? live::search_page(catalogue, keyword, page)
                                  : search_page(catalogue, keyword, page),
                           std::string(kHtml));
    });
    server.Get(R"(/vod/(\d{1,9})\.html)", [this](const httplib::Request& request,
                                                 httplib::Response& response) {
      uint32_t id = 0;
      const Title* title = parse_match(request.matches[1].str(), id) ? catalogue.find(id) : nullptr;
      if (!title) {
        answer_not_found(request, response);
        return;
      }
      slow_down();
      const live::EncodedPage page = any_title_page(*title, context(request));
      response.set_content(page.body, page.content_type);
    });
    server.Get(R"(/play/(\d{1,9})-(\d{1,2})-(\d{1,4})\.html)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 int line = 0;
                 size_t episode = 0;
                 const Title* title = find_episode(request, line, episode);
                 if (!title) {
                   answer_not_found(request, response);
                   return;
                 }
                 slow_down();
                 const PageContext page = context(request);
                 response.set_content(live() ? live::play_page(*title, line, episode, page)
                                             : play_page(*title, line, episode, page),
                                      std::string(kHtml));
               });
    server.Get(R"(/stream/(\d{1,9})/(\d{1,2})/(\d{1,4})\.m3u8)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 int line = 0;
                 size_t episode = 0;
                 const Title* title = find_episode(request, line, episode);
                 if (!title) {
                   answer_not_found(request, response);
                   return;
                 }
                 response.set_content(stream_playlist(*title, line, episode, segments),
                                      "application/vnd.apple.mpegurl");
               });
    server.Get(R"(/stream/(\d{1,9})/(\d{1,2})/(\d{1,4})/(\d{1,2})\.ts)",
               [this](const httplib::Request& request, httplib::Response& response) {
                 int line = 0;
                 size_t episode = 0;
                 size_t segment = 0;
                 const Title* title = find_episode(request, line, episode);
                 if (!title || !parse_match(request.matches[4].str(), segment) ||
                     segment >= segment_files.size()) {
                   answer_not_found(request, response);
                   return;
                 }
                 serve_media(segment_files[segment], kSegmentType, request, response);
               });
    server.Get(R"(/download/(\d{1,9})/(\d{1,4})\.mp4)", [this](const httplib::Request& request,
                                                               httplib::Response& response) {
      uint32_t id = 0;
      size_t episode = 0;
      const Title* title = parse_match(request.matches[1].str(), id) ? catalogue.find(id) : nullptr;
      // Only what the title page lists: titles without downloads list nothing.
      if (!title || !title->downloads || !parse_match(request.matches[2].str(), episode) ||
          episode < 1 || episode > title->episodes.size()) {
        answer_not_found(request, response);
        return;
      }
      serve_media(download_file, kDownloadType, request, response);
    });
    server.Get(R"(/posters/([A-Za-z0-9_][A-Za-z0-9._-]{0,63}))",
               [this](const httplib::Request& request, httplib::Response& response) {
                 serve_file(posters, request, response);
               });
    server.Get(R"(/static/([A-Za-z0-9_][A-Za-z0-9._-]{0,63}))",
               [this](const httplib::Request& request, httplib::Response& response) {
                 serve_file(statics, request, response);
               });
    server.set_error_handler([this](const httplib::Request& request, httplib::Response& response) {
      if (response.status == 404)
        answer_not_found(request, response);
    });
  }
};

std::filesystem::path default_data_dir() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    return "demo-site-data";
  const std::filesystem::path beside = self.parent_path() / "demo-site-data";
  // Installed, the data lives under the data directory, found relative to the program.
  const std::filesystem::path installed = self.parent_path() / FF_DEMO_DATA_FROM_PROGRAM;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
    return installed.lexically_normal();
  return beside;
}

std::unique_ptr<FilmSite> FilmSite::open(const SiteOptions& options, std::string& error) {
  auto state = std::make_unique<State>();
  state->options = options;
  std::string text;
  if (!read_file(options.data_dir / "catalogue.tsv", text, error))
    return nullptr;
  std::optional<Catalogue> catalogue = parse_catalogue(text, error);
  if (!catalogue) {
    error = "catalogue.tsv " + error;
    return nullptr;
  }
  state->catalogue = std::move(*catalogue);
  for (const Title& title : state->catalogue.titles) {
    if (state->posters.contains(title.poster))
      continue;
    std::string bytes;
    if (!read_file(options.data_dir / "posters" / title.poster, bytes, error))
      return nullptr;
    state->posters.emplace(title.poster, std::move(bytes));
  }
  for (const char* name : {"site.css", "site.js"}) {
    std::string bytes;
    if (!read_file(options.data_dir / "static" / name, bytes, error))
      return nullptr;
    state->statics.emplace(name, std::move(bytes));
  }
  if (!read_file(options.data_dir / "media" / "segments.m3u8", text, error))
    return nullptr;
  std::optional<std::vector<MediaSegment>> segments = parse_segment_list(text, error);
  if (!segments) {
    error = "media/segments.m3u8 " + error;
    return nullptr;
  }
  state->segments = std::move(*segments);
  for (const MediaSegment& segment : state->segments) {
    std::string bytes;
    if (!read_file(options.data_dir / "media" / segment.file, bytes, error))
      return nullptr;
    state->segment_files.push_back(std::move(bytes));
  }
  if (!read_file(options.data_dir / "media" / "sample.mp4", state->download_file, error)) {
    return nullptr;
  }
  // httplib's default options add SO_REUSEPORT, which would let a second site share a busy
  // port and take half its requests; address reuse alone is wanted.
  state->server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  state->install_routes();
  return std::unique_ptr<FilmSite>(new FilmSite(std::move(state)));
}

FilmSite::FilmSite(std::unique_ptr<State> state) : state_(std::move(state)) {}

FilmSite::~FilmSite() {
  stop();
}

int FilmSite::start(const std::string& host, int port) {
  State& s = *state_;
  if (s.listener.joinable())
    return -1;
  int bound = -1;
  if (port == 0) {
    bound = s.server.bind_to_any_port(host);
  } else if (s.server.bind_to_port(host, port)) {
    bound = port;
  }
  if (bound <= 0)
    return -1;
  s.host = host;
  s.port = bound;
  s.listen_returned = false;
  s.listener = std::thread([&s] {
    s.server.listen_after_bind();
    s.listen_returned = true;
  });
  // stop() only reaches a server that is already listening.
  while (!s.server.is_running() && !s.listen_returned) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (s.listen_returned) {
    s.listener.join();
    return -1;
  }
  return bound;
}

void FilmSite::stop() {
  State& s = *state_;
  if (!s.listener.joinable())
    return;
  s.server.stop();
  s.listener.join();
}

int FilmSite::port() const {
  return state_->port;
}

const Catalogue& FilmSite::catalogue() const {
  return state_->catalogue;
}

}  // namespace demo_site
