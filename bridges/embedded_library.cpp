#include "bridges/embedded_library.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

extern char** environ;

namespace bridges {
namespace {

// Far above what the skin engine needs; keeps a malformed header from reserving gigabytes.
constexpr uint64_t kMaxImageSpan = uint64_t{64} << 20;
constexpr size_t kMaxProgramHeaders = 64;

uint64_t page_size() {
  static const uint64_t size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return size;
}

uint64_t page_down(uint64_t v) {
  return v & ~(page_size() - 1);
}

// Rounds up; false on overflow.
bool page_up(uint64_t v, uint64_t* out) {
  uint64_t sum = 0;
  if (__builtin_add_overflow(v, page_size() - 1, &sum))
    return false;
  *out = page_down(sum);
  return true;
}

// [offset, offset + size) lies within [0, length).
bool within(uint64_t offset, uint64_t size, uint64_t length) {
  uint64_t end = 0;
  return !__builtin_add_overflow(offset, size, &end) && end <= length;
}

// count * entry bytes without overflow.
bool table_size(uint64_t count, uint64_t entry, uint64_t* out) {
  return !__builtin_mul_overflow(count, entry, out);
}

// The mapped region seen through the image's own addresses: [low, low + span) in image
// addresses sits at region[0, span).
struct ImageView {
  uint8_t* region = nullptr;
  uint64_t low = 0;
  uint64_t span = 0;

  bool contains(uint64_t vaddr, uint64_t size) const {
    return vaddr >= low && within(vaddr - low, size, span);
  }
  uint8_t* at(uint64_t vaddr) const { return region + (vaddr - low); }
  uintptr_t base() const { return reinterpret_cast<uintptr_t>(region) - low; }

