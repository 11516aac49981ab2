// The in-memory loader with real images: the skin engine the program carries, and a tiny probe
// library whose attach and detach counters live here and reach it only through the resolver.
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
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
}

namespace {

using bridges::Attach;
using bridges::EmbeddedLibrary;
using bridges::ImportResolver;

std::vector<uint8_t> probe_image() {
  const std::span<const uint8_t> bytes = rt::bytes_view(skin_test::kProbeBlock);
  return {bytes.begin(), bytes.end()};
}

size_t fake_strlen(const char*) { return 7; }

// Gives the probe its counters; records every name asked; optionally stands in for strlen.
struct ProbeResolver {
  std::vector<std::string> asked;
  bool replace_strlen = false;

  static void* find(const char* name, void* context) {
    auto* self = static_cast<ProbeResolver*>(context);
    self->asked.emplace_back(name);
    if (std::strcmp(name, "ff_probe_attach_count") == 0) return &ff_probe_attach_count;
    if (std::strcmp(name, "ff_probe_detach_count") == 0) return &ff_probe_detach_count;
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
    if (program_header(image, i).p_type == type) return i;
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
    if (d.d_tag == tag) return d.d_un.d_val;
  }
  return 0;
}

// End of the last loadable segment's bytes in the file: a copy cut anywhere before it is short.
size_t loadable_end(const std::vector<uint8_t>& image) {
  size_t end = header_of(image).e_phoff + header_of(image).e_phnum * sizeof(Elf64_Phdr);
  for (size_t i = 0; i < header_of(image).e_phnum; ++i) {
    const Elf64_Phdr p = program_header(image, i);
    if (p.p_type == PT_LOAD) end = std::max<size_t>(end, p.p_offset + p.p_filesz);
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
  EXPECT_EQ(library.entry_point(), base + header_of(std::vector<uint8_t>(
                                               skin::engine_image().begin(),
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
  EXPECT_EQ(exported<int (*)()>("ff_probe_answer")(), 42);  // code runs from the region
  EXPECT_EQ((*exported<int (**)()>("ff_probe_hook"))(), 42);  // absolute 64-bit
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
        Alteration{"BadMagic", [](auto& b) { b[0] = 'M'; b[1] = 'Z'; }},
        Alteration{"ThirtyTwoBitClass", [](auto& b) { b[EI_CLASS] = ELFCLASS32; }},
        Alteration{"BigEndian", [](auto& b) { b[EI_DATA] = ELFDATA2MSB; }},
        Alteration{"OtherMachine",
                   [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_machine), EM_AARCH64); }},
        Alteration{"AnExecutable",
                   [](auto& b) { poke<uint16_t>(b, offsetof(Elf64_Ehdr, e_type), ET_EXEC); }},
        Alteration{"ProgramHeadersPastTheEnd",
                   [](auto& b) { poke<uint64_t>(b, offsetof(Elf64_Ehdr, e_phoff), b.size() - 8); }},
        Alteration{"ProgramHeaderOffsetWrapsAround",
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
                   [](auto& b) { set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_memsz = p.p_filesz - 1; }); }},
        Alteration{"HugeSegment",
                   [](auto& b) { set_phdr(b, PT_LOAD, [](Elf64_Phdr& p) { p.p_memsz = uint64_t{1} << 40; }); }},
        Alteration{"NoDynamicSection",
                   [](auto& b) { set_phdr(b, PT_DYNAMIC, [](Elf64_Phdr& p) { p.p_type = PT_NULL; }); }},
        Alteration{"DynamicSectionOutsideTheImage",
                   [](auto& b) { set_phdr(b, PT_DYNAMIC, [](Elf64_Phdr& p) { p.p_vaddr = uint64_t{1} << 33; }); }},
        Alteration{"ThreadLocalStorage",
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
    const bool loaded = library.load(std::span(image.data(), n), probe.resolver(), Attach::kMapOnly);
    ASSERT_EQ(loaded, n >= needed) << "prefix of " << n << " bytes";
    ASSERT_EQ(library.image_base() != 0, loaded);
  }
}

}  // namespace
