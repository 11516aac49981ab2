// Turns the readable window templates into the serialised template data the program carries.
//
//   template_compiler ROUTINES OUT_CPP OUT_ROUTINE_TABLE WINDOW_FILE...
//
// Handlers become byte offsets into the application's routine table, in the order of ROUTINES;
// OUT_ROUTINE_TABLE lists the same order for the application to build that table from.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "runtime/template_data.h"
#include "tools/template_compiler/window_source.h"
#include "units/property_data.h"

namespace {

using tc::Value;

std::string to_gbk(const std::string& utf8, const std::string& where) {
  iconv_t cd = iconv_open("CP936", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error("iconv cannot convert to CP936");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  const size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1))
    throw std::runtime_error(where + ": text has no GBK form: " + utf8);
  out.resize(out.size() - dst_left);
  return out;
}

const std::map<std::string, rt::TypeCode>& kind_codes() {
  static const std::map<std::string, rt::TypeCode> kCodes = {
      {"window", units::kKindWindow},         {"EditBox", units::kKindEditBox},
      {"PicBox", units::kKindPicBox},         {"GroupBox", units::kKindGroupBox},
      {"Button", units::kKindButton},         {"ListView", units::kKindListView},
      {"TransLabel", units::kKindTransLabel},
  };
  return kCodes;
}

int32_t choice_value(const rt::PropertyInfo& info, const std::string& word,
                     const std::string& where) {
  if (word == "true")
    return 1;
  if (word == "false")
    return 0;
  for (int32_t i = 0; info.choices && info.choices[i]; ++i) {
    if (word == info.choices[i])
      return i;
  }
  throw std::runtime_error(where + ": no choice " + word + " for " + info.english_name);
}

std::vector<uint8_t> columns_of(const Value& v, const std::string& where) {
  // "title" width [alignment], ...
  std::vector<units::ListColumn> columns;
  const std::vector<Value> items = v.kind == Value::Kind::kList ? v.items : std::vector<Value>{v};
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind != Value::Kind::kText)
      throw std::runtime_error(where + ": a column starts with its title");
    units::ListColumn c;
    c.title = to_gbk(items[i].text, where);
    if (i + 1 < items.size() && items[i + 1].kind == Value::Kind::kNumber) {
      c.width = static_cast<int32_t>(items[++i].number);
    }
    columns.push_back(c);
  }
  return units::encode_columns(columns);
}

std::vector<uint8_t> property_data(const tc::UnitSource& u, rt::TypeCode kind,
                                   const std::string& where) {
  units::PropertyValues values = units::PropertyValues::defaults(kind);
  for (const auto& [name, value] : u.properties) {
    const std::string at = where + " (" + name + ")";
    const int32_t index = units::property_index(kind, name);
    const rt::PropertyInfo* info =
        index >= units::kFirstKindProperty ? units::property_info(kind, index) : nullptr;
    if (!info)
      throw std::runtime_error(at + ": the kind has no such property");
    if (kind == units::kKindListView && index == units::list_property::kColumns) {
      values.set_bytes(index, columns_of(value, at));
      continue;
    }
    switch (units::value_form(info->type)) {
      case units::ValueForm::kWord:
        if (value.kind == Value::Kind::kNumber) {
          values.set_word(index, static_cast<int32_t>(value.number));
        } else if (value.kind == Value::Kind::kWord) {
          values.set_word(index, choice_value(*info, value.text, at));
        } else {
          throw std::runtime_error(at + ": expects a number");
        }
        break;
      case units::ValueForm::kTwoWords:
        values.set_two_words(index, static_cast<int32_t>(value.number),
                             static_cast<int32_t>(value.number >> 32));
        break;
      case units::ValueForm::kText:
        if (value.kind != Value::Kind::kText)
          throw std::runtime_error(at + ": expects a text");
        values.set_text(index, to_gbk(value.text, at));
        break;
      case units::ValueForm::kBytes:
        if (value.kind != Value::Kind::kBytes)
          throw std::runtime_error(at + ": expects @file");
        values.set_bytes(index, value.bytes);
        break;
      case units::ValueForm::kFont: {
        // "face" size-in-points [bold]
        const std::vector<Value>& items = value.items;
        if (value.kind != Value::Kind::kList || items.size() < 2) {
          throw std::runtime_error(at + ": a font is \"face\" points [bold]");
        }
        const int32_t points = static_cast<int32_t>(items[1].number);
        const bool bold = items.size() > 2 && items[2].text == "bold";
        values.set_font(index, units::make_font(to_gbk(items[0].text, at), -(points * 96) / 72,
                                                bold ? 700 : 400));
        break;
      }
    }
  }
  return values.encode();
}

