// Process entry: the framework around the runtime application object. The initialisation
// routine runs the whole life of the program; the exit entry then runs the end sequence.
#include <cstdio>

#include "app/command_line.h"
#include "app/demo_site_launcher.h"
#include "app/flows.h"
#include "app/program.h"

int main(int argc, char** argv) {
  const app::CommandLine line = app::parse_command_line(argc, argv);
  if (line.exit_status) {
    std::fputs(*line.exit_status == 0 ? app::usage_text().c_str() : line.message.c_str(),
               *line.exit_status == 0 ? stdout : stderr);
    return *line.exit_status;
  }
  if (line.site)
    app::set_site_base(*line.site);
  // Before any thread of the program's own exists: the site is started with fork.
  (void)app::start_demo_site_if_needed(app::site_base());
  app::init_program();
  rt::end_program(0);
}
