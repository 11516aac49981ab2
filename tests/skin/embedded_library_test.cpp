// The in-memory loader with real images: the skin engine the program carries, and a tiny probe
// library whose attach and detach counters live here and reach it only through the resolver.
#include <gtest/gtest.h>

#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bridges/embedded_library.h"
#include "runtime/value.h"
#include "skin/skin.h"

// Looked up by name by the probe library, through the resolver only.
int ff_probe_attach_count = 0;
int ff_probe_detach_count = 0;

namespace skin_test {
extern const uint8_t kProbeBlock[];
// The probe with its pointer tables, linked with packed relative relocations, with only the SysV
// hash table, and with relocation read-only data bound at load time.
extern const uint8_t kProbeRelrBlock[];
extern const uint8_t kProbeSysvBlock[];
extern const uint8_t kProbeRelroBlock[];
}  // namespace skin_test

namespace {

using bridges::Attach;
using bridges::EmbeddedLibrary;
using bridges::ImportResolver;

std::vector<uint8_t> image_of(const uint8_t* block) {
  const std::span<const uint8_t> bytes = rt::bytes_view(block);
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> probe_image() {
  return image_of(skin_test::kProbeBlock);
}

size_t fake_strlen(const char*) {
  return 7;
}

// Gives the probe its counters; records every name asked; optionally stands in for strlen.
struct ProbeResolver {
  std::vector<std::string> asked;
  bool replace_strlen = false;

  static void* find(const char* name, void* context) {
    auto* self = static_cast<ProbeResolver*>(context);
    self->asked.emplace_back(name);
    if (std::strcmp(name, "ff_probe_attach_count") == 0)
      return &ff_probe_attach_count;
    if (std::strcmp(name, "ff_probe_detach_count") == 0)
      return &ff_probe_detach_count;
    if (self->replace_strlen && std::strcmp(name, "strlen") == 0)
      return reinterpret_cast<void*>(&fake_strlen);
    return nullptr;
  }
  ImportResolver resolver() { return {&ProbeResolver::find, this}; }
};

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    ff_probe_attach_count = 0;
    ff_probe_detach_count = 0;
  }
  void TearDown() override { library.unload(); }

  template <typename T>
  T exported(const char* name) const {
    return reinterpret_cast<T>(library.export_by_name(name));
  }
  void expect_nothing_mapped() const {
    EXPECT_EQ(library.image_base(), 0u);
    EXPECT_EQ(library.mapped_size(), 0u);
    EXPECT_EQ(library.entry_point(), 0u);
    EXPECT_EQ(library.export_by_name("ff_probe_answer"), nullptr);
  }

  EmbeddedLibrary library;
  ProbeResolver probe;
};

// --- The image's own structure, for making altered copies ---

Elf64_Ehdr header_of(const std::vector<uint8_t>& image) {
  Elf64_Ehdr h;
  std::memcpy(&h, image.data(), sizeof h);
  return h;
}

Elf64_Phdr program_header(const std::vector<uint8_t>& image, size_t i) {
  Elf64_Phdr p;
  std::memcpy(&p, image.data() + header_of(image).e_phoff + i * sizeof p, sizeof p);
  return p;
}

void put_program_header(std::vector<uint8_t>& image, size_t i, const Elf64_Phdr& p) {
  std::memcpy(image.data() + header_of(image).e_phoff + i * sizeof p, &p, sizeof p);
}

size_t find_segment(const std::vector<uint8_t>& image, uint32_t type) {
  for (size_t i = 0; i < header_of(image).e_phnum; ++i) {
    if (program_header(image, i).p_type == type)
      return i;
  }
  return SIZE_MAX;
}

// File offset of an image address inside a loadable segment's file bytes.
size_t file_offset(const std::vector<uint8_t>& image, uint64_t vaddr) {
  for (size_t i = 0; i < header_of(image).e_phnum; ++i) {
    const Elf64_Phdr p = program_header(image, i);
    if (p.p_type == PT_LOAD && vaddr >= p.p_vaddr && vaddr - p.p_vaddr < p.p_filesz)
      return p.p_offset + (vaddr - p.p_vaddr);
  }
  return SIZE_MAX;
}

// The value of a dynamic tag, 0 when absent.
uint64_t dynamic_value(const std::vector<uint8_t>& image, int64_t tag) {
  const Elf64_Phdr dyn = program_header(image, find_segment(image, PT_DYNAMIC));
  for (uint64_t at = dyn.p_offset; at + sizeof(Elf64_Dyn) <= dyn.p_offset + dyn.p_filesz;
       at += sizeof(Elf64_Dyn)) {
    Elf64_Dyn d;
    std::memcpy(&d, image.data() + at, sizeof d);
    if (d.d_tag == tag)
      return d.d_un.d_val;
  }
  return 0;
}