rt::WindowTemplate compile_window(const tc::WindowSource& source,
                                  const std::map<std::string, int32_t>& offsets) {
  rt::WindowTemplate window;
  window.id = source.id;
  if (source.units.empty() || !rt::is_window_unit_id(source.units[0].id)) {
    throw std::runtime_error(source.file + ": the first unit must be the window's own unit");
  }
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
  for (const tc::UnitSource& u : source.units) {
    const std::string where = source.file + ":" + std::to_string(u.line);
    const auto kind = kind_codes().find(u.kind);
    if (kind == kind_codes().end())
      throw std::runtime_error(where + ": unknown kind " + u.kind);
    if (!rt::valid_id(u.id))
      throw std::runtime_error(where + ": invalid unit id");
    rt::UnitRecord r;
    r.kind = kind->second;
    r.name = to_gbk(u.name, where);
    r.left = u.left;
    r.top = u.top;
    r.width = u.width;
    r.height = u.height;
    r.parent = u.parent;
    r.flags = u.flags;
    r.cursor_data = {0, 0, 0, 0};
    // A container lists the units inside it, in table order; the window lists its direct units.
    const bool is_window = &u == &source.units[0];
    for (const tc::UnitSource& other : source.units) {
      if (&other == &u || rt::is_window_unit_id(other.id))
        continue;
      if ((is_window && other.parent == 0) || (!is_window && other.parent == u.id)) {
        r.children.push_back(other.id);
      }
    }
    for (const auto& [event, routine] : u.events) {
      const auto offset = offsets.find(routine);
      if (offset == offsets.end())
        throw std::runtime_error(where + ": unknown routine " + routine);
      r.events.push_back({event, offset->second});
    }
    r.property_data = property_data(u, r.kind, where);
    records.emplace_back(u.id, rt::encode_unit_record(r));
  }
  for (const tc::UnitSource& u : source.units) {
    if (u.parent == 0)
      continue;
    bool found = false;
    for (const tc::UnitSource& other : source.units) found |= other.id == u.parent;
    if (!found)
      throw std::runtime_error(source.file + ": unit parent not in the window");
  }
  window.units.assign_records(records);
  return window;
}

void write_cpp(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path);
  out << "// Generated from app/templates by the template compiler. Do not edit.\n"
         "#include \"app/template_data.h\"\n#include \"runtime/heap.h\"\n\nnamespace {\n"
         "FF_CONST alignas(4) const uint8_t kBytes[] = {";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i % 16 == 0)
      out << "\n   ";
    out << ' ' << static_cast<int>(data[i]) << ',';
  }
  out << "\n};\n}  // namespace\n\nnamespace app {\nconst uint8_t* const kTemplateData = kBytes;\n"
         "const size_t kTemplateLength = sizeof kBytes;\n}  // namespace app\n";
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s ROUTINES OUT_CPP OUT_ROUTINE_TABLE WINDOW_FILE...\n", argv[0]);
    return 2;
  }
  try {
    const std::vector<std::string> routines = tc::parse_routine_list(argv[1]);
    std::map<std::string, int32_t> offsets;
    for (size_t i = 0; i < routines.size(); ++i) {
      offsets[routines[i]] = static_cast<int32_t>(i * sizeof(void*));
    }
    std::vector<rt::WindowTemplate> windows;
    for (int i = 4; i < argc; ++i) {
      windows.push_back(compile_window(tc::parse_window_file(argv[i]), offsets));
    }
    const std::vector<uint8_t> data = rt::encode_templates(windows);
    if (!rt::decode_templates(data))
      throw std::runtime_error("the written data does not read back");
    write_cpp(argv[2], data);
    std::ofstream table(argv[3]);
    table << "// Generated from app/templates/routines.list. Do not edit.\n";
    for (const std::string& r : routines) table << "FF_ROUTINE(" << r << ")\n";
  } catch (const std::exception& e) {
    std::fprintf(stderr, "template_compiler: %s\n", e.what());
    return 1;
  }
  return 0;
}