  template <typename T>
  bool read(uint64_t vaddr, T* out) const {
    if (!contains(vaddr, sizeof(T)))
      return false;
    std::memcpy(out, at(vaddr), sizeof(T));
    return true;
  }
  // A NUL-terminated name inside [table, table + table_size).
  const char* name(uint64_t table, uint64_t table_size, uint64_t offset) const {
    if (offset >= table_size || !contains(table, table_size))
      return nullptr;
    const uint8_t* start = at(table) + offset;
    if (std::memchr(start, 0, table_size - offset) == nullptr)
      return nullptr;
    return reinterpret_cast<const char*>(start);
  }
};

// The parts of the dynamic section the loader uses. Addresses are image addresses.
struct Dynamic {
  uint64_t strtab = 0, strsz = 0, symtab = 0, syment = sizeof(Elf64_Sym);
  uint64_t hash = 0, gnu_hash = 0;
  uint64_t rela = 0, relasz = 0, relaent = sizeof(Elf64_Rela);
  uint64_t jmprel = 0, pltrelsz = 0, pltrel = DT_RELA;
  uint64_t relr = 0, relrsz = 0, relrent = sizeof(Elf64_Xword);
  uint64_t init = 0, init_array = 0, init_arraysz = 0;
  uint64_t fini = 0, fini_array = 0, fini_arraysz = 0;
  bool has_rel = false;
  bool static_tls = false;
};

bool read_dynamic(const ImageView& image, const Elf64_Phdr& dyn, Dynamic* out) {
  const uint64_t count = dyn.p_memsz / sizeof(Elf64_Dyn);
  if (!image.contains(dyn.p_vaddr, count * sizeof(Elf64_Dyn)))
    return false;
  Dynamic d;
  for (uint64_t i = 0; i < count; ++i) {
    Elf64_Dyn e;
    std::memcpy(&e, image.at(dyn.p_vaddr) + i * sizeof e, sizeof e);
    const uint64_t v = e.d_un.d_val;
    switch (e.d_tag) {
      case DT_NULL:
        *out = d;
        return true;
      case DT_STRTAB:
        d.strtab = v;
        break;
      case DT_STRSZ:
        d.strsz = v;
        break;
      case DT_SYMTAB:
        d.symtab = v;
        break;
      case DT_SYMENT:
        d.syment = v;
        break;
      case DT_HASH:
        d.hash = v;
        break;
      case DT_GNU_HASH:
        d.gnu_hash = v;
        break;
      case DT_RELA:
        d.rela = v;
        break;
      case DT_RELASZ:
        d.relasz = v;
        break;
      case DT_RELAENT:
        d.relaent = v;
        break;
      case DT_JMPREL:
        d.jmprel = v;
        break;
      case DT_PLTRELSZ:
        d.pltrelsz = v;
        break;
      case DT_PLTREL:
        d.pltrel = v;
        break;
      case DT_RELR:
        d.relr = v;
        break;
      case DT_RELRSZ:
        d.relrsz = v;
        break;
      case DT_RELRENT:
        d.relrent = v;
        break;
      case DT_INIT:
        d.init = v;
        break;
      case DT_INIT_ARRAY:
        d.init_array = v;
        break;
      case DT_INIT_ARRAYSZ:
        d.init_arraysz = v;
        break;
      case DT_FINI:
        d.fini = v;
        break;
      case DT_FINI_ARRAY:
        d.fini_array = v;
        break;
      case DT_FINI_ARRAYSZ:
        d.fini_arraysz = v;
        break;
      case DT_REL:
      case DT_RELSZ:
        d.has_rel = true;
        break;
      case DT_FLAGS:
        d.static_tls = (v & DF_STATIC_TLS) != 0;
        break;
      default:
        break;  // needed libraries, versions, debug and the rest play no part here
    }
  }
  return false;  // no DT_NULL inside the segment
}

// The number of dynamic symbols, from the SysV hash table's chain count or by walking the GNU
// hash table to the end of its longest-numbered chain.
bool symbol_count(const ImageView& image, const Dynamic& d, uint64_t* count) {
  *count = 0;
  if (d.symtab == 0)
    return true;
  if (d.hash != 0) {
    uint32_t words[2];
    if (!image.read(d.hash, &words))
      return false;
    *count = words[1];
    return true;
  }
  if (d.gnu_hash == 0)
    return false;      // symbols without a way to count them
  uint32_t header[4];  // buckets, first hashed symbol, bloom words, bloom shift
  if (!image.read(d.gnu_hash, &header))
    return false;
  const uint64_t nbuckets = header[0], first = header[1], bloom = header[2];
  uint64_t buckets = 0;
  if (!table_size(bloom, 8, &buckets) || __builtin_add_overflow(buckets, 16, &buckets) ||
      __builtin_add_overflow(buckets, d.gnu_hash, &buckets))
    return false;
  if (!image.contains(buckets, nbuckets * 4))
    return false;  // nbuckets < 2^32: no overflow
  uint64_t last = 0;
  for (uint64_t i = 0; i < nbuckets; ++i) {
    uint32_t b = 0;
    std::memcpy(&b, image.at(buckets) + i * 4, 4);
    if (b > last)
      last = b;
  }
  if (last < first) {
    *count = first;
    return true;
  }
  const uint64_t chains = buckets + nbuckets * 4;
  for (uint64_t i = last;; ++i) {
    uint32_t value = 0;
    if (!image.read(chains + (i - first) * 4, &value))
      return false;
    if ((value & 1) != 0) {
      *count = i + 1;
      return true;
    }
  }
}

class Loader {
 public:
  Loader(const ImageView& image, const Dynamic& d, uint64_t symbols, ImportResolver resolver)
      : image_(image), d_(d), symbols_(symbols), resolver_(resolver) {}

  // kNone when every relocation was applied.
  LoadFailure relocate() {
    if (!relocate_table(d_.rela, d_.relasz) || !relocate_table(d_.jmprel, d_.pltrelsz) ||
        !apply_relr())
      return failure_;
    return LoadFailure::kNone;
  }

 private:
  bool refuse(LoadFailure failure) {
    failure_ = failure;
    return false;
  }

  bool symbol_value(uint64_t index, uint64_t* value) {
    *value = 0;
    if (index == 0)
      return true;
    if (index >= symbols_)
      return refuse(LoadFailure::kBadRelocation);
    Elf64_Sym sym;
    if (!image_.read(d_.symtab + index * sizeof sym, &sym))
      return refuse(LoadFailure::kBadRelocation);
    const unsigned type = ELF64_ST_TYPE(sym.st_info);
    if (type == STT_TLS)
      return refuse(LoadFailure::kThreadLocalStorage);
    if (type == STT_GNU_IFUNC)
      return refuse(LoadFailure::kUnsupportedRelocation);
    if (sym.st_shndx == SHN_ABS) {
      *value = sym.st_value;
      return true;
    }
    if (sym.st_shndx != SHN_UNDEF) {
      if (!image_.contains(sym.st_value, 0))
        return refuse(LoadFailure::kBadRelocation);
      *value = image_.base() + sym.st_value;
      return true;
    }
    const char* name = image_.name(d_.strtab, d_.strsz, sym.st_name);
    if (name == nullptr || *name == '\0')
      return refuse(LoadFailure::kBadRelocation);
    void* address = resolver_.find != nullptr ? resolver_.find(name, resolver_.context) : nullptr;
    if (address == nullptr)
      address = dlsym(RTLD_DEFAULT, name);
    if (address == nullptr) {
      if (ELF64_ST_BIND(sym.st_info) == STB_WEAK)
        return true;  // absent weak: 0
      return refuse(LoadFailure::kMissingSymbol);
    }
    *value = reinterpret_cast<uintptr_t>(address);
    return true;
  }

