#include "skin/engine/skin_format.h"

#include <cstring>

#include "base/byte_reader.h"

namespace skin_format {
namespace {

bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Index of the colour whose name is text[0, length), or -1.
int find_colour(const Skin& skin, const char* text, size_t length) {
  for (int i = 0; i < skin.colour_count; ++i) {
    const NamedColour& c = skin.colours[i];
    if (c.name_length == length && std::memcmp(c.name, text, length) == 0)
      return i;
  }
  return -1;
}

// Length of the name after an '@' at text[at], within [at + 1, length).
size_t name_length_at(const char* text, size_t length, size_t at) {
  size_t n = 0;
  while (at + 1 + n < length && name_char(text[at + 1 + n])) ++n;
  return n;
}

Status read_colours(base::Bytes payload, Skin* skin) {
  base::ByteReader r(payload);
  const uint16_t count = r.u16();
  if (!r.ok() || count == 0 || count > kMaxColours)
    return Status::kBadColours;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t name_length = r.u8();
    if (!r.ok() || name_length == 0 || name_length > kMaxNameLength ||
        r.remaining() < name_length + 3u)
      return Status::kBadColours;
    NamedColour& c = skin->colours[i];
    std::memcpy(c.name, r.bytes(name_length).data(), name_length);
    c.name[name_length] = '\0';
    c.name_length = name_length;
    for (uint8_t k = 0; k < name_length; ++k) {
      if (!name_char(c.name[k]))
        return Status::kBadColours;
    }
    if (find_colour(*skin, c.name, name_length) != -1)
      return Status::kBadColours;  // unique
    const base::Bytes rgb = r.bytes(3);
    c.colour = {rgb[0], rgb[1], rgb[2]};
    skin->colour_count = static_cast<uint16_t>(i + 1);
  }
  return r.at_end() ? Status::kOk : Status::kBadColours;
}

Status read_palette(base::Bytes payload, Skin* skin) {
  base::ByteReader r(payload);
  const uint16_t count = r.u16();
  if (!r.ok() || count > kMaxPaletteEntries || r.remaining() != 4u * count)
    return Status::kBadPalette;
  for (uint16_t i = 0; i < count; ++i) {
    PaletteEntry& entry = skin->palette[i];
    entry.group = r.u8();
    entry.role = r.u8();
    entry.colour = r.u16();
    if (entry.group > kGroupAll || entry.role >= kRoleCount || entry.colour >= skin->colour_count)
      return Status::kBadPalette;
  }
  skin->palette_count = count;
  return Status::kOk;
}

Status read_rules(base::Bytes payload, Skin* skin) {
  const size_t length = payload.size();
  if (length > kMaxRulesLength)
    return Status::kBadRules;
  const char* text = reinterpret_cast<const char*>(payload.data());
  if (std::memchr(text, 0, length) != nullptr)
    return Status::kBadRules;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '@')
      continue;
    if (i + 1 < length && text[i + 1] == '@') {
      ++i;
      continue;
    }
    const size_t n = name_length_at(text, length, i);
    if (n == 0 || find_colour(*skin, text + i + 1, n) == -1)
      return Status::kBadRules;
    i += n;
  }
  skin->rules = text;
  skin->rules_length = static_cast<uint32_t>(length);
  return Status::kOk;
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

