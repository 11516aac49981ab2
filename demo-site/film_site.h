// The demo film site as an object: loads its data folder, serves it on a loopback port from a
// background thread, and stops on request (or when destroyed).
//
// Addresses:
//   /                                   home page, every title as a card
//   /search.php?searchword=<keyword>    search page (keyword percent-encoded UTF-8)
//   /vod/<id>.html                      title page                         (delayed)
//   /play/<id>-<line>-<episode>.html    play page                          (delayed)
//   /stream/<id>/<line>/<episode>.m3u8  HLS playlist of the sample segments
//   /stream/<id>/<line>/<episode>/<n>.ts  its segments, n from 0 (video/mp2t)
//   /download/<id>/<episode>.mp4        the title's download list entries (video/mp4), for
//                                       titles that list downloads
//   /posters/<file>                     poster pictures (image/jpeg, image/png)
//   /static/<file>                      style sheet and script
// Every episode plays the same sample media (data/media). Segments and downloads answer a
// single byte range (206, or 416 past the end); other addresses answer whole whatever the
// Range header says. Anything else answers 404 with a whole page.
//
// Page shapes. `compact` (the default) writes each tag straight after the one before, exactly
// what the program's patterns read. `live` serves the same catalogue at the same addresses the
// way a live site built on the same template does: indented (spaces in some parts, tabs in
// others), a line break between tags, the lines of some parts ending in CR LF, script lines as
// in the compact shape, and these variations, tied to a title's position in the catalogue
// (pos 1 is the first title; the names are the bundled catalogue's):
//
//   pos  title               where          variation
//    2   1002 长安小食记     search card    poster root-relative: "/posters/1002.png"
//    3   1003 青石巷的春天   search card    no poster: the poster link has no data-original
//    4   1004 雾港迷踪       search card    no remarks span
//    5   1005 山海有灵       search card    poster scheme-relative:
//    "//<host:port>/posters/1005.jpg" 6   1006 Silver Harbor  search card    title links absolute:
//    "http://<host:port>/vod/1006.html" 7   1007 小狐狸阿橘     search card    name written
//    "&#23567;狐狸阿&#x6A58;" 8   1008 冬至饺子宴     search card    poster relative:
//    "posters/1008.png" 9   1009 白鹭洲探案     search card    empty cast
//   10   1010 追风少年       search card    cast "李小川\xFF,陈晨,马骁": one byte that is not UTF-8
//   11   1011 周末厨房       title page     tab bar names the lines ("lzyun云播", "zuidall直连",
//                                           "zuidam3u8") ahead of the sections headed by them
//   14   1014 夜班急诊       title page     GBK, declared only in the header: "charset=gbk"
//   15   1015 大漠孤烟       title page     GBK, declared only by <meta charset="gbk">; the
//                                           header says "text/html"
//   every search page: the description meta ends in a lone byte 0xE5 (a character cut short).
// Other live pages are UTF-8, declared in the header and by a meta http-equiv.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "demo-site/catalogue.h"

namespace demo_site {

enum class PageShape { compact, live };

struct SiteOptions {
  std::filesystem::path data_dir;
  // Added before answering a title or play page, to let a test act during a slow load.
  std::chrono::milliseconds delay{0};
  PageShape shape = PageShape::compact;
};

// "demo-site-data" next to the running executable, where the build copies the data folder; or,
// when there is none, the installed data folder found relative to the executable.
std::filesystem::path default_data_dir();

class FilmSite {
 public:
  // Reads the catalogue, posters, static files and media; answers null with `error` set when the
  // folder is incomplete or the catalogue malformed.
  static std::unique_ptr<FilmSite> open(const SiteOptions& options, std::string& error);

  ~FilmSite();
  FilmSite(const FilmSite&) = delete;
  FilmSite& operator=(const FilmSite&) = delete;

  // Binds `host` (a loopback address) at `port`, or an ephemeral port for 0, and serves from a
  // background thread. Answers the bound port, or -1 when binding fails or it already runs.
  int start(const std::string& host, int port);
  // Stops serving and joins the thread; answers once no request is being handled.
  void stop();

  int port() const;
  const Catalogue& catalogue() const;

  struct State;

 private:
  explicit FilmSite(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace demo_site