// Gives the first dynamic entry with `tag` a new value.
void set_dynamic_value(std::vector<uint8_t>& image, int64_t tag, uint64_t value) {
  const Elf64_Phdr dyn = program_header(image, find_segment(image, PT_DYNAMIC));
  for (uint64_t at = dyn.p_offset; at + sizeof(Elf64_Dyn) <= dyn.p_offset + dyn.p_filesz;
       at += sizeof(Elf64_Dyn)) {
    Elf64_Dyn d;
    std::memcpy(&d, image.data() + at, sizeof d);
    if (d.d_tag != tag)
      continue;
    d.d_un.d_val = value;
    std::memcpy(image.data() + at, &d, sizeof d);
    return;
  }
  FAIL() << "no dynamic entry " << tag;
}

// End of the last loadable segment's bytes in the file: a copy cut anywhere before it is short.
size_t loadable_end(const std::vector<uint8_t>& image) {
  size_t end = header_of(image).e_phoff + header_of(image).e_phnum * sizeof(Elf64_Phdr);
  for (size_t i = 0; i < header_of(image).e_phnum; ++i) {
    const Elf64_Phdr p = program_header(image, i);
    if (p.p_type == PT_LOAD)
      end = std::max<size_t>(end, p.p_offset + p.p_filesz);
  }
  return end;
}

// --- The engine the program carries ---

TEST_F(Loader, TheEmbeddedEngineMapsAndExportsItsEntryByExactName) {
  ASSERT_TRUE(skin::load_engine(library));
  const uintptr_t base = library.image_base();
  ASSERT_NE(base, 0u);
  EXPECT_EQ(base % 4096, 0u);
  const auto in_image = [&](const void* p) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    return a >= base && a < base + library.mapped_size();
  };
  EXPECT_TRUE(in_image(library.export_by_name("SkinH_AttachRes")));
  EXPECT_EQ(library.entry_point(),
            base + header_of(std::vector<uint8_t>(skin::engine_image().begin(),
                                                  skin::engine_image().end()))
                       .e_entry);
  for (const char* other : {"skinh_attachres", "SKINH_ATTACHRES", "SkinH_Attachres",
                            "SkinH_AttachRe", "SkinH_AttachResX", "", "malloc"}) {
    EXPECT_EQ(library.export_by_name(other), nullptr) << other;
  }
  EXPECT_TRUE(library.unload());
  EXPECT_EQ(library.image_base(), 0u);
  EXPECT_EQ(library.export_by_name("SkinH_AttachRes"), nullptr);
}

TEST_F(Loader, TheEngineUsesOnlyRelocationKindsTheLoaderHandles) {
  // Guards the build: a compiler or linker change that brings new relocation kinds into the
  // engine shows here rather than as a program that starts without its skin.
  const std::vector<uint8_t> image(skin::engine_image().begin(), skin::engine_image().end());
  const std::set<uint32_t> handled = {R_X86_64_RELATIVE, R_X86_64_64, R_X86_64_GLOB_DAT,
                                      R_X86_64_JUMP_SLOT};
  for (const auto& [table, size] : {std::pair{DT_RELA, DT_RELASZ}, {DT_JMPREL, DT_PLTRELSZ}}) {
    const size_t at = file_offset(image, dynamic_value(image, table));
    const uint64_t bytes = dynamic_value(image, size);
    for (uint64_t i = 0; i < bytes / sizeof(Elf64_Rela); ++i) {
      Elf64_Rela r;
      std::memcpy(&r, image.data() + at + i * sizeof r, sizeof r);
      EXPECT_TRUE(handled.count(static_cast<uint32_t>(ELF64_R_TYPE(r.r_info))))
          << "relocation kind " << ELF64_R_TYPE(r.r_info);
    }
  }
}

// --- The probe library ---

TEST_F(Loader, AttachRunsTheInitialisersAndRelocatesEveryKind) {
  ASSERT_TRUE(library.load(probe_image(), probe.resolver()));
  EXPECT_EQ(ff_probe_attach_count, 1);
  EXPECT_EQ(ff_probe_detach_count, 0);
  EXPECT_EQ(exported<int (*)()>("ff_probe_answer")(), 42);              // code runs from the region
  EXPECT_EQ((*exported<int (**)()>("ff_probe_hook"))(), 42);            // absolute 64-bit
  EXPECT_STREQ(*exported<const char**>("ff_probe_greeting"), "probe");  // relative
  EXPECT_EQ(exported<size_t (*)(const char*)>("ff_probe_length")("abc"), 3u);  // jump slot
  EXPECT_EQ(library.export_by_name("FF_PROBE_ANSWER"), nullptr);
  EXPECT_EQ(library.export_by_name("probe_attach"), nullptr) << "local symbols are not exports";
}

TEST_F(Loader, UnloadRunsTheFinalisersOnce) {
  ASSERT_TRUE(library.load(probe_image(), probe.resolver()));
  EXPECT_TRUE(library.unload());
  EXPECT_EQ(ff_probe_detach_count, 1);
  expect_nothing_mapped();
  EXPECT_TRUE(library.unload()) << "nothing loaded is fine";
  EXPECT_EQ(ff_probe_detach_count, 1);
}