  bool relocate_table(uint64_t table, uint64_t size) {
    if (size == 0)
      return true;
    if (d_.relaent != sizeof(Elf64_Rela) || d_.pltrel != DT_RELA)
      return refuse(LoadFailure::kUnsupportedRelocation);
    if (!image_.contains(table, size))
      return refuse(LoadFailure::kBadRelocation);
    for (uint64_t i = 0; i < size / sizeof(Elf64_Rela); ++i) {
      Elf64_Rela r;
      std::memcpy(&r, image_.at(table) + i * sizeof r, sizeof r);
      if (!apply(r))
        return false;
    }
    return true;
  }

  bool apply(const Elf64_Rela& r) {
    const uint64_t type = ELF64_R_TYPE(r.r_info);
    if (type == R_X86_64_NONE)
      return true;
    if (!image_.contains(r.r_offset, sizeof(uint64_t)))
      return refuse(LoadFailure::kBadRelocation);
    const uint64_t addend = static_cast<uint64_t>(r.r_addend);
    uint64_t value = 0;
    switch (type) {
      case R_X86_64_RELATIVE:
        value = image_.base() + addend;
        break;
      case R_X86_64_64:
      case R_X86_64_GLOB_DAT:
      case R_X86_64_JUMP_SLOT:
        if (!symbol_value(ELF64_R_SYM(r.r_info), &value))
          return false;
        value += addend;
        break;
      default:
        // TLS, copy, indirect-function and 32-bit kinds: none of them belongs in the images this
        // loader maps, so the load fails rather than leave a slot unset.
        return refuse(LoadFailure::kUnsupportedRelocation);
    }
    std::memcpy(image_.at(r.r_offset), &value, sizeof value);
    return true;
  }

  // Packed relative relocations: an address entry, then bitmaps of the 63 words after it.
  bool apply_relr() {
    if (d_.relrsz == 0)
      return true;
    if (d_.relrent != sizeof(uint64_t))
      return refuse(LoadFailure::kUnsupportedRelocation);
    if (!image_.contains(d_.relr, d_.relrsz))
      return refuse(LoadFailure::kBadRelocation);
    uint64_t where = 0;
    for (uint64_t i = 0; i < d_.relrsz / 8; ++i) {
      uint64_t entry = 0;
      std::memcpy(&entry, image_.at(d_.relr) + i * 8, 8);
      if ((entry & 1) == 0) {
        if (!add_base(entry))
          return false;
        where = entry + 8;
        continue;
      }
      for (uint64_t bit = 1; bit < 64; ++bit) {
        if (((entry >> bit) & 1) != 0 && !add_base(where + (bit - 1) * 8))
          return false;
      }
      where += 63 * 8;
    }
    return true;
  }

  bool add_base(uint64_t vaddr) {
    uint64_t v = 0;
    if (!image_.read(vaddr, &v))
      return refuse(LoadFailure::kBadRelocation);
    v += image_.base();
    std::memcpy(image_.at(vaddr), &v, sizeof v);
    return true;
  }

