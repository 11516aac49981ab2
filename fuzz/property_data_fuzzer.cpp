// libFuzzer harness for the unit kinds' property data (units/property_data.cpp): a unit's
// property data for each of the seven kinds, the list view's column and row byte sets, cell
// cuts and font faces. What decodes writes back to exactly the bytes it came from (property
// data, and columns and rows that hold any), and cuts end on a character boundary within their
// caps.
//
// Input: a byte (height for a font), then the data.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"
#include "units/property_data.h"

namespace {

using namespace fuzz::reference;

// Whether `prefix` ends where a character of the walk over `text` ends.
bool ends_on_character(std::string_view text, size_t prefix) {
  size_t i = 0;
  while (i < prefix) i += is_lead(text[i]) ? 2 : 1;
  return i == prefix;
}

}  // namespace

FF_FUZZ_WITH_RUNTIME()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const int32_t height = in.small_int();
  const std::string_view rest = in.rest();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
  const std::vector<uint8_t> original(bytes.begin(), bytes.end());

  for (const units::KindTable& kind : units::kind_tables()) {
    const std::optional<units::PropertyValues> values =
        units::PropertyValues::decode(kind.code, bytes);
    if (!values)
      continue;
    FF_CHECK(values->encode() == original);
    for (int32_t index = units::kFirstKindProperty; index < kind.property_count; ++index) {
      FF_CHECK(values->has(index));
    }
  }
  FF_CHECK(!units::PropertyValues::decode(0x30001, bytes));

  if (const auto columns = units::decode_columns(bytes)) {
    if (!columns->empty())
      FF_CHECK(units::encode_columns(*columns) == original);
    FF_CHECK(units::decode_columns(units::encode_columns(*columns)) == columns);
  }
  if (const auto rows = units::decode_rows(bytes)) {
    if (!rows->empty())
      FF_CHECK(units::encode_rows(*rows) == original);
    FF_CHECK(units::decode_rows(units::encode_rows(*rows)) == rows);
  }

  const std::string_view cell = units::cell_prefix(rest);
  FF_CHECK(cell.size() <= units::kMaxCellBytes && rest.starts_with(cell));
  FF_CHECK(rest.size() <= units::kMaxCellBytes
               ? cell.size() == rest.size()
               : ends_on_character(rest, cell.size()) && units::kMaxCellBytes - cell.size() <= 1);

  const rt::LogicalFont font = units::make_font(rest, height);
  const std::string_view face = units::face_name(font);
  FF_CHECK(face.size() < sizeof font.face_name && rest.starts_with(face));
  FF_CHECK(units::has_own_font(font) == !face.empty());
  // Without a zero byte in reach, the face is the longest start of whole characters that fits.
  if (rest.substr(0, sizeof font.face_name).find('\0') == std::string_view::npos) {
    FF_CHECK(ends_on_character(rest, face.size()));
    FF_CHECK(face.size() + 1 >= std::min(rest.size(), sizeof font.face_name - 1));
  }
  return 0;
}