TEST_F(Loader, MapOnlyRunsNeitherInitialisersNorFinalisers) {
  ASSERT_TRUE(library.load(probe_image(), probe.resolver(), Attach::kMapOnly));
  EXPECT_EQ(exported<int (*)()>("ff_probe_answer")(), 42);
  library.unload();
  EXPECT_EQ(ff_probe_attach_count, 0);
  EXPECT_EQ(ff_probe_detach_count, 0);
}

TEST_F(Loader, TheResolverIsAskedBeforeTheProcessSymbols) {
  probe.replace_strlen = true;
  ASSERT_TRUE(library.load(probe_image(), probe.resolver()));
  EXPECT_EQ(exported<size_t (*)(const char*)>("ff_probe_length")("abc"), 7u);
  EXPECT_NE(std::find(probe.asked.begin(), probe.asked.end(), "strlen"), probe.asked.end());
}

TEST_F(Loader, AnImportNothingProvidesFailsTheLoad) {
  EXPECT_FALSE(library.load(probe_image()));  // the counters come only from the resolver
  expect_nothing_mapped();
  EXPECT_EQ(ff_probe_attach_count, 0);
}

TEST_F(Loader, ASecondLoadUnloadsTheFirst) {
  ASSERT_TRUE(library.load(probe_image(), probe.resolver()));
  ASSERT_TRUE(skin::load_engine(library));
  EXPECT_EQ(ff_probe_detach_count, 1);
  EXPECT_EQ(library.export_by_name("ff_probe_answer"), nullptr);
  EXPECT_NE(library.export_by_name("SkinH_AttachRes"), nullptr);
}

TEST_F(Loader, ASecondLoadThatFailsStillUnloadsTheFirst) {
  ASSERT_TRUE(library.load(probe_image(), probe.resolver()));
  EXPECT_FALSE(library.load(std::vector<uint8_t>(10, 0)));
  EXPECT_EQ(ff_probe_detach_count, 1);
  expect_nothing_mapped();
}

// --- Cut and altered copies ---

struct Alteration {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> change;
};

class AlteredCopies : public Loader, public ::testing::WithParamInterface<Alteration> {};

TEST_P(AlteredCopies, FailCleanlyWithBaseZero) {
  std::vector<uint8_t> image = probe_image();
  GetParam().change(image);
  EXPECT_FALSE(library.load(image, probe.resolver()));
  expect_nothing_mapped();
  EXPECT_EQ(ff_probe_attach_count, 0);
}

void set_phdr(std::vector<uint8_t>& image, uint32_t type,
              const std::function<void(Elf64_Phdr&)>& change) {
  const size_t i = find_segment(image, type);
  ASSERT_NE(i, SIZE_MAX);
  Elf64_Phdr p = program_header(image, i);
  change(p);
  put_program_header(image, i, p);
}

// The first entry of the general relocation table, with a new kind.
void set_first_relocation_kind(std::vector<uint8_t>& image, uint32_t kind) {
  const size_t at = file_offset(image, dynamic_value(image, DT_RELA));
  ASSERT_NE(at, SIZE_MAX);
  Elf64_Rela r;
  std::memcpy(&r, image.data() + at, sizeof r);
  r.r_info = ELF64_R_INFO(ELF64_R_SYM(r.r_info), kind);
  std::memcpy(image.data() + at, &r, sizeof r);
}

