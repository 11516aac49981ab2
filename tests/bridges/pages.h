// Pages of the shape the film site serves, in code page 936 (this suite compiles its literals
// as GB18030); the patterns run over them are the application's own (app/site.h).
#pragma once

#include <cctype>
#include <chrono>
#include <string>

#include "app/site.h"
#include "platform/automation/regex_engine.h"

namespace pages {

struct Card {
  std::string note;
  std::string href;
  std::string title;
  std::string cast;
  std::string poster;  // empty: the card has no lazily loaded poster
  bool upper_case = false;
};

inline std::string card_html(const Card& c) {
  std::string remarks = c.upper_case
                            ? "FED-LIST-REMARKS FED-FONT-XII FED-TEXT-WHITE FED-TEXT-CENTER"
                            : "fed-list-remarks fed-font-xii fed-text-white fed-text-center";
  std::string title_class =
      "fed-list-title fed-font-xiv fed-text-center fed-text-sm-left fed-visible fed-part-eone";
  std::string desc_class =
      "fed-list-desc fed-font-xii fed-visible fed-part-eone fed-text-muted fed-hide-xs "
      "fed-show-sm-block";
  if (c.upper_case) {
    for (char& ch : title_class)
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (char& ch : desc_class)
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  std::string pics = "<a class=\"fed-list-pics fed-lazy fed-part-2by3\" href=\"" + c.href + "\"";
  if (!c.poster.empty())
    pics += " data-original=\"" + c.poster + "\"";
  return "<li class=\"fed-list-item fed-padding fed-col-xs4 fed-col-sm3 fed-col-md2\">\r\n" + pics +
         "><span class=\"fed-list-play fed-hide-xs\"></span>" +
         "<span class=\"fed-list-score fed-font-xii fed-back-green\">8.0</span>" +
         "<span class=\"" + remarks + "\">" + c.note + "</span></a><a class=\"" + title_class +
         "\" href=\"" + c.href + "\">" + c.title + "</a><span class=\"" + desc_class + "\">" +
         c.cast + "</span></li>\r\n";
}

inline std::string page_head() {
  return "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>搜索结果</title>"
         "<script>var site = {\"name\": \"影视\"};</script></head>\r\n<body>\r\n"
         "<div class=\"fed-part-layout\"><ul class=\"fed-list-info fed-part-rows\">\r\n";
}

inline std::string page_tail() {
  return "</ul></div>\r\n<p>版权所有</p></body></html>\r\n";
}

// Markup between cards, so that a page reaches a realistic size.
inline std::string filler(size_t bytes) {
  static const std::string kBlock =
      "<div class=\"fed-part-case\"><p class=\"fed-text-muted\">推荐 影片 更新 "
      "text-white &amp; fed-text-center 热播</p></div>\r\n";
  std::string out;
  while (out.size() + kBlock.size() <= bytes) out += kBlock;
  return out;
}

// A title page's play sources: links before "zuidall直连", between it and "zuidam3u8", after.
inline std::string episode_link(const std::string& href, const std::string& name) {
  return "<li><a class='fed-btns-info' href='" + href + "' target=\"_self\">" + name + "</a></li>";
}

// Shortens the matcher's time limit for one test.
class TimeLimit {
 public:
  explicit TimeLimit(std::chrono::milliseconds limit) : old_(automation::regex::time_limit()) {
    automation::regex::set_time_limit(limit);
  }
  ~TimeLimit() { automation::regex::set_time_limit(old_); }
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;

 private:
  std::chrono::milliseconds old_;
};

}  // namespace pages
