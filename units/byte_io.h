// The unit data formats (property data, columns, rows) are read with base::ByteReader and
// written with base::ByteWriter; these are the two text checks they add on top. Internal to the
// unit data code.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace units::io {

inline std::string_view as_text(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline bool has_nul(std::span<const uint8_t> bytes) {
  return !bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr;
}

}  // namespace units::io
