#include "platform/shell/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/ascii_case.h"
#include "platform/shell/default_application.h"
#include "platform/shell/web_address.h"

extern char** environ;

namespace shell {
namespace {

bool is_open_verb(const char* verb) {
  return !verb || ascii::equals_folded(verb, "open");
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // The opener starts with a plain signal state, no terminal input, none of our descriptors,
  // and in a session of its own, so that it outlives a Ctrl-C in our terminal.
  bool prepare() {
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int sig :
         {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM}) {
      sigaddset(&defaults, sig);
    }
    const short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID;
    return posix_spawnattr_setflags(&attributes_, flags) == 0 &&
           posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
           posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

void reap(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace
}  // namespace shell

std::intptr_t ShellExecuteA(void* /*owner*/, const char* verb, const char* file,
                            const char* /*parameters*/, const char* /*directory*/,
                            int32_t /*show*/) {
  if (!shell::is_open_verb(verb))
    return shell::kErrorNoAssociation;
  if (!file || !*file)
    return shell::kErrorFileNotFound;
  const std::optional<std::string> address =
      shell::web_address(std::string_view(file, strnlen(file, shell::kMaxAddressBytes + 1)));
  if (!address)
    return shell::kErrorAccessDenied;
  // xdg-open gives web addresses to the browser, so a stream goes to the desktop's player for
  // its media type when there is one; xdg-open is for the rest.
  if (shell::open_with_default_application(*address) == shell::Handoff::kLaunched) {
    return shell::kOpened;
  }

  shell::SpawnSetup setup;
  if (!setup.prepare())
    return shell::kErrorOutOfMemory;
  std::string program = "xdg-open";
  std::string argument = *address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, program.c_str(), setup.actions(), setup.attributes(), argv, environ) !=
      0) {
    return shell::kErrorNoAssociation;
  }
  try {
    std::thread(shell::reap, child).detach();
  } catch (const std::system_error&) {
    return shell::kErrorOutOfMemory;
  }
  return shell::kOpened;
}

void* FindWindowExA(void* /*parent*/, void* /*child_after*/, const char* /*class_name*/,
                    const char* /*window_name*/) {
  return nullptr;
}
