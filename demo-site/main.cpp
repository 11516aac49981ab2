// demo_film_site [--port N] [--delay-ms N] [--data DIR] [--live]
//
// Serves the demo film site on 127.0.0.1 until interrupted (Ctrl-C or SIGTERM).
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "demo-site/film_site.h"

namespace {

constexpr int kDefaultPort = 8931;

void usage(FILE* to) {
  std::fprintf(to,
               "usage: demo_film_site [--port N] [--delay-ms N] [--data DIR] [--live]\n"
               "  --port N       port on 127.0.0.1 (default %d, 0 picks a free one)\n"
               "  --delay-ms N   delay title and play pages by N milliseconds\n"
               "  --data DIR     data folder (default: demo-site-data next to this program)\n"
               "  --live         pages shaped like a live site's: indented, line breaks, CR LF,\n"
               "                 varied addresses, GBK title pages (default: compact pages)\n",
               kDefaultPort);
}

bool parse_int(std::string_view text, long low, long high, long& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size() && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
  demo_site::SiteOptions options;
  options.data_dir = demo_site::default_data_dir();
  long port = kDefaultPort;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--live") {
      options.shape = demo_site::PageShape::live;
      continue;
    }
    if (i + 1 >= argc) {
      usage(stderr);
      return 2;
    }
    const std::string_view value = argv[++i];
    long number = 0;
    if (arg == "--port" && parse_int(value, 0, 65535, number)) {
      port = number;
    } else if (arg == "--delay-ms" && parse_int(value, 0, 600000, number)) {
      options.delay = std::chrono::milliseconds(number);
    } else if (arg == "--data" && !value.empty()) {
      options.data_dir = std::string(value);
    } else {
      std::fprintf(stderr, "demo_film_site: bad argument %s %s\n", argv[i - 1], argv[i]);
      usage(stderr);
      return 2;
    }
  }

  std::string error;
  auto site = demo_site::FilmSite::open(options, error);
  if (!site) {
    std::fprintf(stderr, "demo_film_site: %s\n", error.c_str());
    return 1;
  }

  // The server's threads inherit the blocked set, so only sigwait below sees these.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const int bound = site->start("127.0.0.1", static_cast<int>(port));
  if (bound < 0) {
    std::fprintf(stderr, "demo_film_site: cannot listen on 127.0.0.1:%ld\n", port);
    return 1;
  }
  std::printf("demo film site: http://127.0.0.1:%d (%zu titles%s)\n", bound,
              site->catalogue().titles.size(),
              options.shape == demo_site::PageShape::live ? ", live pages" : "");
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  site->stop();
  return 0;
}
