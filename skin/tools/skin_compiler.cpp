// Turns a readable skin source into a ".SHE" skin resource (skin/engine/skin_format.h).
//
// Source lines, in this order:
//   # a comment, and blank lines, anywhere before "rules:"
//   colour NAME #rrggbb
//   palette GROUP ROLE NAME      GROUP: active, disabled, inactive or all; ROLE: a palette role
//   rules:                       everything after this line is the style sheet, "@NAME" a colour
//
// The written resource is read back with the engine's own reader before the tool succeeds.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "skin/engine/skin_format.h"

namespace {

namespace sf = skin_format;

const char* const kRoles[sf::kRoleCount] = {
    "WindowText",  "Button",          "Light",          "Midlight",    "Dark",          "Mid",
    "Text",        "BrightText",      "ButtonText",     "Base",        "Window",        "Shadow",
    "Highlight",   "HighlightedText", "Link",           "LinkVisited", "AlternateBase", "NoRole",
    "ToolTipBase", "ToolTipText",     "PlaceholderText"};
const char* const kGroups[] = {"active", "disabled", "inactive", "all"};

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void record(std::vector<uint8_t>& body, uint16_t tag, const std::vector<uint8_t>& payload) {
  put16(body, tag);
  put16(body, 0);
  put32(body, static_cast<uint32_t>(payload.size()));
  body.insert(body.end(), payload.begin(), payload.end());
}

int index_of(const char* const* table, size_t n, const std::string& word, const std::string& what) {
  for (size_t i = 0; i < n; ++i) {
    if (word == table[i])
      return static_cast<int>(i);
  }
  throw std::runtime_error("unknown " + what + " \"" + word + "\"");
}

std::vector<uint8_t> compile(const std::string& source) {
  std::istringstream in(source);
  std::map<std::string, uint16_t> names;
  std::vector<uint8_t> colours(2), palette(2);
  uint16_t colour_count = 0, palette_count = 0;
  std::string line, rules;
  int number = 0;
  bool in_rules = false;
  while (std::getline(in, line)) {
    ++number;
    if (in_rules) {
      rules += line + "\n";
      continue;
    }
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word[0] == '#')
      continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (word == "rules:") {
      in_rules = true;
    } else if (word == "colour") {
      std::string name, hex;
      words >> name >> hex;
      if (name.empty() || name.size() > sf::kMaxNameLength || hex.size() != 7 || hex[0] != '#' ||
          names.count(name) != 0)
        throw std::runtime_error(where + "bad colour");
      const unsigned long rgb = std::stoul(hex.substr(1), nullptr, 16);
      names[name] = colour_count++;
      colours.push_back(static_cast<uint8_t>(name.size()));
      colours.insert(colours.end(), name.begin(), name.end());
      colours.push_back(static_cast<uint8_t>(rgb >> 16));
      colours.push_back(static_cast<uint8_t>(rgb >> 8));
      colours.push_back(static_cast<uint8_t>(rgb));
    } else if (word == "palette") {
      std::string group, role, name;
      words >> group >> role >> name;
      if (names.count(name) == 0)
        throw std::runtime_error(where + "unknown colour " + name);
      palette.push_back(static_cast<uint8_t>(index_of(kGroups, 4, group, "group")));
      palette.push_back(static_cast<uint8_t>(index_of(kRoles, sf::kRoleCount, role, "role")));
      put16(palette, names[name]);
      ++palette_count;
    } else {
      throw std::runtime_error(where + "unknown word " + word);
    }
  }
  colours[0] = static_cast<uint8_t>(colour_count);
  colours[1] = static_cast<uint8_t>(colour_count >> 8);
  palette[0] = static_cast<uint8_t>(palette_count);
  palette[1] = static_cast<uint8_t>(palette_count >> 8);

  std::vector<uint8_t> body;
  record(body, sf::kTagColours, colours);
  record(body, sf::kTagPalette, palette);
  record(body, sf::kTagRules, std::vector<uint8_t>(rules.begin(), rules.end()));
  std::vector<uint8_t> out(sf::kMagic, sf::kMagic + 4);
  put16(out, sf::kVersion);
  put16(out, sf::kHeaderLength);
  put32(out, static_cast<uint32_t>(body.size()));
  put32(out, sf::crc32(body.data(), body.size()));
  put32(out, 3);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE OUT.she\n", argv[0]);
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in)
      throw std::runtime_error("cannot read the source");
    const std::string source{std::istreambuf_iterator<char>(in), {}};
    const std::vector<uint8_t> data = compile(source);
    auto skin = std::make_unique<sf::Skin>();
    const sf::Status status = sf::read_skin(data.data(), data.size(), skin.get());
    if (status != sf::Status::kOk)
      throw std::runtime_error("the written skin does not read back (" +
                               std::to_string(static_cast<int>(status)) + ")");
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out)
      throw std::runtime_error("cannot write the skin");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
