// The committed test pictures (tests/data/pictures, made by tests/data/make_pictures.sh) and
// ImageMagick's decodes of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace picture_files {

inline std::filesystem::path directory() {
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "pictures";
}

inline std::vector<uint8_t> read(const std::string& name) {
  std::ifstream in(directory() / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace picture_files
