// The serialised window templates, generated at build time from app/templates/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace app {

extern const uint8_t* const kTemplateData;
extern const size_t kTemplateLength;

}  // namespace app
