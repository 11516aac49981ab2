/* A tiny shared library for the in-memory loader's tests, carried by the test program as a byte
 * set. Its attach and detach counters live in the test program and reach the library only
 * through the loader's resolver: a load without that resolver has an import nothing provides. */
#include <stddef.h>
#include <string.h>

#define PROBE_EXPORT __attribute__((visibility("default")))

extern int ff_probe_attach_count;
extern int ff_probe_detach_count;

__attribute__((constructor)) static void probe_attach(void) {
  ++ff_probe_attach_count;
}
__attribute__((destructor)) static void probe_detach(void) {
  ++ff_probe_detach_count;
}

PROBE_EXPORT int ff_probe_answer(void) {
  return 42;
}

/* Calls the C library through its import slot, so a resolver that offers "strlen" shows. */
PROBE_EXPORT size_t ff_probe_length(const char* text) {
  return strlen(text);
}

/* A data slot holding an exported function's address: an absolute 64-bit relocation. */
PROBE_EXPORT int (*ff_probe_hook)(void) = ff_probe_answer;

/* A pointer to the image's own read-only data: a relative relocation. */
PROBE_EXPORT const char* ff_probe_greeting = "probe";
