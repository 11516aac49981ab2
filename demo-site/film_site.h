// The demo film site as an object: loads its data folder, serves it on a loopback port from a
// background thread, and stops on request (or when destroyed).
//
// Addresses:
//   /                                   home page, every title as a card
//   /search.php?searchword=<keyword>    search page (keyword percent-encoded UTF-8)
//   /vod/<id>.html                      title page                         (delayed)
//   /play/<id>-<line>-<episode>.html    play page                          (delayed)
//   /stream/<id>/<line>/<episode>.m3u8  a small HLS playlist
//   /posters/<file>                     poster pictures (image/jpeg, image/png)
//   /static/<file>                      style sheet and script
// Anything else answers 404 with a whole page.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "demo-site/catalogue.h"

namespace demo_site {

struct SiteOptions {
  std::filesystem::path data_dir;
  // Added before answering a title or play page, to let a test act during a slow load.
  std::chrono::milliseconds delay{0};
};

// "demo-site-data" next to the running executable, where the build copies the data folder.
std::filesystem::path default_data_dir();

class FilmSite {
 public:
  // Reads the catalogue, posters and static files; answers null with `error` set when the
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
