// The application: its initialisation routine, exit routine and event handlers.
#pragma once

#include <cstdint>

#include <memory>

#include "bridges/embedded_library.h"
#include "runtime/events.h"
#include "runtime/runtime.h"

namespace app {

// Runs the whole life of the program: start-up, the start window, the message loop. Returns 0.
int32_t init_program();
// Releases the module-level objects at the end of the program.
void exit_routine(int32_t index);

// The library loader that holds the skin engine (null before start-up and after the end).
extern std::unique_ptr<bridges::EmbeddedLibrary> g_library_loader;

// The program information block: templates, routine table, constant area, unit libraries.
const rt::ProgramInfo& program_info();

// Event handlers, bound by the window templates.
rt::HandlerResult on_start_window_created(const int64_t* args, int32_t count);
rt::HandlerResult on_start_window_resized(const int64_t* args, int32_t count);
rt::HandlerResult on_search_click(const int64_t* args, int32_t count);
// Enter in the search box searches as the button does, but only while the button would take a
// click: a search already running keeps it disabled.
rt::HandlerResult on_search_enter(const int64_t* args, int32_t count);
rt::HandlerResult on_online_play_click(const int64_t* args, int32_t count);
rt::HandlerResult on_result_click(const int64_t* args, int32_t count);
rt::HandlerResult on_play_list_created(const int64_t* args, int32_t count);
rt::HandlerResult on_play_list_closing(const int64_t* args, int32_t count);
rt::HandlerResult on_episode_click(const int64_t* args, int32_t count);

}  // namespace app
