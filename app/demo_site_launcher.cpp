#include "app/demo_site_launcher.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

#ifndef FF_DEMO_DATA_FROM_PROGRAM
#define FF_DEMO_DATA_FROM_PROGRAM "demo-site-data"
#endif

namespace app {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t kDemoPort = 8931;
constexpr auto kStartWait = std::chrono::seconds(5);

std::atomic<pid_t> g_child{0};

// Whether something accepts connections on 127.0.0.1 at the port, within `wait`.
bool answers(uint16_t port, std::chrono::milliseconds wait) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!connected && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    connected = poll(&p, 1, static_cast<int>(wait.count())) == 1 &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  close(fd);
  return connected;
}

// The installed layout keeps the data under the data directory; the build tree beside the
// program.
fs::path data_folder(const fs::path& program_dir) {
  for (const fs::path& candidate :
       {program_dir / "demo-site-data", program_dir / FF_DEMO_DATA_FROM_PROGRAM}) {
    std::error_code error;
    if (fs::is_regular_file(candidate / "catalogue.tsv", error))
      return candidate;
  }
  return {};
}

pid_t launch(const fs::path& site, const fs::path& data) {
  const std::string site_text = site.string();
  const std::string data_text = data.string();
  const std::string port_text = std::to_string(kDemoPort);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child != 0)
    return child;
  // In the child: only async-signal-safe calls until exec.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent)
    _exit(1);
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  const char* const args[] = {site_text.c_str(), "--port",          port_text.c_str(),
                              "--data",          data_text.c_str(), nullptr};
  execv(site_text.c_str(), const_cast<char* const*>(args));
  _exit(127);
}

}  // namespace

DemoSiteState start_demo_site_if_needed(std::string_view site_base) {
  if (site_base != kDemoSiteBase)
    return DemoSiteState::kNotOurs;
  if (answers(kDemoPort, std::chrono::milliseconds(300)))
    return DemoSiteState::kAlreadyRunning;
  const fs::path program_dir = rt::program_directory();
  const fs::path site = program_dir / "demo_film_site";
  const fs::path data = data_folder(program_dir);
  if (access(site.c_str(), X_OK) != 0 || data.empty())
    return DemoSiteState::kUnavailable;
  const pid_t child = launch(site, data);
  if (child < 0)
    return DemoSiteState::kUnavailable;
  g_child.store(child);
  const auto until = std::chrono::steady_clock::now() + kStartWait;
  while (std::chrono::steady_clock::now() < until) {
    if (answers(kDemoPort, std::chrono::milliseconds(100)))
      return DemoSiteState::kStarted;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      g_child.store(0);  // it ended: the port was taken, or the data is broken
      return DemoSiteState::kUnavailable;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop_demo_site();
  return DemoSiteState::kUnavailable;
}

void stop_demo_site() {
  const pid_t child = g_child.exchange(0);
  if (child <= 0)
    return;
  kill(child, SIGTERM);
  int status = 0;
  // The site stops at once on SIGTERM; do not hang the end of the program if it does not.
  for (int i = 0; i < 40; ++i) {
    if (waitpid(child, &status, WNOHANG) == child)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
}

}  // namespace app