template <typename T>
void poke(std::vector<uint8_t>& image, size_t at, T value) {
  std::memcpy(image.data() + at, &value, sizeof value);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, AlteredCopies,
    ::testing::Values(
        Alteration{"Empty", [](auto& b) { b.clear(); }},
        Alteration{"ShorterThanTheHeader", [](auto& b) { b.resize(63); }},
        Alteration{"BadMagic",
                   [](auto& b) {
                     b[0] = 'M';
                     b[1] = 'Z';
                   }},
        Alteration{"ThirtyTwoBitClass", [](auto& b) { b[EI_CLASS] = ELFCLASS32; }},
        Alteration{"BigEndian", [](auto& b) { b[EI_DATA] = ELFDATA2MSB; }},
        Alteration{"OtherMachine",
                   [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_machine), EM_AARCH64); }},
        Alteration{"AnExecutable",
                   [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_type), ET_EXEC); }},
        Alteration{"ProgramHeadersPastTheEnd",
                   [](auto& b) { poke<uint64_t>(b, offsetof(Elf64_Ehdr, e_phoff), b.size() - 8); }},
        Alteration{
            "ProgramHeaderOffsetWrapsAround",
            [](auto& b) { poke<uint64_t>(b, offsetof(Elf64_Ehdr, e_phoff), ~uint64_t{0} - 8); }},
        Alteration{"CutInsideTheProgramHeaders",
                   [](auto& b) { b.resize(header_of(b).e_phoff + sizeof(Elf64_Phdr) + 3); }},
        Alteration{"CutInsideTheLastSegment", [](auto& b) { b.resize(loadable_end(b) - 1); }},
        Alteration{"OddProgramHeaderSize",
                   [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_phentsize), 40); }},
        Alteration{"SegmentBytesPastTheEnd",
                   [](auto& b) {
                     set_phdr(b, PT_LOAD, [n = b.size()](Elf64_Phdr& p) { p.p_offset = n; });
                   }},
        Alteration{"MoreFileBytesThanMemory",
                   [](auto& b) {
                     set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_memsz = p.p_filesz - 1; });
                   }},
        Alteration{"HugeSegment",
                   [](auto& b) {
                     set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_memsz = uint64_t{1} << 40; });
                   }},
        Alteration{
            "NoDynamicSection",
            [](auto& b) { set_phdr(b, PT_DYNAMIC, [](Elf64_Phdr& p) { p.p_type = PT_NULL; }); }},
        Alteration{"DynamicSectionOutsideTheImage",
                   [](auto& b) {
                     set_phdr(b, PT_DYNAMIC, [](Elf64_Phdr& p) { p.p_vaddr = uint64_t{1} << 33; });
                   }},
        Alteration{
            "ThreadLocalStorage",
            [](auto& b) { set_phdr(b, PT_GNU_STACK, [](Elf64_Phdr& p) { p.p_type = PT_TLS; }); }},
        // Found by fuzzing: symbols in a segment without read access were read by the export
        // walk after the final protections.
        Alteration{"SymbolTableInAnUnreadableSegment",
                   [](auto& b) { set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_flags = 0; }); }},
        Alteration{"UnhandledRelocationKind",
                   [](auto& b) { set_first_relocation_kind(b, R_X86_64_PC32); }},
        Alteration{"ThreadLocalRelocation",
                   [](auto& b) { set_first_relocation_kind(b, R_X86_64_DTPMOD64); }}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(Loader, EveryPrefixShorterThanTheSegmentsFailsAndTheRestMaps) {
  const std::vector<uint8_t> image = probe_image();
  const size_t needed = loadable_end(image);
  ASSERT_LE(needed, image.size());
  for (size_t n = 0; n <= image.size(); ++n) {
    const bool loaded =
        library.load(std::span(image.data(), n), probe.resolver(), Attach::kMapOnly);
    ASSERT_EQ(loaded, n >= needed) << "prefix of " << n << " bytes";
    ASSERT_EQ(library.image_base() != 0, loaded);
  }
}

// --- The probe linked other ways ---

uint64_t page_bytes() {
  return static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// The defined global symbols the image lists, read through its section headers rather than
// through the hash table the loader counts symbols with.
std::vector<std::pair<std::string, uint64_t>> listed_exports(const std::vector<uint8_t>& image) {
  const Elf64_Ehdr h = header_of(image);
  std::vector<std::pair<std::string, uint64_t>> out;
  if (h.e_shoff + uint64_t{h.e_shnum} * sizeof(Elf64_Shdr) > image.size())
    return out;
  const auto section = [&](size_t i) {
    Elf64_Shdr s;
    std::memcpy(&s, image.data() + h.e_shoff + i * sizeof s, sizeof s);
    return s;
  };
  for (size_t i = 0; i < h.e_shnum; ++i) {
    const Elf64_Shdr symbols = section(i);
    if (symbols.sh_type != SHT_DYNSYM)
      continue;
    const Elf64_Shdr names = section(symbols.sh_link);
    for (uint64_t k = 1; k < symbols.sh_size / sizeof(Elf64_Sym); ++k) {
      Elf64_Sym sym;
      std::memcpy(&sym, image.data() + symbols.sh_offset + k * sizeof sym, sizeof sym);
      if (sym.st_shndx == SHN_UNDEF || ELF64_ST_BIND(sym.st_info) != STB_GLOBAL)
        continue;
      out.emplace_back(reinterpret_cast<const char*>(image.data() + names.sh_offset + sym.st_name),
                       sym.st_value);
    }
  }
  return out;
}

uint64_t listed_address(const std::vector<uint8_t>& image, const std::string& name) {
  for (const auto& [symbol, value] : listed_exports(image)) {
    if (symbol == name)
      return value;
  }
  return 0;
}

// How many entries of the general relocation table are of `kind`.
size_t relocations_of_kind(const std::vector<uint8_t>& image, uint32_t kind) {
  const size_t at = file_offset(image, dynamic_value(image, DT_RELA));
  size_t n = 0;
  for (uint64_t i = 0; i < dynamic_value(image, DT_RELASZ) / sizeof(Elf64_Rela); ++i) {
    Elf64_Rela r;
    std::memcpy(&r, image.data() + at + i * sizeof r, sizeof r);
    if (ELF64_R_TYPE(r.r_info) == kind)
      ++n;
  }
  return n;
}

// The packed relative relocation list as the file holds it.
std::vector<uint64_t> packed_list(const std::vector<uint8_t>& image) {
  const size_t at = file_offset(image, dynamic_value(image, DT_RELR));
  std::vector<uint64_t> list(dynamic_value(image, DT_RELRSZ) / 8);
  if (at != SIZE_MAX && at + list.size() * 8 <= image.size())
    std::memcpy(list.data(), image.data() + at, list.size() * 8);
  return list;
}

// The permissions /proc/self/maps shows for the page holding `address` ("r--p" and so on), empty
// when nothing is mapped there.
std::string page_permissions(uintptr_t address) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    uintptr_t start = 0, end = 0;
    char dash = 0;
    std::string permissions;
    fields >> std::hex >> start >> dash >> end >> permissions;
    if (address >= start && address < end)
      return permissions;
  }
  return {};
}

