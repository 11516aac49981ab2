// libFuzzer harness for the skin resource reader (skin/engine/skin_format.cpp). The resource is
// built into the program, but the reader is the engine's only guard, so it must refuse any
// malformed resource without reading past it, and a skin it accepts must hold what the format
// promises: 1 to 64 uniquely named colours, palette entries that name them, rules whose every
// "@name" is defined, and expanded rules of exactly the measured length whatever the shift.
//
// Input: a byte of options (put the body length and checksum right, so that mutations reach the
// records), three bytes of hue, saturation and brightness, then the resource.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "skin/engine/skin_format.h"

namespace {

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void check_skin(const skin_format::Skin& skin, const uint8_t* data, size_t size, int32_t hue,
                int32_t saturation, int32_t brightness) {
  using namespace skin_format;
  FF_CHECK(skin.colour_count >= 1 && skin.colour_count <= kMaxColours);
  for (uint16_t i = 0; i < skin.colour_count; ++i) {
    const NamedColour& c = skin.colours[i];
    FF_CHECK(c.name_length >= 1 && c.name_length <= kMaxNameLength);
    FF_CHECK(std::strlen(c.name) == c.name_length);
    for (uint16_t k = 0; k < i; ++k) FF_CHECK(std::strcmp(skin.colours[k].name, c.name) != 0);
  }
  FF_CHECK(skin.palette_count <= kMaxPaletteEntries);
  for (uint16_t i = 0; i < skin.palette_count; ++i) {
    const PaletteEntry& e = skin.palette[i];
    FF_CHECK(e.group <= kGroupAll && e.role < kRoleCount && e.colour < skin.colour_count);
  }
  if (skin.rules) {
    const auto* start = reinterpret_cast<const uint8_t*>(skin.rules);
    FF_CHECK(start >= data && start + skin.rules_length <= data + size);
  }
  Colour shifted[kMaxColours];
  for (uint16_t i = 0; i < skin.colour_count; ++i) {
    shifted[i] = shift(skin.colours[i].colour, hue, saturation, brightness);
  }
  const size_t length = expand_rules(skin, shifted, nullptr, 0);
  // Exactly that much room, on the heap, so that one byte more is seen.
  const auto out = std::make_unique<char[]>(length);
  FF_CHECK(expand_rules(skin, shifted, out.get(), length) == length);
  FF_CHECK(std::memchr(out.get(), 0, length) == nullptr);
  if (length > 0)
    FF_CHECK(expand_rules(skin, shifted, out.get(), length - 1) == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t options = in.byte();
  // Degrees and percents well past their ranges: values beyond them count as the limits.
  const int32_t hue = in.small_int() * 7;
  const int32_t saturation = in.small_int();
  const int32_t brightness = in.small_int();
  const std::string_view rest = in.rest();
  std::vector<uint8_t> resource(rest.begin(), rest.end());
  if (resource.size() >= skin_format::kHeaderLength && (options & 3) != 0) {
    const uint32_t header = resource[6] | resource[7] << 8;
    if (header >= skin_format::kHeaderLength && header <= resource.size()) {
      const auto body = static_cast<uint32_t>(resource.size() - header);
      if (options & 1)
        put_u32(resource.data() + 8, body);
      if (options & 2)
        put_u32(resource.data() + 12, skin_format::crc32(resource.data() + header, body));
    }
  }
  // A copy of exactly its size, so that a read past the resource is seen.
  const auto exact = std::make_unique<uint8_t[]>(resource.size());
  std::copy(resource.begin(), resource.end(), exact.get());
  skin_format::Skin skin;
  if (skin_format::read_skin(exact.get(), resource.size(), &skin) != skin_format::Status::kOk)
    return 0;
  check_skin(skin, exact.get(), resource.size(), hue, saturation, brightness);
  return 0;
}