  const ImageView& image_;
  const Dynamic& d_;
  uint64_t symbols_;
  ImportResolver resolver_;
  LoadFailure failure_ = LoadFailure::kNone;
};

int protection(uint32_t flags) {
  int p = PROT_NONE;
  if ((flags & PF_R) != 0)
    p |= PROT_READ;
  if ((flags & PF_W) != 0)
    p |= PROT_WRITE;
  if ((flags & PF_X) != 0)
    p |= PROT_EXEC;
  return p;
}

// Final protections page by page: the union of the segments on a page, read-only where the
// image asks for relocation read-only data, nothing where no segment lies.
LoadFailure protect(const ImageView& image, const Elf64_Phdr* ph, size_t count) {
  const uint64_t pages = image.span / page_size();
  std::vector<int> prot(pages, PROT_NONE);
  for (size_t i = 0; i < count; ++i) {
    if (ph[i].p_type != PT_LOAD || ph[i].p_memsz == 0)
      continue;
    uint64_t end = 0;
    if (!page_up(ph[i].p_vaddr + ph[i].p_memsz, &end))
      return LoadFailure::kBadSegment;  // checked at load
    for (uint64_t a = page_down(ph[i].p_vaddr); a < end; a += page_size()) {
      prot[(a - image.low) / page_size()] |= protection(ph[i].p_flags);
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (ph[i].p_type != PT_GNU_RELRO)
      continue;
    if (!image.contains(ph[i].p_vaddr, ph[i].p_memsz))
      return LoadFailure::kBadSegment;
    const uint64_t end = page_down(ph[i].p_vaddr + ph[i].p_memsz);
    for (uint64_t a = page_down(ph[i].p_vaddr); a < end; a += page_size()) {
      prot[(a - image.low) / page_size()] &= ~PROT_WRITE;
    }
  }
  uint64_t run = 0;
  for (uint64_t p = 1; p <= pages; ++p) {
    if (p < pages && prot[p] == prot[run])
      continue;
    if (mprotect(image.region + run * page_size(), (p - run) * page_size(), prot[run]) != 0)
      return LoadFailure::kProtectFailed;
    run = p;
  }
  return LoadFailure::kNone;
}

// Checks that an initialiser or finaliser table lies in the image and every entry points into
// executable code of the image (or is one of the "nothing here" values 0 and -1).
bool function_table(const ImageView& image, const Elf64_Phdr* ph, size_t count, uint64_t table,
                    uint64_t size, uint64_t* entries) {
  *entries = 0;
  if (size == 0)
    return true;
  if (size % 8 != 0 || !image.contains(table, size))
    return false;
  *entries = size / 8;
  for (uint64_t i = 0; i < *entries; ++i) {
    uint64_t f = 0;
    std::memcpy(&f, image.at(table) + i * 8, 8);
    if (f == 0 || f == ~uint64_t{0})
      continue;
    const uint64_t vaddr = f - image.base();
    bool code = false;
    for (size_t k = 0; k < count && !code; ++k) {
      code = ph[k].p_type == PT_LOAD && (ph[k].p_flags & PF_X) != 0 && vaddr >= ph[k].p_vaddr &&
             vaddr - ph[k].p_vaddr < ph[k].p_memsz;
    }
    if (!code)
      return false;
  }
  return true;
}

// [vaddr, vaddr + size) lies inside one loadable segment carrying all of `flags`, so it stays
// accessible that way after the final protections.
bool in_segment(const Elf64_Phdr* ph, size_t count, uint64_t vaddr, uint64_t size, uint32_t flags) {
  for (size_t k = 0; k < count; ++k) {
    if (ph[k].p_type == PT_LOAD && (ph[k].p_flags & flags) == flags && vaddr >= ph[k].p_vaddr &&
        within(vaddr - ph[k].p_vaddr, size, ph[k].p_memsz))
      return true;
  }
  return false;
}

bool code_address(const ImageView& image, const Elf64_Phdr* ph, size_t count, uint64_t vaddr) {
  for (size_t k = 0; k < count; ++k) {
    if (ph[k].p_type == PT_LOAD && (ph[k].p_flags & PF_X) != 0 && vaddr >= ph[k].p_vaddr &&
        vaddr - ph[k].p_vaddr < ph[k].p_memsz)
      return image.contains(vaddr, 1);
  }
  return false;
}

using InitFn = void (*)(int, char**, char**);
using FiniFn = void (*)();

void run_table(uintptr_t table_address, uint64_t entries, bool reverse) {
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t k = reverse ? entries - 1 - i : i;
    uint64_t f = 0;
    std::memcpy(&f, reinterpret_cast<const uint8_t*>(table_address) + k * 8, 8);
    if (f == 0 || f == ~uint64_t{0})
      continue;
    if (reverse) {
      reinterpret_cast<FiniFn>(f)();
    } else {
      reinterpret_cast<InitFn>(f)(0, nullptr, environ);
    }
  }
}

}  // namespace

const char* to_string(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::kNone:
      return "None";
    case LoadFailure::kTruncated:
      return "Truncated";
    case LoadFailure::kNotElf:
      return "NotElf";
    case LoadFailure::kWrongClass:
      return "WrongClass";
    case LoadFailure::kNotSharedObject:
      return "NotSharedObject";
    case LoadFailure::kWrongMachine:
      return "WrongMachine";
    case LoadFailure::kBadProgramHeaders:
      return "BadProgramHeaders";
    case LoadFailure::kThreadLocalStorage:
      return "ThreadLocalStorage";
    case LoadFailure::kBadSegment:
      return "BadSegment";
    case LoadFailure::kTooLarge:
      return "TooLarge";
    case LoadFailure::kMapFailed:
      return "MapFailed";
    case LoadFailure::kBadDynamic:
      return "BadDynamic";
    case LoadFailure::kBadSymbols:
      return "BadSymbols";
    case LoadFailure::kBadRelocation:
      return "BadRelocation";
    case LoadFailure::kUnsupportedRelocation:
      return "UnsupportedRelocation";
    case LoadFailure::kMissingSymbol:
      return "MissingSymbol";
    case LoadFailure::kBadInitialisers:
      return "BadInitialisers";
    case LoadFailure::kProtectFailed:
      return "ProtectFailed";
  }
  return "?";
}