struct Variant {
  const char* name;
  const uint8_t* block;
  // Fails the test unless the image really carries what the variant is built for.
  std::function<void(const std::vector<uint8_t>&)> carries;
};

class ProbeVariants : public Loader, public ::testing::WithParamInterface<Variant> {};

// Laid out as ff_probe_pairs and ff_probe_far in the probe.
struct ProbePair {
  const int* cell;
  long number;
};
struct ProbeFar {
  const int* head;
  long gap[200];
  const int* tail;
};

TEST_P(ProbeVariants, MapRelocateAndFindEveryExportTheImageLists) {
  const std::vector<uint8_t> image = image_of(GetParam().block);
  GetParam().carries(image);
  if (HasFatalFailure())
    return;

  ASSERT_TRUE(library.load(image, probe.resolver()));
  EXPECT_EQ(ff_probe_attach_count, 1) << "the initialiser table is relocated";
  const uintptr_t base = library.image_base();

  // The loader walks as many symbols as the image's hash table counts: every one it lists is
  // found, at its own address.
  const auto listed = listed_exports(image);
  EXPECT_EQ(listed.size(), 9u);
  for (const auto& [name, value] : listed) {
    EXPECT_EQ(library.export_by_name(name.c_str()), reinterpret_cast<void*>(base + value)) << name;
  }
  for (const char* other : {"ff_probe_cel", "ff_probe_cellsX", "FF_PROBE_PAIRS", "cells",
                            "ff_probe_attach_count", "strlen"}) {
    EXPECT_EQ(library.export_by_name(other), nullptr) << other;
  }

  const auto answer = exported<int (*)()>("ff_probe_answer");
  const auto hook = exported<int (**)()>("ff_probe_hook");
  const auto greeting = exported<const char**>("ff_probe_greeting");
  const auto fixed = exported<const char* const*>("ff_probe_fixed_greeting");
  const auto length = exported<size_t (*)(const char*)>("ff_probe_length");
  const auto cell = exported<const int* (*)(int)>("ff_probe_cell");
  const auto cells = exported<const int* const*>("ff_probe_cells");
  const auto pairs = exported<const ProbePair*>("ff_probe_pairs");
  const auto far = exported<const ProbeFar*>("ff_probe_far");
  ASSERT_TRUE(answer && hook && greeting && fixed && length && cell && cells && pairs && far);
  EXPECT_EQ(*hook, answer);       // absolute
  EXPECT_EQ(length("abcd"), 4u);  // jump slot
  const auto in_image = [&](const void* p) {
    return reinterpret_cast<uintptr_t>(p) - base < library.mapped_size();
  };
  ASSERT_TRUE(in_image(*greeting));  // relative, writable data
  EXPECT_STREQ(*greeting, "probe");
  ASSERT_TRUE(in_image(*fixed));  // relative, relocation read-only data
  EXPECT_STREQ(*fixed, "fixed");
  // A run of 150 relocated words, pointers with untouched numbers between them, and two
  // pointers far from each other.
  for (int i = 0; i < 150; ++i) ASSERT_EQ(cells[i], cell(i)) << "cell " << i;
  for (int i = 0; i < 80; ++i) {
    ASSERT_EQ(pairs[i].cell, cell(i)) << "pair " << i;
    ASSERT_EQ(pairs[i].number, i) << "pair " << i;
  }
  EXPECT_EQ(far->head, cell(0));
  EXPECT_EQ(far->tail, cell(149));
  EXPECT_EQ(std::count(std::begin(far->gap), std::end(far->gap), 0L), 200);

  EXPECT_TRUE(library.unload());
  EXPECT_EQ(ff_probe_detach_count, 1) << "the finaliser table is relocated";
}

