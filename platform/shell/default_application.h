// Handing a stream address to the desktop's default application for its media type, through
// GIO: the desktop entries and mimeapps.list of the XDG data and config folders decide, as they
// do for the desktop's own file manager. GIO reads those folders once per process and follows
// later changes to them itself.
#pragma once

#include <string>

namespace shell {

// What became of the address; only kLaunched means a player has it.
enum class Handoff {
  kLaunched,
  kNoMediaType,           // the path names no media type we know
  kNoDefaultApplication,  // no application is the default for any of its types
  kFilesOnly,             // the default takes local files only: it would not get the address
  kLaunchFailed,          // GIO could not start the default
};

// Starts the default application for the first of the address's media types that has one able
// to take it, with `address` (already checked and written out by web_address) as its one
// address. The player runs in a session of its own with a plain signal state and none of our
// descriptors above 2; it is not our child, so nothing waits for it.
Handoff open_with_default_application(const std::string& address);

}  // namespace shell
