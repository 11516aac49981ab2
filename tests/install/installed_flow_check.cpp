// The program's whole chain as installed. This program is copied into the installed program
// folder (install_test.sh): /proc/self/exe then makes that folder its program directory, as it is
// filmfinder's, so the platform stand-ins, the demo site and its data all come from the install.
// Texts in this file are code page 936, like every text of the program.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/demo_site_launcher.h"
#include "bridges/embedded_library.h"
#include "e2e/flow_driver.h"
#include "imaging/drawing.h"
#include "skin/skin.h"

namespace {

using namespace app;
using namespace e2e;
namespace fs = std::filesystem;

constexpr uint16_t kDemoPort = 8931;

bool port_answers(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

bool port_closes(uint16_t port) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (port_answers(port)) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The installed demo site on a free port, started the way the program starts it, with the data
// where the install put it; stopped with the object.
class InstalledSite {
 public:
  InstalledSite() {
    const std::string site = rt::program_directory() + "/demo_film_site";
    const std::string data = rt::program_directory() + "/" FF_INSTALLED_DEMO_DATA;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
      return;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent)
        _exit(1);
      dup2(out[1], STDOUT_FILENO);
      const char* const args[] = {site.c_str(), "--port", "0", "--data", data.c_str(), nullptr};
      execv(site.c_str(), const_cast<char* const*>(args));
      _exit(127);
    }
    close(out[1]);
    // It prints "demo film site: http://127.0.0.1:PORT (...)" once it listens.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    char c = 0;
    while (line.size() < 200 && poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n') {
      line += c;
    }
    close(out[0]);
    const size_t start = line.find("http://");
    const size_t end = line.find(' ', start);
    if (start != std::string::npos && end != std::string::npos) {
      base_ = line.substr(start, end - start);
    }
  }
  ~InstalledSite() {
    if (pid_ <= 0)
      return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  InstalledSite(const InstalledSite&) = delete;
  InstalledSite& operator=(const InstalledSite&) = delete;

  // Empty when it did not come up.
  const std::string& base() const { return base_; }

 private:
  pid_t pid_ = -1;
  std::string base_;
};

// The start-up init_program makes before its message loop, once per process: the runtime, the
// graphics library behind the window shadow (the raster stand-in) and the skin engine.
void start_like_the_program() {
  static bool started = false;
  if (started)
    return;
  started = true;
  rt::install_program_info(program_info());
  rt::Cell none{};
  rt::entry_table().runtime_routine(6, &none, 0, nullptr);
  EXPECT_TRUE(imaging::start_graphics_library());
  g_library_loader = std::make_unique<bridges::EmbeddedLibrary>();
  EXPECT_TRUE(skin::load_engine(*g_library_loader));
}

void open_start_window() {
  start_like_the_program();
  rt::load_start_window(kStartWindow);
}

void search(const char* keyword) {
  set_text(kStartWindow, start::kSearchBox, kPropText, keyword);
  set_text(kStartWindow, start::kSearchStatusLabel, kPropText, "");
  rt::raise_unit_event(kStartWindow, start::kSearchButton, 0);
  ASSERT_TRUE(pump_until(&search_ended));
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

// The stand-ins mapped into this process (libff*.so; not the system's libffi.so.N).
std::vector<std::string> mapped_stand_ins() {
  std::ifstream maps("/proc/self/maps");
  std::vector<std::string> paths;
  for (std::string line; std::getline(maps, line);) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos)
      continue;
    const std::string path = line.substr(slash);
    const std::string name = fs::path(path).filename().string();
    if (name.starts_with("libff") && name.ends_with(".so"))
      paths.push_back(path);
  }
  return paths;
}

TEST(InstalledFolder, HoldsThisProgram) {
  const std::string& folder = rt::program_directory();
  ASSERT_TRUE(folder.ends_with("/" FF_INSTALLED_PROGRAM_DIR))
      << folder << ": run the copy in the installed program folder";
  EXPECT_TRUE(fs::is_regular_file(folder + "/filmfinder"));
  EXPECT_TRUE(fs::is_regular_file(folder + "/" FF_INSTALLED_DEMO_DATA "/catalogue.tsv"));
}

