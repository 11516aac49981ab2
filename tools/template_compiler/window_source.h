// The readable form of window templates, as written in app/templates/*.window.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tc {

// A property value as written: a number, a text, a file's bytes, or a list of items.
struct Value {
  enum class Kind { kNumber, kWord, kText, kBytes, kList };
  Kind kind = Kind::kNumber;
  int64_t number = 0;
  std::string text;            // kText: UTF-8 as written; kWord: the word (a choice name)
  std::vector<uint8_t> bytes;  // @file contents
  std::vector<Value> items;    // kList: the items in order (texts and numbers)
};

struct UnitSource {
  uint32_t id = 0;
  std::string kind;  // window, EditBox, PicBox, GroupBox, Button, ListView, TransLabel
  std::string name;  // UTF-8
  int32_t left = 0, top = 0, width = 0, height = 0;
  uint32_t parent = 0;
  int32_t flags = 0;
  std::vector<std::pair<int32_t, std::string>> events;  // event number, routine name
  std::vector<std::pair<std::string, Value>> properties;
  int line = 0;
};

struct WindowSource {
  uint32_t id = 0;
  std::vector<UnitSource> units;
  std::string file;
};

// Parses one .window file; throws std::runtime_error naming the file and line on any error.
WindowSource parse_window_file(const std::string& path);
// Reads routines.list: one name per line, '#' comments.
std::vector<std::string> parse_routine_list(const std::string& path);

}  // namespace tc