INSTANTIATE_TEST_SUITE_P(
    Loader, ProbeVariants,
    ::testing::Values(Variant{"PackedRelativeRelocations", skin_test::kProbeRelrBlock,
                              [](const std::vector<uint8_t>& image) {
                                ASSERT_NE(dynamic_value(image, DT_RELR), 0u);
                                ASSERT_EQ(dynamic_value(image, DT_RELRENT), 8u);
                                ASSERT_EQ(relocations_of_kind(image, R_X86_64_RELATIVE), 0u)
                                    << "every relative relocation comes from the packed list";
                                const std::vector<uint64_t> list = packed_list(image);
                                const auto bitmaps =
                                    std::count_if(list.begin(), list.end(),
                                                  [](uint64_t e) { return (e & 1) != 0; });
                                ASSERT_GE(bitmaps, 3) << "150 words in a row take three bitmaps";
                                ASSERT_GE(list.size() - static_cast<size_t>(bitmaps), 2u)
                                    << "and the list restarts at a second address";
                              }},
                      Variant{"OnlyTheSysvHashTable", skin_test::kProbeSysvBlock,
                              [](const std::vector<uint8_t>& image) {
                                ASSERT_NE(dynamic_value(image, DT_HASH), 0u);
                                ASSERT_EQ(dynamic_value(image, DT_GNU_HASH), 0u);
                                ASSERT_EQ(dynamic_value(image, DT_RELR), 0u);
                              }},
                      Variant{"RelocationReadOnlyBoundNow", skin_test::kProbeRelroBlock,
                              [](const std::vector<uint8_t>& image) {
                                ASSERT_NE(find_segment(image, PT_GNU_RELRO), SIZE_MAX);
                                ASSERT_NE(dynamic_value(image, DT_FLAGS) & DF_BIND_NOW, 0u);
                                ASSERT_NE(dynamic_value(image, DT_GNU_HASH), 0u);
                                ASSERT_EQ(dynamic_value(image, DT_RELR), 0u);
                              }}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(Loader, RelocationReadOnlyPagesLoseWriteAccessOnceRelocated) {
  std::vector<uint8_t> image = image_of(skin_test::kProbeRelroBlock);
  const size_t segment = find_segment(image, PT_GNU_RELRO);
  ASSERT_NE(segment, SIZE_MAX);
  const Elf64_Phdr relro = program_header(image, segment);
  const uint64_t page = page_bytes();
  const uint64_t first = relro.p_vaddr & ~(page - 1);
  const uint64_t end = (relro.p_vaddr + relro.p_memsz) & ~(page - 1);
  const uint64_t fixed = listed_address(image, "ff_probe_fixed_greeting");
  ASSERT_LT(first, end) << "the segment covers a whole page";
  ASSERT_TRUE(fixed >= first && fixed < end) << "the constant pointer lies on a protected page";

  ASSERT_TRUE(library.load(image, probe.resolver()));
  const uintptr_t base = library.image_base();
  for (uint64_t a = first; a < end; a += page) {
    EXPECT_EQ(page_permissions(base + a), "r--p") << "page at image address " << std::hex << a;
  }
  // Written before the protection: the bound imports the initialiser reaches its counter
  // through, and the constant pointers.
  EXPECT_EQ(ff_probe_attach_count, 1);
  const auto fixed_slot = exported<const char* const*>("ff_probe_fixed_greeting");
  ASSERT_EQ(reinterpret_cast<uintptr_t>(fixed_slot), base + fixed);
  EXPECT_STREQ(*fixed_slot, "fixed");
  // The rest of the image keeps the protection its segments ask for.
  EXPECT_EQ(page_permissions(base + listed_address(image, "ff_probe_greeting")), "rw-p");
  EXPECT_EQ(page_permissions(base + listed_address(image, "ff_probe_answer")), "r-xp");

  // A segment that ends inside a page leaves that page writable, as it may hold data written
  // later; and without the segment the pages stay writable too.
  set_phdr(image, PT_GNU_RELRO, [](Elf64_Phdr& p) { p.p_memsz -= 8; });
  ASSERT_TRUE(library.load(image, probe.resolver()));
  EXPECT_EQ(page_permissions(library.image_base() + end - page), "rw-p");
  set_phdr(image, PT_GNU_RELRO, [](Elf64_Phdr& p) { p.p_type = PT_NULL; });
  ASSERT_TRUE(library.load(image, probe.resolver()));
  EXPECT_EQ(page_permissions(library.image_base() + fixed), "rw-p");
}

struct VariantAlteration {
  const char* name;
  const uint8_t* block;
  std::function<void(std::vector<uint8_t>&)> change;
};

class AlteredVariants : public Loader, public ::testing::WithParamInterface<VariantAlteration> {};

TEST_P(AlteredVariants, FailCleanlyWithBaseZero) {
  std::vector<uint8_t> image = image_of(GetParam().block);
  GetParam().change(image);
  if (HasFatalFailure())
    return;
  EXPECT_FALSE(library.load(image, probe.resolver()));
  expect_nothing_mapped();
  EXPECT_EQ(ff_probe_attach_count, 0);
}

// Overwrites the packed list's second address entry, where the list restarts after its first
// bitmaps: what the loader has done by then is fine, so only this entry can fail the load.
void set_second_packed_address(std::vector<uint8_t>& image, uint64_t address) {
  const size_t at = file_offset(image, dynamic_value(image, DT_RELR));
  ASSERT_NE(at, SIZE_MAX);
  const std::vector<uint64_t> list = packed_list(image);
  for (size_t i = 1; i < list.size(); ++i) {
    if ((list[i] & 1) == 0)
      return poke<uint64_t>(image, at + i * 8, address);
  }
  FAIL() << "the packed list has one address entry";
}

// The image address just past the last loadable segment's page.
uint64_t image_end(const std::vector<uint8_t>& image) {
  uint64_t end = 0;
  for (size_t i = 0; i < header_of(image).e_phnum; ++i) {
    const Elf64_Phdr p = program_header(image, i);
    if (p.p_type == PT_LOAD)
      end = std::max(end, p.p_vaddr + p.p_memsz);
  }
  return (end + page_bytes() - 1) & ~(page_bytes() - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, AlteredVariants,
    ::testing::Values(
        VariantAlteration{"PackedEntriesOfSixteenBytes", skin_test::kProbeRelrBlock,
                          [](auto& b) { set_dynamic_value(b, DT_RELRENT, 16); }},
        VariantAlteration{"PackedAddressOutsideTheImage", skin_test::kProbeRelrBlock,
                          [](auto& b) { set_second_packed_address(b, uint64_t{1} << 40); }},
        // The next entry is a bitmap: its words run past the last page.
        VariantAlteration{"PackedBitmapRunsPastTheImage", skin_test::kProbeRelrBlock,
                          [](auto& b) { set_second_packed_address(b, image_end(b) - 8); }},
        VariantAlteration{"HashTableOutsideTheImage", skin_test::kProbeSysvBlock,
                          [](auto& b) { set_dynamic_value(b, DT_HASH, uint64_t{1} << 40); }},
        VariantAlteration{"HashTableCountsMoreSymbolsThanTheImageHolds", skin_test::kProbeSysvBlock,
                          [](auto& b) {
                            const size_t at = file_offset(b, dynamic_value(b, DT_HASH));
                            ASSERT_NE(at, SIZE_MAX);
                            poke<uint32_t>(b, at + 4, 0x10000000);  // the chain count
                          }}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// --- Why a load failed ---

using bridges::LoadFailure;

struct Refusal {
  const char* name;
  const uint8_t* block;
  std::function<void(std::vector<uint8_t>&)> change;
  LoadFailure reason;
};

class Refusals : public Loader, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, NameTheCheckThatRefusedTheImage) {
  std::vector<uint8_t> image = image_of(GetParam().block);
  GetParam().change(image);
  if (HasFatalFailure())
    return;
  EXPECT_FALSE(library.load(image, probe.resolver()));
  EXPECT_EQ(library.failure(), GetParam().reason) << to_string(library.failure());
  expect_nothing_mapped();
}

// The first general relocation, changed.
void change_first_relocation(std::vector<uint8_t>& image,
                             const std::function<void(Elf64_Rela&)>& change) {
  const size_t at = file_offset(image, dynamic_value(image, DT_RELA));
  ASSERT_NE(at, SIZE_MAX);
  Elf64_Rela r;
  std::memcpy(&r, image.data() + at, sizeof r);
  change(r);
  std::memcpy(image.data() + at, &r, sizeof r);
}

// A second program header of `type`, in the place of the stack's.
void duplicate_segment(std::vector<uint8_t>& image, uint32_t type) {
  const size_t from = find_segment(image, type);
  const size_t to = find_segment(image, PT_GNU_STACK);
  ASSERT_NE(from, SIZE_MAX);
  ASSERT_NE(to, SIZE_MAX);
  put_program_header(image, to, program_header(image, from));
}

const uint8_t* const kProbe = skin_test::kProbeBlock;

INSTANTIATE_TEST_SUITE_P(
    Loader, Refusals,
    ::testing::Values(
        Refusal{"Empty", kProbe, [](auto& b) { b.clear(); }, LoadFailure::kTruncated},
        Refusal{"ShorterThanTheHeader", kProbe, [](auto& b) { b.resize(63); },
                LoadFailure::kTruncated},
        Refusal{"BadMagic", kProbe, [](auto& b) { b[1] = 'X'; }, LoadFailure::kNotElf},
        Refusal{"ThirtyTwoBitClass", kProbe, [](auto& b) { b[EI_CLASS] = ELFCLASS32; },
                LoadFailure::kWrongClass},
        Refusal{"BigEndian", kProbe, [](auto& b) { b[EI_DATA] = ELFDATA2MSB; },
                LoadFailure::kWrongClass},
        Refusal{"AnExecutable", kProbe,
                [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_type), ET_EXEC); },
                LoadFailure::kNotSharedObject},
        Refusal{"OtherMachine", kProbe,
                [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_machine), EM_AARCH64); },
                LoadFailure::kWrongMachine},
        Refusal{"OddProgramHeaderSize", kProbe,
                [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_phentsize), 40); },
                LoadFailure::kBadProgramHeaders},
        Refusal{"NoProgramHeaders", kProbe,
                [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_phnum), 0); },
                LoadFailure::kBadProgramHeaders},
        Refusal{"ProgramHeadersPastTheEnd", kProbe,
                [](auto& b) { poke<uint64_t>(b, offsetof(Elf64_Ehdr, e_phoff), b.size() - 8); },
                LoadFailure::kBadProgramHeaders},
        Refusal{
            "ThreadLocalStorage", kProbe,
            [](auto& b) { set_phdr(b, PT_GNU_STACK, [](Elf64_Phdr& p) { p.p_type = PT_TLS; }); },
            LoadFailure::kThreadLocalStorage},
        Refusal{"MoreFileBytesThanMemory", kProbe,
                [](auto& b) {
                  set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_memsz = p.p_filesz - 1; });
                },
                LoadFailure::kBadSegment},
        Refusal{"CutInsideTheLastSegment", kProbe, [](auto& b) { b.resize(loadable_end(b) - 1); },
                LoadFailure::kBadSegment},
        Refusal{"HugeSegment", kProbe,
                [](auto& b) {
                  set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_memsz = uint64_t{1} << 40; });
                },
                LoadFailure::kTooLarge},
        Refusal{"NoDynamicSection", kProbe,
                [](auto& b) { set_phdr(b, PT_DYNAMIC, [](Elf64_Phdr& p) { p.p_type = PT_NULL; }); },
                LoadFailure::kBadDynamic},
        Refusal{"TwoDynamicSections", kProbe, [](auto& b) { duplicate_segment(b, PT_DYNAMIC); },
                LoadFailure::kBadDynamic},
        Refusal{"DynamicSectionOutsideTheImage", kProbe,
                [](auto& b) {
                  set_phdr(b, PT_DYNAMIC, [](Elf64_Phdr& p) { p.p_vaddr = uint64_t{1} << 33; });
                },
                LoadFailure::kBadDynamic},
        Refusal{"OddSymbolSize", kProbe, [](auto& b) { set_dynamic_value(b, DT_SYMENT, 32); },
                LoadFailure::kBadDynamic},
        Refusal{"SymbolTableInAnUnreadableSegment", kProbe,
                [](auto& b) { set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_flags = 0; }); },
                LoadFailure::kBadSymbols},
        Refusal{"HashTableOutsideTheImage", skin_test::kProbeSysvBlock,
                [](auto& b) { set_dynamic_value(b, DT_HASH, uint64_t{1} << 40); },
                LoadFailure::kBadSymbols},
        Refusal{"RelocationTargetOutsideTheImage", kProbe,
                [](auto& b) {
                  change_first_relocation(b, [](Elf64_Rela& r) { r.r_offset = uint64_t{1} << 40; });
                },
                LoadFailure::kBadRelocation},
        Refusal{"RelocationOfAMissingSymbolIndex", kProbe,
                [](auto& b) {
                  change_first_relocation(
                      b, [](Elf64_Rela& r) { r.r_info = ELF64_R_INFO(0xFFFFFF, R_X86_64_64); });
                },
                LoadFailure::kBadRelocation},
        Refusal{"PackedAddressOutsideTheImage", skin_test::kProbeRelrBlock,
                [](auto& b) { set_second_packed_address(b, uint64_t{1} << 40); },
                LoadFailure::kBadRelocation},
        Refusal{"UnhandledRelocationKind", kProbe,
                [](auto& b) { set_first_relocation_kind(b, R_X86_64_PC32); },
                LoadFailure::kUnsupportedRelocation},
        Refusal{"OddRelocationEntrySize", kProbe,
                [](auto& b) { set_dynamic_value(b, DT_RELAENT, 32); },
                LoadFailure::kUnsupportedRelocation},
        Refusal{"PackedEntriesOfSixteenBytes", skin_test::kProbeRelrBlock,
                [](auto& b) { set_dynamic_value(b, DT_RELRENT, 16); },
                LoadFailure::kUnsupportedRelocation},
        Refusal{"InitialiserTableOfOddSize", kProbe,
                [](auto& b) { set_dynamic_value(b, DT_INIT_ARRAYSZ, 7); },
                LoadFailure::kBadInitialisers}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(Loader, AnImportNothingProvidesIsNamedMissing) {
  EXPECT_FALSE(library.load(probe_image()));  // the counters come only from the resolver
  EXPECT_EQ(library.failure(), LoadFailure::kMissingSymbol) << to_string(library.failure());
}

