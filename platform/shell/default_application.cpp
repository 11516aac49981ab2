#include "platform/shell/default_application.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <span>

#include "platform/shell/media_type.h"

namespace shell {
namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, ObjectUnref>;

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

// Runs in the player's process between fork and exec, so async-signal-safe calls only. Like
// xdg-open, the player outlives a Ctrl-C in our terminal and does not inherit the mask of the
// worker thread that opened it.
void detach_player(gpointer) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction plain = {};
  plain.sa_handler = SIG_DFL;
  for (const int sig :
       {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM}) {
    sigaction(sig, &plain, nullptr);
  }
  setsid();
}

bool launch(GAppInfo* app, const std::string& address) {
  GList uris = {const_cast<char*>(address.c_str()), nullptr, nullptr};
  GError* raw = nullptr;
  // No launch context: one would turn the address into a GFile and so load the desktop's VFS
  // modules into our process for nothing. Without G_SPAWN_DO_NOT_REAP_CHILD GLib forks twice and
  // waits for the middle process itself, so the player is never our child to reap.
  const gboolean started = G_IS_DESKTOP_APP_INFO(app)
                               ? g_desktop_app_info_launch_uris_as_manager(
                                     G_DESKTOP_APP_INFO(app), &uris, nullptr, G_SPAWN_SEARCH_PATH,
                                     detach_player, nullptr, nullptr, nullptr, &raw)
                               : g_app_info_launch_uris(app, &uris, nullptr, &raw);
  const Error error(raw);
  return started;
}

}  // namespace

Handoff open_with_default_application(const std::string& address) {
  const std::span<const char* const> types = media_types_for(address);
  if (types.empty())
    return Handoff::kNoMediaType;
  // The furthest any type got, for the reason when none launches.
  Handoff outcome = Handoff::kNoDefaultApplication;
  for (const char* type : types) {
    const AppInfo app(g_app_info_get_default_for_type(type, FALSE));
    if (!app)
      continue;
    // A handler for files alone would get a path in place of the address: nothing, or a copy
    // GIO fetches through the VFS first. The next type's default, or xdg-open, does better.
    if (!g_app_info_supports_uris(app.get())) {
      outcome = std::max(outcome, Handoff::kFilesOnly);
      continue;
    }
    // GIO offers no entry whose program is missing, but starts the program through a wrapper
    // of its own, so a program that fails to run still counts as launched.
    if (launch(app.get(), address))
      return Handoff::kLaunched;
    outcome = Handoff::kLaunchFailed;
  }
  return outcome;
}

}  // namespace shell
