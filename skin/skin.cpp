#include "skin/skin.h"

#include "runtime/value.h"

namespace skin {

// Written at build time from the engine's library image and the compiled skin resource.
extern const uint8_t kEngineBlock[];
extern const uint8_t kResourceBlock[];

const uint8_t* engine_byte_set() {
  return kEngineBlock;
}
const uint8_t* resource_byte_set() {
  return kResourceBlock;
}
std::span<const uint8_t> engine_image() {
  return rt::bytes_view(kEngineBlock);
}
std::span<const uint8_t> resource() {
  return rt::bytes_view(kResourceBlock);
}

bool load_engine(bridges::EmbeddedLibrary& loader) {
  return loader.load(engine_image());
}

bool apply(const bridges::EmbeddedLibrary& loader) {
  void* address = loader.export_by_name(kAttachName);
  if (address == nullptr)
    return false;
  const auto attach = reinterpret_cast<AttachRes>(address);
  const std::span<const uint8_t> data = resource();
  const char* password = nullptr;  // our skins are not locked
  return attach(data.data(), static_cast<int32_t>(data.size()), password, kHue, kSaturation,
                kBrightness) != 0;
}

}  // namespace skin
