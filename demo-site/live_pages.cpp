#include "demo-site/live_pages.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "demo-site/text_tools.h"

namespace demo_site::live {
namespace {

constexpr std::string_view kSiteName = "青柚影院";

// What sets a title's search card apart from the plain card.
enum class CardVariation {
  plain,
  poster_root_relative,
  no_poster,
  no_remarks,
  poster_scheme_relative,
  title_link_absolute,
  name_references,
  poster_relative,
  empty_cast,
  stray_byte_in_cast,
};

// What sets a title page apart from the plain page.
enum class TitleVariation { plain, tabs_name_lines, gbk_by_header, gbk_by_meta };

// By index in the catalogue, the first title at 0 (film_site.h names the bundled titles).
constexpr std::array kCardVariations = {
    CardVariation::plain,
    CardVariation::poster_root_relative,
    CardVariation::no_poster,
    CardVariation::no_remarks,
    CardVariation::poster_scheme_relative,
    CardVariation::title_link_absolute,
    CardVariation::name_references,
    CardVariation::poster_relative,
    CardVariation::empty_cast,
    CardVariation::stray_byte_in_cast,
};
constexpr std::array<std::pair<size_t, TitleVariation>, 3> kTitleVariations = {{
    {10, TitleVariation::tabs_name_lines},
    {13, TitleVariation::gbk_by_header},
    {14, TitleVariation::gbk_by_meta},
}};

std::optional<size_t> position_of(const Catalogue& catalogue, const Title& title) {
  const Title* first = catalogue.titles.data();
  const Title* end = first + catalogue.titles.size();
  const std::less<const Title*> before;
  if (before(&title, first) || !before(&title, end))
    return std::nullopt;
  return static_cast<size_t>(&title - first);
}

CardVariation card_variation(const Catalogue& catalogue, const Title& title) {
  const std::optional<size_t> position = position_of(catalogue, title);
  if (!position || *position >= kCardVariations.size())
    return CardVariation::plain;
  return kCardVariations[*position];
}

TitleVariation title_variation(const Catalogue& catalogue, const Title& title) {
  const std::optional<size_t> position = position_of(catalogue, title);
  for (const auto& [at, variation] : kTitleVariations) {
    if (position == at)
      return variation;
  }
  return TitleVariation::plain;
}

// How one template part lays out its lines. A template is put together from parts written in
// different editors, so indentation and line ends change from part to part.
struct LineStyle {
  std::string_view indent;
  std::string_view end;
};
constexpr LineStyle kHeadStyle{"    ", "\n"};
constexpr LineStyle kHeaderStyle{"\t", "\r\n"};
constexpr LineStyle kContentStyle{"  ", "\n"};
constexpr LineStyle kCardStyle{"  ", "\r\n"};
constexpr LineStyle kEpisodeStyle{"\t", "\r\n"};
constexpr LineStyle kFooterStyle{"\t", "\n"};

// A page written line by line, each line indented by how many elements are open around it.
class Lines {
 public:
  void use(LineStyle style) { style_ = style; }
  LineStyle style() const { return style_; }

  void line(std::string_view text) {
    for (int i = 0; i < depth_; ++i) out_ += style_.indent;
    out_ += text;
    out_ += style_.end;
  }
  void open(std::string_view tag) {
    line(tag);
    ++depth_;
  }
  void close(std::string_view tag) {
    if (depth_ > 0)
      --depth_;
    line(tag);
  }

  std::string take() { return std::move(out_); }

 private:
  std::string out_;
  int depth_ = 0;
  LineStyle style_ = kContentStyle;
};

// A part written in its own style inside a part of another.
class StyleScope {
 public:
  StyleScope(Lines& lines, LineStyle style) : lines_(lines), saved_(lines.style()) {
    lines.use(style);
  }
  ~StyleScope() { lines_.use(saved_); }
  StyleScope(const StyleScope&) = delete;
  StyleScope& operator=(const StyleScope&) = delete;

