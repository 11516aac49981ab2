// Stand-in for the platform's system shell: the two functions the program reaches by name
// through its dynamic-library command table to open a stream address.
//
// Linux has no shell "open" verb. A stream goes to the desktop's default application for its
// media type (GIO), and anything else to the desktop's own opener, xdg-open, which on most
// desktops gives web addresses to the browser. Handlers can be reached with whatever they are
// given, and a file: or smb: address can reach an executable desktop file, so only web
// addresses are passed on:
// - the verb is "open" (letter case ignored) or null, the platform's default verb;
// - the text is local (code page 936) text of at most kMaxAddressBytes bytes with no control
//   character, space or DEL anywhere; it is made UTF-8;
// - its authority (what follows "scheme://" up to the first "/", "?" or "#") holds no "@", so
//   no "user@" or "user:password@" a reader could take for the host, no backslash, which
//   some handlers read as "/" and so see another host, and no "%": curl decodes escapes in a
//   host name, and what they spell would pass unchecked;
// - an international host name is written in its IDNA (punycode) form by libidn2; a name that
//   has none, or whose form holds more than letters, digits, hyphens and dots, is refused;
// - bytes above 0x7F are percent-encoded;
// - libcurl's URL parser (the same one our requests use) accepts it as an absolute address of
//   a scheme it knows, the scheme is http or https, and it has a host, written after exactly
//   two slashes;
// - in the path, query and fragment of the address as curl writes it back, the characters
//   ` $ ' " ; ( ) * ! are percent-encoded: shells and some handlers give them a meaning.
// That address then goes, as the one address, to the first that takes it:
// - the default application for the media type the path's extension names (media_type.h:
//   .m3u8 tries application/vnd.apple.mpegurl, then audio/x-mpegurl), as the XDG desktop
//   entries and mimeapps.list decide, when it takes addresses (%u or %U), not only files. GIO
//   runs the entry's Exec line itself, the address an argument no shell reads, in a session of
//   its own, with descriptors above 2 closed, and it is not our child;
// - xdg-open, found on PATH and run without a shell, in a session of its own, with descriptors
//   above 2 closed. It is not waited for; a detached thread reaps it.
// Neither waits for the player. Parameters, working directory and show state play no part when
// opening an address.
#pragma once

#include <cstdint>

#define FF_SHELL_API extern "C" __attribute__((visibility("default")))

namespace shell {

inline constexpr std::intptr_t kOpened = 42;  // any value above 32 means success
// Failure codes as the platform reports them.
inline constexpr std::intptr_t kErrorOutOfMemory = 0;
inline constexpr std::intptr_t kErrorFileNotFound = 2;
inline constexpr std::intptr_t kErrorAccessDenied = 5;
inline constexpr std::intptr_t kErrorNoAssociation = 31;

inline constexpr std::size_t kMaxAddressBytes = 8192;

}  // namespace shell

// Opens `file` with the verb `verb`. Answers shell::kOpened once a player or xdg-open is
// started; kErrorFileNotFound for a null or empty text; kErrorAccessDenied for a text the rules
// above refuse; kErrorNoAssociation for another verb, or when no default application takes the
// address and xdg-open cannot be started; kErrorOutOfMemory when no thread can be made to reap
// xdg-open (it is then already running).
FF_SHELL_API std::intptr_t ShellExecuteA(void* owner, const char* verb, const char* file,
                                         const char* parameters, const char* directory,
                                         int32_t show);

// Top-level windows are not searched on Linux: there is never a window to find, so the answer
// is always null.
FF_SHELL_API void* FindWindowExA(void* parent, void* child_after, const char* class_name,
                                 const char* window_name);