// Before any thread of the program's own, like filmfinder: the site is started with fork.
TEST(InstalledFolder, StartsTheDemoSiteByItself) {
  if (port_answers(kDemoPort))
    GTEST_SKIP() << "something already serves 127.0.0.1:8931";
  const DemoSiteState state = start_demo_site_if_needed(kDemoSiteBase);
  // Another test's site may have come up since the look above.
  if (state == DemoSiteState::kAlreadyRunning ||
      (state == DemoSiteState::kUnavailable && port_answers(kDemoPort))) {
    GTEST_SKIP() << "127.0.0.1:8931 was taken meanwhile";
  }
  ASSERT_EQ(state, DemoSiteState::kStarted);
  set_site_base(kDemoSiteBase);
  open_start_window();
  search("");
  EXPECT_EQ(cell_text(kResults, 0, 0).view(), "1");
  EXPECT_FALSE(cell_text(kResults, 0, 2).empty());
  close_windows();
  stop_demo_site();
  EXPECT_TRUE(port_closes(kDemoPort));
}

TEST(InstalledProgram, SearchDetailsPlayListAndEpisode) {
  RecordingOpener opener;
  ASSERT_TRUE(opener.ready());
  InstalledSite site;
  ASSERT_FALSE(site.base().empty()) << "the installed demo site did not come up";
  const std::string base = site.base();
  const char* const argv[] = {"filmfinder", "--site", base.c_str()};
  const CommandLine line = parse_command_line(3, argv);
  ASSERT_FALSE(line.exit_status) << line.message;
  ASSERT_TRUE(line.site);
  set_site_base(*line.site);
  open_start_window();

  // The desktop matches the window to its entry by the id; the icon comes from the install
  // (the test runs with the icon theme out of sight).
  EXPECT_EQ(QGuiApplication::desktopFileName().toStdString(), "io.github.filmfinder.FilmFinder");
  EXPECT_FALSE(QApplication::windowIcon().pixmap(48, 48).isNull());

  search("");
  const int32_t row = row_of("山海有灵");
  ASSERT_GE(row, 0);
  set_int(kStartWindow, start::kResultsList, kPropCurrentRow, row);
  set_text(kStartWindow, start::kDownloadBox, kPropText, "");
  rt::raise_unit_event(kStartWindow, start::kResultsList, 4);
  ASSERT_TRUE(pump_until(&details_ended));
  const std::string downloads(get_text(kStartWindow, start::kDownloadBox, kPropText).view());
  EXPECT_NE(downloads.find("  " + base + "/"), std::string::npos) << downloads;
  EXPECT_GT(get_bytes(kStartWindow, start::kPoster, kPropPicture).size(), 1000u);
  screenshot(kStartWindow, "installed_start_window.png");

  // All 24 episodes, then the second one played.
  bool listed = false;
  with_play_list([&] {
    if (!listed) {
      if (cell_text(kEpisodes, 23, 0).empty())
        return false;  // still loading
      listed = true;
      EXPECT_TRUE(cell_text(kEpisodes, 24, 0).empty());
      EXPECT_EQ(cell_text(kEpisodes, 0, 0).view(), "1");
      EXPECT_FALSE(cell_text(kEpisodes, 0, 1).empty());
      screenshot(kPlayListWindow, "installed_play_list_window.png");
      set_int(kPlayListWindow, play_list::kEpisodeList, kPropCurrentRow, 1);
      rt::raise_unit_event(kPlayListWindow, play_list::kEpisodeList, 4);
      return false;
    }
    // Done once the address went out and the window is back from the jump.
    return !opener.opened().empty() && get_int(kPlayListWindow, kOwnUnit, kPropAlwaysOnTop) == 0;
  });
  EXPECT_TRUE(listed);
  const std::vector<std::string> opened = opener.opened();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_TRUE(opened[0].starts_with(base + "/stream/1005/")) << opened[0];

  // Every stand-in came from the install, none from a build tree.
  const std::vector<std::string> libraries = mapped_stand_ins();
  for (const char* name : {"/libffkernel.so", "/libffinet.so", "/libffautomation.so",
                           "/libffraster.so", "/libffshell.so"}) {
    EXPECT_NE(std::find(libraries.begin(), libraries.end(), rt::program_directory() + name),
              libraries.end())
        << name << " not loaded from the program folder";
  }
  for (const std::string& path : libraries) {
    EXPECT_TRUE(path.starts_with(rt::program_directory() + "/")) << path;
  }
  close_windows();
}

}  // namespace