Status read_skin(const uint8_t* data, size_t length, Skin* skin) {
  if (data == nullptr || length < kHeaderLength)
    return Status::kTooShort;
  const base::Bytes bytes(data, length);
  base::ByteReader head(bytes);
  if (std::memcmp(head.bytes(sizeof kMagic).data(), kMagic, sizeof kMagic) != 0)
    return Status::kBadMagic;
  if (head.u16() != kVersion)
    return Status::kBadVersion;
  const uint32_t header = head.u16();
  const uint32_t body = head.u32();
  const uint32_t checksum = head.u32();
  const uint32_t records = head.u32();
  if (header < kHeaderLength || header > length || length - header != body)
    return Status::kBadLength;
  const base::Bytes content = bytes.subspan(header);
  if (crc32(content.data(), body) != checksum)
    return Status::kBadChecksum;

  skin->colour_count = 0;
  skin->palette_count = 0;
  skin->rules = nullptr;
  skin->rules_length = 0;
  bool palette = false, rules = false;
  base::ByteReader r(content);
  for (uint32_t i = 0; i < records; ++i) {
    if (r.remaining() < kRecordHeader)
      return Status::kBadRecord;
    const uint16_t tag = r.u16();
    const uint16_t reserved = r.u16();
    const uint32_t size = r.u32();
    if (reserved != 0 || r.remaining() < size)
      return Status::kBadRecord;
    const base::Bytes payload = r.bytes(size);
    Status s = Status::kBadRecord;
    if (tag == kTagColours && i == 0) {
      s = read_colours(payload, skin);
    } else if (tag == kTagPalette && i != 0 && !palette) {
      palette = true;
      s = read_palette(payload, skin);
    } else if (tag == kTagRules && i != 0 && !rules) {
      rules = true;
      s = read_rules(payload, skin);
    }
    if (s != Status::kOk)
      return s;
  }
  if (!r.at_end() || skin->colour_count == 0)
    return Status::kBadRecord;
  return Status::kOk;
}

Colour shift(Colour c, int32_t hue, int32_t saturation, int32_t brightness) {
  const auto clamp = [](float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); };
  const float r = c.red / 255.0f, g = c.green / 255.0f, b = c.blue / 255.0f;
  const float mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const float mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
  float l = (mx + mn) / 2;
  float s = 0, h = 0;
  const float delta = mx - mn;
  if (delta > 0) {
    s = l > 0.5f ? delta / (2 - mx - mn) : delta / (mx + mn);
    if (mx == r) {
      h = (g - b) / delta + (g < b ? 6.0f : 0.0f);
    } else if (mx == g) {
      h = (b - r) / delta + 2;
    } else {
      h = (r - g) / delta + 4;
    }
    h *= 60;
  }
  // Hue turns around the wheel; the others move a share of the way to their limit.
  h += static_cast<float>(hue % 360);
  if (h < 0)
    h += 360;
  if (h >= 360)
    h -= 360;
  const float sat = clamp(static_cast<float>(saturation), -100, 100) / 100;
  s = clamp(sat < 0 ? s * (1 + sat) : s + (1 - s) * sat, 0, 1);
  const float bri = clamp(static_cast<float>(brightness), -100, 100) / 100;
  l = clamp(bri < 0 ? l * (1 + bri) : l + (1 - l) * bri, 0, 1);

  const float q = l < 0.5f ? l * (1 + s) : l + s - l * s;
  const float p = 2 * l - q;
  const auto channel = [&](float t) {
    if (t < 0)
      t += 1;
    if (t > 1)
      t -= 1;
    float v = p;
    if (t < 1.0f / 6) {
      v = p + (q - p) * 6 * t;
    } else if (t < 0.5f) {
      v = q;
    } else if (t < 2.0f / 3) {
      v = p + (q - p) * (2.0f / 3 - t) * 6;
    }
    return static_cast<uint8_t>(clamp(v, 0, 1) * 255 + 0.5f);
  };
  const float hk = h / 360;
  return {channel(hk + 1.0f / 3), channel(hk), channel(hk - 1.0f / 3)};
}

size_t expand_rules(const Skin& skin, const Colour* colours, char* out, size_t capacity) {
  static const char kHex[] = "0123456789abcdef";
  size_t written = 0;
  const auto put = [&](char ch) {
    if (written < capacity)
      out[written] = ch;
    ++written;
  };
  const char* text = skin.rules;
  const size_t length = skin.rules_length;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '@') {
      put(text[i]);
      continue;
    }
    if (i + 1 < length && text[i + 1] == '@') {
      put('@');
      ++i;
      continue;
    }
    const size_t n = name_length_at(text, length, i);
    const int index = find_colour(skin, text + i + 1, n);
    i += n;
    if (index < 0)
      continue;  // a checked skin has none
    const Colour& c = colours[index];
    put('#');
    const uint8_t channels[3] = {c.red, c.green, c.blue};
    for (uint8_t v : channels) {
      put(kHex[v >> 4]);
      put(kHex[v & 15]);
    }
  }
  return written;
}

}  // namespace skin_format
