#include "demo-site/pages.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "demo-site/text_tools.h"

namespace demo_site {
namespace {

constexpr std::string_view kSiteName = "青柚影院";

std::string number_text(size_t value) {
  return std::to_string(value);
}

std::string page_head(std::string_view page_title, std::string_view description) {
  std::string out;
  out += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n";
  out += "<meta charset=\"utf-8\">\n";
  out += "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n";
  out += "<title>" + html_escape(page_title) + " - " + std::string(kSiteName) + "</title>\n";
  out += "<meta name=\"keywords\" content=\"青柚影院,在线观看,高清电影,电视剧,综艺,动漫\">\n";
  out += "<meta name=\"description\" content=\"" + html_escape(description) + "\">\n";
  out += "<link rel=\"stylesheet\" href=\"/static/site.css\" type=\"text/css\">\n";
  out += "<script type=\"text/javascript\" src=\"/static/site.js\"></script>\n";
  out += "</head>\n";
  return out;
}

std::string site_header(std::string_view keyword) {
  std::string out;
  out += "<body class=\"fed-min-width\">\n";
  out += "<div class=\"fed-head-info fed-back-whits fed-min-width\">\n";
  out += "<div class=\"fed-part-case\">\n";
  out += "<a class=\"fed-head-logo fed-show-md-block\" href=\"/\" title=\"" +
         std::string(kSiteName) + "\"><span class=\"logo-mark\">柚</span>" +
         std::string(kSiteName) + "</a>\n";
  out += "<ul class=\"fed-menu-info\">\n";
  out += "<li class=\"fed-menu-item\"><a href=\"/\">首页</a></li>\n";
  out +=
      "<li class=\"fed-menu-item\"><a "
      "href=\"/search.php?searchword=%E7%94%B5%E5%BD%B1\">电影</a></li>\n";
  out +=
      "<li class=\"fed-menu-item\"><a "
      "href=\"/search.php?searchword=%E5%89%A7%E9%9B%86\">剧集</a></li>\n";
  out +=
      "<li class=\"fed-menu-item\"><a "
      "href=\"/search.php?searchword=%E7%BB%BC%E8%89%BA\">综艺</a></li>\n";
  out +=
      "<li class=\"fed-menu-item\"><a "
      "href=\"/search.php?searchword=%E5%8A%A8%E6%BC%AB\">动漫</a></li>\n";
  out += "</ul>\n";
  out +=
      "<form class=\"fed-navs-search\" action=\"/search.php\" method=\"get\">"
      "<input class=\"fed-search-keys\" type=\"text\" name=\"searchword\" value=\"" +
      html_escape(keyword) +
      "\" placeholder=\"输入片名或演员\" autocomplete=\"off\">"
      "<button class=\"fed-search-btns\" type=\"submit\">搜索</button></form>\n";
  out += "</div>\n</div>\n";
  out += "<div class=\"fed-main-info fed-min-width\">\n<div class=\"fed-part-case\">\n";
  return out;
}

std::string site_footer() {
  std::string out;
  out += "</div>\n</div>\n";
  out += "<div class=\"fed-foot-info fed-part-layout fed-back-whits\">\n";
  out += "<div class=\"fed-part-case fed-text-center\">\n";
  out +=
      "<p class=\"fed-font-xii\">本站为 Film Finder "
      "的演示站点，片目、演员与地址均为虚构，仅供测试。</p>\n";
  out += "<p class=\"fed-font-xii\">&copy; " + std::string(kSiteName) +
         " · <a href=\"/\">返回首页</a> · <a href=\"#top\">回到顶部</a></p>\n";
  out += "</div>\n</div>\n";
  out += "<script type=\"text/javascript\">siteReady();</script>\n";
  out += "</body>\n</html>\n";
  return out;
}

std::string poster_address(const Title& title, const PageContext& context) {
  return context.origin + "/posters/" + title.poster;
}

// One result card. The remark span, title link and cast line follow each other without any
// space between them, and the poster link's data-original is directly followed by its first
// span: the program's patterns read exactly this.
std::string search_card(const Title& title, const PageContext& context) {
  const std::string path = title_path(title);
  std::string out;
  out += "<li class=\"fed-list-item fed-padding fed-col-xs4 fed-col-sm3 fed-col-md2\">";
  out += "<a class=\"fed-list-pics fed-lazy fed-part-2by3\" href=\"" + path +
         "\" data-original=\"" + poster_address(title, context) + "\">";
  out += "<span class=\"fed-list-play fed-hide-xs\"></span>";
  out += "<span class=\"fed-list-score fed-font-xii fed-back-green\">" + html_escape(title.score) +
         "</span>";
  out += "<span class=\"" + std::string(kCardRemarksClass) + "\">" + html_escape(title.note) +
         "</span></a>";
  out += "<a class=\"" + std::string(kCardTitleClass) + "\" href=\"" + path + "\">" +
         html_escape(title.name) + "</a>";
  out += "<span class=\"" + std::string(kCardCastClass) + "\">" + html_escape(title.cast) +
         "</span></li>\n";
  return out;
}

std::string card_list(const std::vector<const Title*>& titles, const PageContext& context) {
  std::string out = "<ul class=\"fed-list-info fed-part-rows\">\n";
  for (const Title* title : titles) out += search_card(*title, context);
  out += "</ul>\n";
  return out;
}

std::string episode_link(const Title& title, int line, size_t episode) {
  return "<li class=\"fed-padding fed-col-xs3 fed-col-md2\">" +
         episode_anchor(title, line, episode) + "</li>\n";
}

std::string detail_row(std::string_view label, std::string_view value) {
  return "<li class=\"fed-part-eone\"><span class=\"fed-text-muted\">" + std::string(label) +
         "：</span>" + html_escape(value) + "</li>\n";
}

std::optional<size_t> bench_card_count(std::string_view keyword) {
  constexpr std::string_view kPrefix = "cards:";
  if (!keyword.starts_with(kPrefix))
    return std::nullopt;
  const std::string_view digits = keyword.substr(kPrefix.size());
  if (digits.empty() || digits.size() > 4)
    return std::nullopt;
  size_t count = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (ec != std::errc{} || end != digits.data() + digits.size())
    return std::nullopt;
  if (count < 1 || count > kMaxBenchCards)
    return std::nullopt;
  return count;
}

std::string download_value(const Title& title, const PageContext& context, int line) {
  std::string out;
  for (size_t n = 1; n <= title.episodes.size(); ++n) {
    if (n > 1)
      out += "###";
    out += title.episodes[n - 1];
    out += '$';
    if (line == 0) {
      out += context.origin + download_path(title, n);
    } else {
      out += context.origin + stream_path(title, line, n);
    }
  }
  // The value sits inside a double-quoted script string.
  std::string safe;
  for (char c : out) {
    if (c == '"' || c == '\\' || c == '<')
      continue;
    safe.push_back(c);
  }
  return safe;
}

bool has_line(const Title& title, int line) {
  return std::find(title.lines.begin(), title.lines.end(), line) != title.lines.end();
}

}  // namespace

std::string episode_anchor(const Title& title, int line, size_t episode) {
  const std::string name = html_escape(title.episodes[episode - 1]);
  return "<a class=\"fed-btns-info fed-rims-info fed-part-eone\" title='" + name + "' href='" +
         play_path(title, line, episode) + "' target=\"_self\">" + name + "</a>";
}

std::vector<std::string> download_scripts(const Title& title, const PageContext& context) {
  std::vector<std::string> scripts;
  scripts.push_back("var GvodUrls1 = \"" +
                    (title.downloads ? download_value(title, context, 0) : std::string()) +
                    "\";echoDown(GvodUrls1,0);");
  if (title.downloads && has_line(title, 3)) {
    scripts.push_back("var GvodUrls2 = \"" + download_value(title, context, 3) +
                      "\";echoDown(GvodUrls2,1);");
  }
  return scripts;
}

std::string player_script(const Title& title, int line, size_t episode,
                          const PageContext& context) {
  return "var vid=\"" + number_text(title.id) + "\";var vfrom=\"" + std::to_string(line) +
         "\";var part=\"" + number_text(episode) + "\";var now=\"" + context.origin +
         stream_path(title, line, episode) + "\";var pn=\"hls\";var next=\"" +
         next_play_path(title, line, episode) + "\";var prePage=\"" +
         previous_play_path(title, line, episode) + "\";";
}

std::string title_path(const Title& title) {
  return "/vod/" + number_text(title.id) + ".html";
}

std::string play_path(const Title& title, int line, size_t episode) {
  return "/play/" + number_text(title.id) + "-" + std::to_string(line) + "-" +
         number_text(episode) + ".html";
}

std::string next_play_path(const Title& title, int line, size_t episode) {
  return episode < title.episodes.size() ? play_path(title, line, episode + 1) : std::string();
}

std::string previous_play_path(const Title& title, int line, size_t episode) {
  return episode > 1 ? play_path(title, line, episode - 1) : std::string();
}

std::string stream_path(const Title& title, int line, size_t episode) {
  return "/stream/" + number_text(title.id) + "/" + std::to_string(line) + "/" +
         number_text(episode) + ".m3u8";
}

std::vector<const Title*> search_titles(const Catalogue& catalogue, std::string_view keyword) {
  std::vector<const Title*> found;
  if (catalogue.titles.empty() || keyword.size() > kMaxKeywordBytes)
    return found;
  if (const auto count = bench_card_count(keyword)) {
    for (size_t i = 0; i < *count; ++i) {
      found.push_back(&catalogue.titles[i % catalogue.titles.size()]);
    }
    return found;
  }
  for (const Title& title : catalogue.titles) {
    if (contains_folded(title.name, keyword) || contains_folded(title.cast, keyword)) {
      found.push_back(&title);
    }
  }
  return found;
}

std::string home_page(const Catalogue& catalogue, const PageContext& context) {
  std::vector<const Title*> all;
  for (const Title& title : catalogue.titles) all.push_back(&title);
  std::string out =
      page_head("免费高清影视在线观看", "青柚影院演示站：最新电影、电视剧、综艺与动漫。");
  out += site_header("");
  out += "<div class=\"fed-part-layout fed-back-whits\">\n";
  out +=
      "<div class=\"fed-list-head fed-part-rows\"><h2 class=\"fed-font-xvi\">最近更新</h2>"
      "<span class=\"fed-text-muted fed-font-xii\">共 " +
      number_text(all.size()) + " 部</span></div>\n";
  out += card_list(all, context);
  out += "</div>\n";
  out += site_footer();
  return out;
}

std::string search_page(const Catalogue& catalogue, std::string_view keyword,
                        const PageContext& context) {
  const std::vector<const Title*> found = search_titles(catalogue, keyword);
  const std::string shown = html_escape(keyword);
  std::string out = page_head(std::string(keyword) + " 搜索结果", "搜索片名与演员。");
  out += site_header(keyword);
  out += "<div class=\"fed-part-layout fed-back-whits\">\n";
  out += "<div class=\"fed-list-head fed-part-rows\"><h2 class=\"fed-font-xvi\">搜索“" + shown +
         "”</h2><span class=\"fed-text-muted fed-font-xii\">共找到 <em>" +
         number_text(found.size()) + "</em> 部相关影片</span></div>\n";
  if (found.empty()) {
    out += "<div class=\"fed-part-tips fed-text-center\"><p>没有找到与“" + shown +
           "”相关的影片。</p><p class=\"fed-text-muted fed-font-xii\">换个关键词试试，"
           "片名或演员名均可。</p></div>\n";
  } else {
    out += card_list(found, context);
    out +=
        "<div class=\"fed-page-info fed-text-center\"><span class=\"fed-btns-info "
        "fed-back-green\">1</span><span class=\"fed-text-muted fed-font-xii\">共1页</span>"
        "</div>\n";
  }
  out += "</div>\n";
  out += site_footer();
  return out;
}

std::string title_page(const Title& title, const PageContext& context) {
  std::string out = page_head(title.name + " " + title.note, title.synopsis);
  out += site_header("");
  out += "<div class=\"fed-part-layout fed-back-whits\">\n";
  out += "<div class=\"fed-crumbs fed-font-xii\"><a href=\"/\">首页</a> &gt; " +
         html_escape(title.category) + " &gt; " + html_escape(title.name) + "</div>\n";
  out += "<div class=\"fed-deta-info fed-part-rows\">\n";
  out += "<div class=\"fed-deta-images\"><img class=\"fed-deta-poster\" src=\"" +
         poster_address(title, context) + "\" alt=\"" + html_escape(title.name) + "\"></div>\n";
  out += "<div class=\"fed-deta-content\">\n";
  out += "<h1 class=\"fed-part-eone fed-font-xvi\">" + html_escape(title.name) +
         " <small class=\"fed-text-muted\">" + html_escape(title.note) + "</small></h1>\n";
  out += "<ul class=\"fed-part-rows\">\n";
  out += detail_row("主演", title.cast);
  out += detail_row("导演", title.director);
  out += detail_row("分类", title.category + " / " + title.genre);
  out += detail_row("地区", title.region);
  out += detail_row("年份", title.year);
  out += detail_row("评分", title.score);
  out += "</ul>\n";
  out += "<p class=\"fed-deta-desc\">" + html_escape(title.synopsis) + "</p>\n";
  out += "</div>\n</div>\n";

  // Tabs name the lines by their captions; the lines' own names head their episode lists only.
  out += "<div class=\"fed-play-tabs fed-part-rows\"><h2 class=\"fed-font-xvi\">在线播放</h2>";
  out += "<ul class=\"fed-tabs-head\">";
  for (int line : title.lines) {
    const PlayLine* play_line = find_play_line(line);
    out += "<li><a href=\"#line-" + std::to_string(line) + "\">" + std::string(play_line->label) +
           "</a></li>";
  }
  out += "</ul></div>\n";
  for (int line : title.lines) {
    const PlayLine* play_line = find_play_line(line);
    out += "<div class=\"fed-play-item fed-drop-item\" id=\"line-" + std::to_string(line) + "\">\n";
    out += "<div class=\"fed-drop-head\"><h3 class=\"fed-line-name\">" +
           std::string(play_line->name) + "</h3><span class=\"fed-text-muted fed-font-xii\">共" +
           number_text(title.episodes.size()) + "集</span></div>\n";
    out += "<ul class=\"fed-part-rows fed-episodes\">\n";
    for (size_t n = 1; n <= title.episodes.size(); ++n) out += episode_link(title, line, n);
    out += "</ul>\n</div>\n";
  }

  out += "<div class=\"fed-down-info fed-part-rows\"><h2 class=\"fed-font-xvi\">下载地址</h2>\n";
  const std::vector<std::string> scripts = download_scripts(title, context);
  for (size_t list = 0; list < scripts.size(); ++list) {
    out += "<ul class=\"fed-down-list\" id=\"downlist-" + number_text(list) + "\"></ul>\n";
    out += "<script type=\"text/javascript\">" + scripts[list] + "</script>\n";
  }
  out += "<p class=\"fed-text-muted fed-font-xii\">复制地址到下载工具中即可下载。</p>\n";
  out += "</div>\n</div>\n";
  out += site_footer();
  return out;
}

std::string play_page(const Title& title, int line, size_t episode, const PageContext& context) {
  const std::string& episode_name = title.episodes[episode - 1];
  const std::string next = next_play_path(title, line, episode);
  const std::string previous = previous_play_path(title, line, episode);
  std::string out = page_head(title.name + " " + episode_name + " 在线播放", title.synopsis);
  out += site_header("");
  out += "<div class=\"fed-part-layout fed-back-whits\">\n";
  out += "<div class=\"fed-crumbs fed-font-xii\"><a href=\"/\">首页</a> &gt; <a href=\"" +
         title_path(title) + "\">" + html_escape(title.name) + "</a> &gt; " +
         html_escape(episode_name) + "</div>\n";
  out +=
      "<div class=\"fed-play-player\" id=\"player\"><div class=\"fed-play-tips\">"
      "播放器加载中……</div></div>\n";
  out += "<script type=\"text/javascript\">" + player_script(title, line, episode, context) +
         "</script>\n";
  out += "<script type=\"text/javascript\">startPlayer(now, pn);</script>\n";
  out += "<div class=\"fed-play-nav fed-text-center\">";
  if (!previous.empty())
    out += "<a class=\"fed-btns-info\" href=\"" + previous + "\">上一集</a>";
  out += "<a class=\"fed-btns-info\" href=\"" + title_path(title) + "\">返回详情</a>";
  if (!next.empty())
    out += "<a class=\"fed-btns-info\" href=\"" + next + "\">下一集</a>";
  out += "</div>\n</div>\n";
  out += site_footer();
  return out;
}

std::string segment_path(const Title& title, int line, size_t episode, size_t segment) {
  const std::string playlist = stream_path(title, line, episode);
  return playlist.substr(0, playlist.size() - 5) + "/" + number_text(segment) + ".ts";
}

std::string download_path(const Title& title, size_t episode) {
  return "/download/" + number_text(title.id) + "/" + number_text(episode) + ".mp4";
}

std::string stream_playlist(const Title& title, int line, size_t episode,
                            std::span<const MediaSegment> segments) {
  uint32_t longest = 0;
  for (const MediaSegment& segment : segments) longest = std::max(longest, segment.milliseconds);
  // Every duration rounded must stay within the target, so the target is rounded up.
  const uint32_t target = (longest + 999) / 1000;
  std::string out = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(target) +
                    "\n#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:VOD\n";
  for (size_t n = 0; n < segments.size(); ++n) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%u.%03u", segments[n].milliseconds / 1000,
                  segments[n].milliseconds % 1000);
    out +=
        "#EXTINF:" + std::string(duration) + ",\n" + segment_path(title, line, episode, n) + "\n";
  }
  out += "#EXT-X-ENDLIST\n";
  return out;
}

std::string not_found_page(const PageContext&) {
  std::string out = page_head("页面不存在", "页面不存在。");
  out += site_header("");
  out +=
      "<div class=\"fed-part-layout fed-back-whits fed-text-center\">"
      "<h2 class=\"fed-font-xvi\">404</h2><p>您访问的页面不存在或已被删除。</p>"
      "<p><a href=\"/\">返回首页</a></p></div>\n";
  out += site_footer();
  return out;
}

}  // namespace demo_site