bool EmbeddedLibrary::refuse(LoadFailure failure) {
  release();
  failure_ = failure;
  return false;
}

bool EmbeddedLibrary::load(std::span<const uint8_t> bytes, ImportResolver resolver, Attach attach) {
  unload();
  failure_ = LoadFailure::kNone;
  const uint64_t n = bytes.size();
  Elf64_Ehdr eh;
  if (n < sizeof eh)
    return refuse(LoadFailure::kTruncated);
  std::memcpy(&eh, bytes.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
    return refuse(LoadFailure::kNotElf);
  if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB ||
      eh.e_ident[EI_VERSION] != EV_CURRENT || eh.e_version != EV_CURRENT)
    return refuse(LoadFailure::kWrongClass);
  if (eh.e_type != ET_DYN)
    return refuse(LoadFailure::kNotSharedObject);
  if (eh.e_machine != EM_X86_64)
    return refuse(LoadFailure::kWrongMachine);
  if (eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum == 0 || eh.e_phnum > kMaxProgramHeaders)
    return refuse(LoadFailure::kBadProgramHeaders);
  if (!within(eh.e_phoff, uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr), n))
    return refuse(LoadFailure::kBadProgramHeaders);

  Elf64_Phdr ph[kMaxProgramHeaders];
  const size_t count = eh.e_phnum;
  std::memcpy(ph, bytes.data() + eh.e_phoff, count * sizeof(Elf64_Phdr));

  // The span of the loadable segments, and where each one's bytes come from.
  uint64_t low = UINT64_MAX, high = 0;
  const Elf64_Phdr* dynamic = nullptr;
  for (size_t i = 0; i < count; ++i) {
    const Elf64_Phdr& p = ph[i];
    // No thread-local storage for hand-mapped images.
    if (p.p_type == PT_TLS)
      return refuse(LoadFailure::kThreadLocalStorage);
    if (p.p_type == PT_DYNAMIC) {
      if (dynamic != nullptr)
        return refuse(LoadFailure::kBadDynamic);
      dynamic = &p;
    }
    if (p.p_type != PT_LOAD)
      continue;
    if (p.p_filesz > p.p_memsz)
      return refuse(LoadFailure::kBadSegment);
    if (p.p_memsz == 0)
      continue;
    uint64_t end = 0;
    if (!within(p.p_offset, p.p_filesz, n) || __builtin_add_overflow(p.p_vaddr, p.p_memsz, &end) ||
        !page_up(end, &end))
      return refuse(LoadFailure::kBadSegment);
    low = std::min(low, page_down(p.p_vaddr));
    high = std::max(high, end);
  }
  if (dynamic == nullptr)
    return refuse(LoadFailure::kBadDynamic);
  if (low >= high)
    return refuse(LoadFailure::kBadSegment);
  if (high - low > kMaxImageSpan)
    return refuse(LoadFailure::kTooLarge);

  void* region =
      mmap(nullptr, high - low, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED)
    return refuse(LoadFailure::kMapFailed);
  region_ = static_cast<uint8_t*>(region);
  size_ = high - low;
  const ImageView image{region_, low, high - low};
  for (size_t i = 0; i < count; ++i) {
    if (ph[i].p_type == PT_LOAD && ph[i].p_filesz != 0)
      std::memcpy(image.at(ph[i].p_vaddr), bytes.data() + ph[i].p_offset, ph[i].p_filesz);
  }

  Dynamic d;
  if (!read_dynamic(image, *dynamic, &d) || d.syment != sizeof(Elf64_Sym))
    return refuse(LoadFailure::kBadDynamic);
  if (d.has_rel)
    return refuse(LoadFailure::kUnsupportedRelocation);
  if (d.static_tls)
    return refuse(LoadFailure::kThreadLocalStorage);
  uint64_t symbols = 0;
  uint64_t symtab_bytes = 0;
  if (!symbol_count(image, d, &symbols) || !table_size(symbols, sizeof(Elf64_Sym), &symtab_bytes) ||
      (symbols != 0 && !image.contains(d.symtab, symtab_bytes)) ||
      (symbols != 0 && !image.contains(d.strtab, d.strsz)))
    return refuse(LoadFailure::kBadSymbols);
  Loader loader(image, d, symbols, resolver);
  if (const LoadFailure f = loader.relocate(); f != LoadFailure::kNone)
    return refuse(f);
  uint64_t inits = 0, finis = 0;
  if (!function_table(image, ph, count, d.init_array, d.init_arraysz, &inits) ||
      !function_table(image, ph, count, d.fini_array, d.fini_arraysz, &finis) ||
      (d.init != 0 && !code_address(image, ph, count, d.init)) ||
      (d.fini != 0 && !code_address(image, ph, count, d.fini)))
    return refuse(LoadFailure::kBadInitialisers);
  // Export lookup and unload read these tables after the final protections.
  if (symbols != 0 && (!in_segment(ph, count, d.symtab, symtab_bytes, PF_R) ||
                       !in_segment(ph, count, d.strtab, d.strsz, PF_R)))
    return refuse(LoadFailure::kBadSymbols);
  if ((finis != 0 && !in_segment(ph, count, d.fini_array, d.fini_arraysz, PF_R)) ||
      (inits != 0 && !in_segment(ph, count, d.init_array, d.init_arraysz, PF_R)))
    return refuse(LoadFailure::kBadInitialisers);
  if (const LoadFailure f = protect(image, ph, count); f != LoadFailure::kNone)
    return refuse(f);

  base_ = image.base();
  mapped_.entry = eh.e_entry;
  mapped_.symtab = d.symtab;
  mapped_.symbol_count = symbols;
  mapped_.strtab = d.strtab;
  mapped_.strtab_size = d.strsz;
  mapped_.fini = d.fini;
  mapped_.fini_array = d.fini_array;
  mapped_.fini_array_count = finis;
  if (attach == Attach::kRunInitialisers) {
    mapped_.attached = true;
    if (d.init != 0)
      reinterpret_cast<InitFn>(base_ + d.init)(0, nullptr, environ);
    run_table(base_ + d.init_array, inits, false);
  }
  return true;
}

