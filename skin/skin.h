// The program's look: our skin engine and its skin, both carried inside the program as constant
// byte sets, and the two steps that use them. Start-up maps the engine with load_engine();
// once the start window exists, apply() hands the engine the skin.
//
// Either step may fail (an engine that does not map, an export that is missing); the program
// then keeps the toolkit's normal look and goes on.
#pragma once

#include <cstdint>
#include <span>

#include "bridges/embedded_library.h"

namespace skin {

// The engine's one entry: skin data, its length, password (null), hue, saturation, brightness;
// non-zero when the skin was applied.
using AttachRes = int32_t (*)(const uint8_t* data, int32_t length, const char* password,
                              int32_t hue, int32_t saturation, int32_t brightness);
inline constexpr char kAttachName[] = "SkinH_AttachRes";
// The shift the program asks for: the skin's own hues, a touch darker.
inline constexpr int32_t kHue = 0;
inline constexpr int32_t kSaturation = 0;
inline constexpr int32_t kBrightness = -5;

// The byte-set blocks {int32 1, int32 length, bytes} in the constant data area, and their bytes.
const uint8_t* engine_byte_set();
const uint8_t* resource_byte_set();
std::span<const uint8_t> engine_image();
std::span<const uint8_t> resource();

// Maps the embedded engine into `loader` and runs its attach step. True when it is mapped.
bool load_engine(bridges::EmbeddedLibrary& loader);
// Looks the engine's entry up by name and calls it with the embedded skin, a null password and
// the shift above. False when nothing is loaded, the export is missing or the engine refused.
bool apply(const bridges::EmbeddedLibrary& loader);

}  // namespace skin
