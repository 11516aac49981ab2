// libFuzzer harness for EmbeddedLibrary: header checks, program headers, the dynamic section,
// symbol counting, relocations and protections, and the export walk over what was mapped.
// Images are only mapped; code from them never runs.
#include <cstddef>
#include <cstdint>

#include "bridges/embedded_library.h"

namespace {

uint64_t g_somewhere[4];

// Offers an address for every import except names starting with 'x', which go on to the
// process's own symbols and mostly are not found there: both paths get exercised.
void* resolve(const char* name, void*) {
  return name[0] == 'x' ? nullptr : g_somewhere;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bridges::EmbeddedLibrary library;
  if (library.load({data, size}, {&resolve, nullptr}, bridges::Attach::kMapOnly)) {
    (void)library.export_by_name("SkinH_AttachRes");
    (void)library.export_by_name("ff_probe_answer");
    (void)library.entry_point();
    library.unload();
  }
  return 0;
}