TEST_F(Loader, ALoadThatMapsClearsTheReason) {
  EXPECT_EQ(library.failure(), LoadFailure::kNone);
  EXPECT_FALSE(library.load(std::vector<uint8_t>(10, 0)));
  EXPECT_EQ(library.failure(), LoadFailure::kTruncated);
  ASSERT_TRUE(library.load(probe_image(), probe.resolver()));
  EXPECT_EQ(library.failure(), LoadFailure::kNone);
}

// Every prefix fails for want of bytes: the header, the program headers or a segment's.
TEST_F(Loader, EveryShortPrefixIsRefusedForItsLength) {
  const std::vector<uint8_t> image = probe_image();
  const Elf64_Ehdr header = header_of(image);
  const size_t headers_end = header.e_phoff + header.e_phnum * sizeof(Elf64_Phdr);
  const size_t needed = loadable_end(image);
  for (size_t n = 0; n < needed; ++n) {
    ASSERT_FALSE(library.load(std::span(image.data(), n), probe.resolver(), Attach::kMapOnly));
    const LoadFailure expected = n < sizeof header ? LoadFailure::kTruncated
                                 : n < headers_end ? LoadFailure::kBadProgramHeaders
                                                   : LoadFailure::kBadSegment;
    ASSERT_EQ(library.failure(), expected) << n << " bytes: " << to_string(library.failure());
  }
}

}  // namespace