 private:
  Lines& lines_;
  LineStyle saved_;
};

std::string class_attribute(std::string_view value) {
  return "class=\"" + std::string(value) + "\"";
}

enum class Charset { utf8_declared, undeclared, gbk_declared };

void page_head(Lines& w, std::string_view page_title, std::string_view description_html,
               Charset charset) {
  w.use(kHeadStyle);
  w.line("<!DOCTYPE html>");
  w.open("<html lang=\"zh-CN\">");
  w.open("<head>");
  switch (charset) {
    case Charset::utf8_declared:
      w.line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
      break;
    case Charset::gbk_declared:
      w.line("<meta charset=\"gbk\">");
      break;
    case Charset::undeclared:
      break;
  }
  w.line("<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">");
  w.line("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">");
  w.line("<title>" + html_escape(page_title) + " - " + std::string(kSiteName) + "</title>");
  w.line("<meta name=\"keywords\" content=\"青柚影院,在线观看,高清电影,电视剧,综艺,动漫\">");
  w.line("<meta name=\"description\" content=\"" + std::string(description_html) + "\">");
  w.line("<link rel=\"stylesheet\" href=\"/static/site.css\" type=\"text/css\">");
  w.line("<script type=\"text/javascript\" src=\"/static/site.js\"></script>");
  w.close("</head>");
}

void site_header(Lines& w, std::string_view keyword) {
  struct MenuItem {
    std::string_view address, caption;
  };
  static constexpr MenuItem kMenu[] = {
      {"/", "首页"},
      {"/search.php?searchword=%E7%94%B5%E5%BD%B1", "电影"},
      {"/search.php?searchword=%E5%89%A7%E9%9B%86", "剧集"},
      {"/search.php?searchword=%E7%BB%BC%E8%89%BA", "综艺"},
      {"/search.php?searchword=%E5%8A%A8%E6%BC%AB", "动漫"},
  };
  w.use(kHeaderStyle);
  w.open("<body class=\"fed-min-width\">");
  w.open("<div class=\"fed-head-info fed-back-whits fed-min-width\">");
  w.open("<div class=\"fed-part-case\">");
  w.open("<a class=\"fed-head-logo fed-show-md-block\" href=\"/\" title=\"" +
         std::string(kSiteName) + "\">");
  w.line("<span class=\"logo-mark\">柚</span>" + std::string(kSiteName));
  w.close("</a>");
  w.open("<ul class=\"fed-menu-info\">");
  for (const MenuItem& item : kMenu) {
    w.open("<li class=\"fed-menu-item\">");
    w.line("<a href=\"" + std::string(item.address) + "\">" + std::string(item.caption) + "</a>");
    w.close("</li>");
  }
  w.close("</ul>");
  w.open("<form class=\"fed-navs-search\" action=\"/search.php\" method=\"get\">");
  w.line("<input class=\"fed-search-keys\" type=\"text\" name=\"searchword\" value=\"" +
         html_escape(keyword) + "\" placeholder=\"输入片名或演员\" autocomplete=\"off\">");
  w.line("<button class=\"fed-search-btns\" type=\"submit\">搜索</button>");
  w.close("</form>");
  w.close("</div>");
  w.close("</div>");
  w.open("<div class=\"fed-main-info fed-min-width\">");
  w.open("<div class=\"fed-part-case\">");
  w.use(kContentStyle);
}

void site_footer(Lines& w) {
  w.use(kFooterStyle);
  w.close("</div>");
  w.close("</div>");
  w.open("<div class=\"fed-foot-info fed-part-layout fed-back-whits\">");
  w.open("<div class=\"fed-part-case fed-text-center\">");
  w.line(
      "<p class=\"fed-font-xii\">本站为 Film Finder "
      "的演示站点，片目、演员与地址均为虚构，仅供测试。</p>");
  w.line("<p class=\"fed-font-xii\">&copy; " + std::string(kSiteName) +
         " · <a href=\"/\">返回首页</a> · <a href=\"#top\">回到顶部</a></p>");
  w.close("</div>");
  w.close("</div>");
  w.line("<script type=\"text/javascript\">siteReady();</script>");
  w.close("</body>");
  w.close("</html>");
}

// "//host:port" for "http://host:port".
std::string scheme_relative(const std::string& origin) {
  const size_t slashes = origin.find("//");
  return slashes == std::string::npos ? "//" + origin : origin.substr(slashes);
}

std::optional<std::string> poster_address(CardVariation variation, const Title& title,
                                          const PageContext& context) {
  const std::string path = "/posters/" + title.poster;
  switch (variation) {
    case CardVariation::no_poster:
      return std::nullopt;
    case CardVariation::poster_root_relative:
      return path;
    case CardVariation::poster_scheme_relative:
      return scheme_relative(context.origin) + path;
    case CardVariation::poster_relative:
      return path.substr(1);  // cards are only on "/" and "/search.php"
    case CardVariation::plain:
    case CardVariation::no_remarks:
    case CardVariation::title_link_absolute:
    case CardVariation::name_references:
    case CardVariation::empty_cast:
    case CardVariation::stray_byte_in_cast:
      break;
  }
  return context.origin + path;
}

uint32_t code_point(std::string_view sequence) {
  static constexpr uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t value = static_cast<uint8_t>(sequence[0]) & kLeadBits[sequence.size()];
  for (size_t i = 1; i < sequence.size(); ++i) {
    value = (value << 6) | (static_cast<uint8_t>(sequence[i]) & 0x3Fu);
  }
  return value;
}

// The first character as a decimal character reference and the last as a hexadecimal one, the
// way some templates write what they will not trust to the page's encoding.
std::string name_with_references(std::string_view name) {
  std::vector<std::string_view> characters;
  for (size_t at = 0; at < name.size();) {
    const size_t length = utf8_sequence_length(name, at);
    if (length == 0)
      return html_escape(name);
    characters.push_back(name.substr(at, length));
    at += length;
  }
  if (characters.empty())
    return {};
  std::string out = "&#" + std::to_string(code_point(characters.front())) + ";";
  if (characters.size() == 1)
    return out;
  for (size_t i = 1; i + 1 < characters.size(); ++i) out += html_escape(characters[i]);
  char hex[16];
  std::snprintf(hex, sizeof hex, "&#x%X;", static_cast<unsigned>(code_point(characters.back())));
  return out + hex;
}

void search_card(Lines& w, const Catalogue& catalogue, const Title& title,
                 const PageContext& context) {
  const CardVariation variation = card_variation(catalogue, title);
  const std::string path = variation == CardVariation::title_link_absolute
                               ? context.origin + title_path(title)
                               : title_path(title);
  std::string poster_link =
      "<a class=\"fed-list-pics fed-lazy fed-part-2by3\" href=\"" + path + "\"";
  if (const auto poster = poster_address(variation, title, context)) {
    poster_link += " data-original=\"" + *poster + "\"";
  }
  const std::string name = variation == CardVariation::name_references
                               ? name_with_references(title.name)
                               : html_escape(title.name);
  std::string cast = variation == CardVariation::empty_cast ? "" : html_escape(title.cast);
  if (variation == CardVariation::stray_byte_in_cast) {
    // A byte no UTF-8 text holds, after the first name.
    cast.insert(std::min(cast.find(','), cast.size()), "\xFF");
  }

  const StyleScope style(w, kCardStyle);
  w.open("<li class=\"fed-list-item fed-padding fed-col-xs4 fed-col-sm3 fed-col-md2\">");
  w.open(poster_link + ">");
  w.line("<span class=\"fed-list-play fed-hide-xs\"></span>");
  w.line("<span class=\"fed-list-score fed-font-xii fed-back-green\">" + html_escape(title.score) +
         "</span>");
  if (variation != CardVariation::no_remarks) {
    w.line("<span " + class_attribute(kCardRemarksClass) + ">" + html_escape(title.note) +
           "</span>");
  }
  w.close("</a>");
  w.line("<a " + class_attribute(kCardTitleClass) + " href=\"" + path + "\">" + name + "</a>");
  w.line("<span " + class_attribute(kCardCastClass) + ">" + cast + "</span>");
  w.close("</li>");
}

void card_list(Lines& w, const Catalogue& catalogue, const std::vector<const Title*>& titles,
               const PageContext& context) {
  w.open("<ul class=\"fed-list-info fed-part-rows\">");
  for (const Title* title : titles) search_card(w, catalogue, *title, context);
  w.close("</ul>");
}

void list_head(Lines& w, const std::string& heading_html, const std::string& count_html) {
  w.open("<div class=\"fed-list-head fed-part-rows\">");
  w.line("<h2 class=\"fed-font-xvi\">" + heading_html + "</h2>");
  w.line("<span class=\"fed-text-muted fed-font-xii\">" + count_html + "</span>");
  w.close("</div>");
}

void detail_row(Lines& w, std::string_view label, std::string_view value) {
  w.line("<li class=\"fed-part-eone\"><span class=\"fed-text-muted\">" + std::string(label) +
         "：</span>" + html_escape(value) + "</li>");
}

std::string render_title_page(const Title& title, TitleVariation variation, Charset charset,
                              const PageContext& context) {
  Lines w;
  page_head(w, title.name + " " + title.note, html_escape(title.synopsis), charset);
  site_header(w, "");
  w.open("<div class=\"fed-part-layout fed-back-whits\">");
  w.open("<div class=\"fed-crumbs fed-font-xii\">");
  w.line("<a href=\"/\">首页</a> &gt; " + html_escape(title.category) + " &gt; " +
         html_escape(title.name));
  w.close("</div>");
  w.open("<div class=\"fed-deta-info fed-part-rows\">");
  w.open("<div class=\"fed-deta-images\">");
  w.line("<img class=\"fed-deta-poster\" src=\"" + context.origin + "/posters/" + title.poster +
         "\" alt=\"" + html_escape(title.name) + "\">");
  w.close("</div>");
  w.open("<div class=\"fed-deta-content\">");
  w.line("<h1 class=\"fed-part-eone fed-font-xvi\">" + html_escape(title.name) +
         " <small class=\"fed-text-muted\">" + html_escape(title.note) + "</small></h1>");
  w.open("<ul class=\"fed-part-rows\">");
  detail_row(w, "主演", title.cast);
  detail_row(w, "导演", title.director);
  detail_row(w, "分类", title.category + " / " + title.genre);
  detail_row(w, "地区", title.region);
  detail_row(w, "年份", title.year);
  detail_row(w, "评分", title.score);
  w.close("</ul>");
  w.line("<p class=\"fed-deta-desc\">" + html_escape(title.synopsis) + "</p>");
  w.close("</div>");
  w.close("</div>");

  w.open("<div class=\"fed-play-tabs fed-part-rows\">");
  w.line("<h2 class=\"fed-font-xvi\">在线播放</h2>");
  w.open("<ul class=\"fed-tabs-head\">");
  for (const int line : title.lines) {
    const PlayLine* play_line = find_play_line(line);
    const std::string_view caption =
        variation == TitleVariation::tabs_name_lines ? play_line->name : play_line->label;
    w.line("<li><a href=\"#line-" + std::to_string(line) + "\">" + std::string(caption) +
           "</a></li>");
  }
  w.close("</ul>");
  w.close("</div>");
  for (const int line : title.lines) {
    const PlayLine* play_line = find_play_line(line);
    w.open("<div class=\"fed-play-item fed-drop-item\" id=\"line-" + std::to_string(line) + "\">");
    w.open("<div class=\"fed-drop-head\">");
    w.line("<h3 class=\"fed-line-name\">" + std::string(play_line->name) + "</h3>");
    w.line("<span class=\"fed-text-muted fed-font-xii\">共" +
           std::to_string(title.episodes.size()) + "集</span>");
    w.close("</div>");
    w.open("<ul class=\"fed-part-rows fed-episodes\">");
    {
      const StyleScope style(w, kEpisodeStyle);
      for (size_t n = 1; n <= title.episodes.size(); ++n) {
        w.open("<li class=\"fed-padding fed-col-xs3 fed-col-md2\">");
        w.line(episode_anchor(title, line, n));
        w.close("</li>");
      }
    }
    w.close("</ul>");
    w.close("</div>");
  }

  w.open("<div class=\"fed-down-info fed-part-rows\">");
  w.line("<h2 class=\"fed-font-xvi\">下载地址</h2>");
  const std::vector<std::string> scripts = download_scripts(title, context);
  for (size_t list = 0; list < scripts.size(); ++list) {
    w.line("<ul class=\"fed-down-list\" id=\"downlist-" + std::to_string(list) + "\"></ul>");
    w.open("<script type=\"text/javascript\">");
    w.line(scripts[list]);
    w.close("</script>");
  }
  w.line("<p class=\"fed-text-muted fed-font-xii\">复制地址到下载工具中即可下载。</p>");
  w.close("</div>");
  w.close("</div>");
  site_footer(w);
  return w.take();
}

}  // namespace

std::string home_page(const Catalogue& catalogue, const PageContext& context) {
  std::vector<const Title*> all;
  for (const Title& title : catalogue.titles) all.push_back(&title);
  Lines w;
  page_head(w, "免费高清影视在线观看",
            html_escape("青柚影院演示站：最新电影、电视剧、综艺与动漫。"), Charset::utf8_declared);
  site_header(w, "");
  w.open("<div class=\"fed-part-layout fed-back-whits\">");
  list_head(w, "最近更新", "共 " + std::to_string(all.size()) + " 部");
  card_list(w, catalogue, all, context);
  w.close("</div>");
  site_footer(w);
  return w.take();
}

std::string search_page(const Catalogue& catalogue, std::string_view keyword,
                        const PageContext& context) {
  const std::vector<const Title*> found = search_titles(catalogue, keyword);
  const std::string shown = html_escape(keyword);
  // The template cuts the description at a byte count, here through the middle of "员": the
  // head carries one stray lead byte.
  const std::string description(std::string_view("搜索片名与演员").substr(0, 19));
  Lines w;
  page_head(w, std::string(keyword) + " 搜索结果", description, Charset::utf8_declared);
  site_header(w, keyword);
  w.open("<div class=\"fed-part-layout fed-back-whits\">");
  list_head(w, "搜索“" + shown + "”",
            "共找到 <em>" + std::to_string(found.size()) + "</em> 部相关影片");
  if (found.empty()) {
    w.open("<div class=\"fed-part-tips fed-text-center\">");
    w.line("<p>没有找到与“" + shown + "”相关的影片。</p>");
    w.line("<p class=\"fed-text-muted fed-font-xii\">换个关键词试试，片名或演员名均可。</p>");
    w.close("</div>");
  } else {
    card_list(w, catalogue, found, context);
    w.open("<div class=\"fed-page-info fed-text-center\">");
    w.line("<span class=\"fed-btns-info fed-back-green\">1</span>");
    w.line("<span class=\"fed-text-muted fed-font-xii\">共1页</span>");
    w.close("</div>");
  }
  w.close("</div>");
  site_footer(w);
  return w.take();
}

EncodedPage title_page(const Catalogue& catalogue, const Title& title, const PageContext& context) {
  const TitleVariation variation = title_variation(catalogue, title);
  if (variation == TitleVariation::gbk_by_header || variation == TitleVariation::gbk_by_meta) {
    const bool by_header = variation == TitleVariation::gbk_by_header;
    const Charset charset = by_header ? Charset::undeclared : Charset::gbk_declared;
    if (auto gbk = utf8_to_gbk(render_title_page(title, variation, charset, context))) {
      return {std::move(*gbk), by_header ? "text/html; charset=gbk" : "text/html"};
    }
  }
  // Without a GBK converter the page goes out as UTF-8, declared as such.
  return {render_title_page(title, variation, Charset::utf8_declared, context),
          std::string(kUtf8Html)};
}

std::string play_page(const Title& title, int line, size_t episode, const PageContext& context) {
  const std::string& episode_name = title.episodes[episode - 1];
  const std::string next = next_play_path(title, line, episode);
  const std::string previous = previous_play_path(title, line, episode);
  Lines w;
  page_head(w, title.name + " " + episode_name + " 在线播放", html_escape(title.synopsis),
            Charset::utf8_declared);
  site_header(w, "");
  w.open("<div class=\"fed-part-layout fed-back-whits\">");
  w.open("<div class=\"fed-crumbs fed-font-xii\">");
  w.line("<a href=\"/\">首页</a> &gt; <a href=\"" + title_path(title) + "\">" +
         html_escape(title.name) + "</a> &gt; " + html_escape(episode_name));
  w.close("</div>");
  w.open("<div class=\"fed-play-player\" id=\"player\">");
  w.line("<div class=\"fed-play-tips\">播放器加载中……</div>");
  w.close("</div>");
  w.open("<script type=\"text/javascript\">");
  w.line(player_script(title, line, episode, context));
  w.close("</script>");
  w.line("<script type=\"text/javascript\">startPlayer(now, pn);</script>");
  w.open("<div class=\"fed-play-nav fed-text-center\">");
  if (!previous.empty())
    w.line("<a class=\"fed-btns-info\" href=\"" + previous + "\">上一集</a>");
  w.line("<a class=\"fed-btns-info\" href=\"" + title_path(title) + "\">返回详情</a>");
  if (!next.empty())
    w.line("<a class=\"fed-btns-info\" href=\"" + next + "\">下一集</a>");
  w.close("</div>");
  w.close("</div>");
  site_footer(w);
  return w.take();
}

std::string not_found_page(const PageContext&) {
  Lines w;
  page_head(w, "页面不存在", html_escape("页面不存在。"), Charset::utf8_declared);
  site_header(w, "");
  w.open("<div class=\"fed-part-layout fed-back-whits fed-text-center\">");
  w.line("<h2 class=\"fed-font-xvi\">404</h2>");
  w.line("<p>您访问的页面不存在或已被删除。</p>");
  w.line("<p><a href=\"/\">返回首页</a></p>");
  w.close("</div>");
  site_footer(w);
  return w.take();
}

}  // namespace demo_site::live
