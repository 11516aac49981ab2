// EmbeddedLibrary: a shared library mapped by hand from bytes the program carries, never from a
// file on disk.
//
// The image is an ELF64 shared object for x86-64. Loading checks the file header and that the
// program headers lie inside the bytes, reserves one region for the whole image, copies each
// loadable segment to its place, applies the dynamic relocations against the actual base,
// resolves each imported symbol (the resolver callback first, then the process's global
// symbols), sets every segment's final protection and runs the image's initialisers as its
// "process attach" step. Unloading runs the finalisers and releases the region.
//
// Every offset, size and address read from the image is checked against the bytes (or against
// the mapped region) with overflow-safe arithmetic before use. A load that fails for any reason
// (short or malformed image, a relocation kind this loader does not handle, an import nothing
// provides, thread-local storage) leaves nothing mapped and the image base 0; failure() then
// says which check refused it, for tests and fuzz triage; callers need only the false.
//
// Destroying an instance does not unload: code of the image may still be in use by the toolkit
// it was given to, and the image goes with the process. Call unload() to release it.
//
// Start-up thread and window thread only; an instance is not shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace bridges {

// Asked for each imported symbol before the process's global symbols. Answers the symbol's
// address, or null when it does not provide that name.
struct ImportResolver {
  void* (*find)(const char* name, void* context) = nullptr;
  void* context = nullptr;
};

// Whether load() runs the image's initialisers. Images of unknown origin (fuzzing) are only
// mapped; their code must never run.
enum class Attach { kRunInitialisers, kMapOnly };

// Why the last load() failed. Each check of the image belongs to exactly one reason.
enum class LoadFailure {
  kNone,                   // the last load mapped its image, or there was none
  kTruncated,              // shorter than the file header
  kNotElf,                 // no ELF magic
  kWrongClass,             // not 64-bit little-endian ELF of the current version
  kNotSharedObject,        // an executable, relocatable or core file
  kWrongMachine,           // code for another processor
  kBadProgramHeaders,      // odd entry size, none or too many, or a table outside the bytes
  kThreadLocalStorage,     // a TLS segment, static TLS or a TLS symbol
  kBadSegment,             // a segment's bytes or addresses out of range, or nothing to load
  kTooLarge,               // the segments span more than the loader reserves
  kMapFailed,              // the system refused the region
  kBadDynamic,             // no dynamic segment, two, one without an end, or odd entry sizes
  kBadSymbols,             // symbol or string tables outside readable memory, or uncountable
  kBadRelocation,          // a relocation table or target outside the image, or a bad symbol
  kUnsupportedRelocation,  // a relocation or symbol kind this loader does not apply
  kMissingSymbol,          // an import neither the resolver nor the process provides
  kBadInitialisers,        // initialiser or finaliser entries outside the image's code
  kProtectFailed,          // the system refused the final protections
};
// The enumerator's name without its "k", for messages.
const char* to_string(LoadFailure failure);

class EmbeddedLibrary {
 public:
  EmbeddedLibrary() = default;
  ~EmbeddedLibrary() = default;
  EmbeddedLibrary(const EmbeddedLibrary&) = delete;
  EmbeddedLibrary& operator=(const EmbeddedLibrary&) = delete;

  // Maps `image` and (by default) runs its initialisers. An instance that already holds an image
  // unloads it first, whether or not the new load succeeds. True when the image is mapped.
  bool load(std::span<const uint8_t> image, ImportResolver resolver = {},
            Attach attach = Attach::kRunInitialisers);
  // Why the last load() answered false; kNone after one that answered true.
  LoadFailure failure() const { return failure_; }
  // Runs the finalisers (when the initialisers ran) and releases the image. True when nothing is
  // loaded afterwards, which is always the case.
  bool unload();

  // The address of the exported symbol spelled exactly `name`; null when there is none or nothing
  // is loaded.
  void* export_by_name(const char* name) const;
  // The image's entry address (image base + the header's entry), 0 when nothing is loaded.
  uintptr_t entry_point() const;
  // Where the image's address 0 lies in memory; 0 when nothing is loaded.
  uintptr_t image_base() const { return base_; }
  // Bytes reserved for the image; 0 when nothing is loaded.
  size_t mapped_size() const { return size_; }

 private:
  // What export lookup and unload need of a mapped image, checked at load time. Offsets count
  // from the start of the region.
  struct Mapped {
    uint64_t entry = 0;
    uint64_t symtab = 0;
    uint64_t symbol_count = 0;
    uint64_t strtab = 0;
    uint64_t strtab_size = 0;
    uint64_t fini = 0;  // address relative to the base, 0 when absent
    uint64_t fini_array = 0;
    uint64_t fini_array_count = 0;
    bool attached = false;
  };

  void release();
  bool refuse(LoadFailure failure);

  uint8_t* region_ = nullptr;
  size_t size_ = 0;
  uintptr_t base_ = 0;
  Mapped mapped_{};
  LoadFailure failure_ = LoadFailure::kNone;
};

}  // namespace bridges
