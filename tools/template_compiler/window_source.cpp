#include "tools/template_compiler/window_source.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tc {
namespace {

[[noreturn]] void fail(const std::string& file, int line, const std::string& what) {
  throw std::runtime_error(file + ":" + std::to_string(line) + ": " + what);
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos)
    return {};
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

int64_t parse_number(const std::string& token, const std::string& file, int line) {
  try {
    size_t used = 0;
    const int64_t v = std::stoll(token, &used, 0);
    if (used != token.size())
      fail(file, line, "not a number: " + token);
    return v;
  } catch (const std::logic_error&) {
    fail(file, line, "not a number: " + token);
  }
}

// Reads one value item at `pos`: a quoted text, @file or a number.
Value parse_item(const std::string& s, size_t& pos, const std::string& file, int line,
                 const std::string& dir) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  if (pos >= s.size())
    fail(file, line, "missing value");
  Value v;
  if (s[pos] == '"') {
    v.kind = Value::Kind::kText;
    ++pos;
    while (pos < s.size() && s[pos] != '"') {
      if (s[pos] == '\\' && pos + 1 < s.size())
        ++pos;
      v.text += s[pos++];
    }
    if (pos >= s.size())
      fail(file, line, "unterminated text");
    ++pos;
    return v;
  }
  size_t end = s.find_first_of(" \t,", pos);
  if (end == std::string::npos)
    end = s.size();
  const std::string token = s.substr(pos, end - pos);
  pos = end;
  if (token.size() > 1 && token[0] == '@') {
    std::ifstream in(dir + "/" + token.substr(1), std::ios::binary);
    if (!in)
      fail(file, line, "cannot read " + token.substr(1));
    v.kind = Value::Kind::kBytes;
    v.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return v;
  }
  const bool numeric = token[0] == '-' || (token[0] >= '0' && token[0] <= '9');
  if (!numeric) {
    v.kind = Value::Kind::kWord;
    v.text = token;
    return v;
  }
  v.number = parse_number(token, file, line);
  return v;
}

Value parse_value(const std::string& s, const std::string& file, int line, const std::string& dir) {
  size_t pos = 0;
  std::vector<Value> items;
  for (;;) {
    items.push_back(parse_item(s, pos, file, line, dir));
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    if (pos >= s.size())
      break;
    if (s[pos] == ',')
      ++pos;  // a comma separates groups; items within a group by spaces
  }
  if (items.size() == 1)
    return items[0];
  Value list;
  list.kind = Value::Kind::kList;
  list.items = std::move(items);
  return list;
}

}  // namespace

WindowSource parse_window_file(const std::string& path) {
  std::ifstream in(path);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  WindowSource w;
  w.file = path;
  std::string raw;
  int line = 0;
  while (std::getline(in, raw)) {
    ++line;
    const std::string s = trim(raw);
    if (s.empty() || s[0] == '#')
      continue;
    std::istringstream words(s);
    std::string head;
    words >> head;
    if (head == "window") {
      std::string id;
      words >> id;
      w.id = static_cast<uint32_t>(parse_number(id, path, line));
      continue;
    }
    if (head == "unit") {
      UnitSource u;
      std::string id;
      words >> id >> u.kind >> u.name;
      if (u.name.empty())
        fail(path, line, "unit needs an id, a kind and a name");
      u.id = static_cast<uint32_t>(parse_number(id, path, line));
      u.line = line;
      w.units.push_back(std::move(u));
      continue;
    }
    if (w.units.empty())
      fail(path, line, "property before the first unit");
    UnitSource& u = w.units.back();
    if (head == "at") {
      std::string a, b, c, d;
      words >> a >> b >> c >> d;
      u.left = static_cast<int32_t>(parse_number(a, path, line));
      u.top = static_cast<int32_t>(parse_number(b, path, line));
      u.width = static_cast<int32_t>(parse_number(c, path, line));
      u.height = static_cast<int32_t>(parse_number(d, path, line));
    } else if (head == "parent") {
      std::string id;
      words >> id;
      u.parent = static_cast<uint32_t>(parse_number(id, path, line));
    } else if (head == "state") {
      std::string flag;
      while (words >> flag) {
        if (flag == "visible") {
          u.flags |= 1;
        } else if (flag == "disabled") {
          u.flags |= 2;
        } else if (flag == "tabstop") {
          u.flags |= 4;
        } else {
          fail(path, line, "unknown state " + flag);
        }
      }
    } else if (head == "on") {
      std::string event, routine;
      words >> event >> routine;
      if (routine.empty())
        fail(path, line, "on needs an event number and a routine");
      u.events.emplace_back(static_cast<int32_t>(parse_number(event, path, line)), routine);
    } else {
      const size_t eq = s.find('=');
      if (eq == std::string::npos)
        fail(path, line, "unknown line: " + s);
      const std::string name = trim(s.substr(0, eq));
      u.properties.emplace_back(name, parse_value(trim(s.substr(eq + 1)), path, line, dir));
    }
  }
  if (w.id == 0)
    throw std::runtime_error(path + ": no window line");
  return w;
}

std::vector<std::string> parse_routine_list(const std::string& path) {
  std::ifstream in(path);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  std::vector<std::string> names;
  std::string raw;
  while (std::getline(in, raw)) {
    const std::string s = trim(raw);
    if (!s.empty() && s[0] != '#')
      names.push_back(s);
  }
  return names;
}

}  // namespace tc