bool EmbeddedLibrary::unload() {
  if (region_ == nullptr)
    return true;
  if (mapped_.attached) {
    run_table(base_ + mapped_.fini_array, mapped_.fini_array_count, true);
    if (mapped_.fini != 0)
      reinterpret_cast<FiniFn>(base_ + mapped_.fini)();
  }
  release();
  return true;
}

void EmbeddedLibrary::release() {
  if (region_ != nullptr)
    munmap(region_, size_);
  region_ = nullptr;
  size_ = 0;
  base_ = 0;
  mapped_ = {};
}

void* EmbeddedLibrary::export_by_name(const char* name) const {
  if (region_ == nullptr || name == nullptr)
    return nullptr;
  const ImageView image{region_, reinterpret_cast<uintptr_t>(region_) - base_, size_};
  for (uint64_t i = 1; i < mapped_.symbol_count; ++i) {
    Elf64_Sym sym;
    if (!image.read(mapped_.symtab + i * sizeof sym, &sym))
      return nullptr;
    const unsigned bind = ELF64_ST_BIND(sym.st_info);
    const unsigned type = ELF64_ST_TYPE(sym.st_info);
    if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK) ||
        (type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE) ||
        ELF64_ST_VISIBILITY(sym.st_other) == STV_HIDDEN ||
        ELF64_ST_VISIBILITY(sym.st_other) == STV_INTERNAL)
      continue;
    const char* symbol = image.name(mapped_.strtab, mapped_.strtab_size, sym.st_name);
    if (symbol == nullptr || std::strcmp(symbol, name) != 0)
      continue;
    if (!image.contains(sym.st_value, 1))
      return nullptr;
    return reinterpret_cast<void*>(base_ + sym.st_value);
  }
  return nullptr;
}

uintptr_t EmbeddedLibrary::entry_point() const {
  return region_ == nullptr ? 0 : base_ + mapped_.entry;
}

}  // namespace bridges
