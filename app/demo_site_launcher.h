// The bundled demo film site, started for a session when the program talks to it and nothing
// answers there: launched from the desktop menu, the program works out of the box.
//
// Only for the demo site's own address (kDemoSiteBase): with any other site nothing is started.
// The site runs as a child process, found next to the program with its data folder; it is
// stopped when the program ends, and it ends by itself should the program die first.
#pragma once

#include <string_view>

namespace app {

inline constexpr char kDemoSiteBase[] = "http://127.0.0.1:8931";

enum class DemoSiteState {
  kNotOurs,         // the program's site is another one
  kAlreadyRunning,  // something answers at the demo site's address
  kStarted,         // started for this session
  kUnavailable,     // not installed beside the program, or it did not come up
};

// Starts the demo site when `site_base` is its address and nothing answers there; waits (a few
// seconds at most) until it answers.
DemoSiteState start_demo_site_if_needed(std::string_view site_base);

// Stops the site started above, if any; safe to call more than once.
void stop_demo_site();

}  // namespace app
