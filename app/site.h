// What the program reads in the film site's pages, and the texts it shows while it reads them.
// The application, its tests and the benchmarks share these; tests still pin the texts a user
// sees as literals of their own.
//
// The patterns run with the regular-expression object's defaults: letter case ignored,
// multi-line, every match. Templates put white space (spaces, tabs, CR, LF) between and inside
// tags, so the patterns allow it there; the compact pages, with nothing between the tags, read
// the same.
#pragma once

namespace app::site {

inline constexpr char kSearchPath[] = "/search.php?searchword=";
// Links on the search page are resolved against this page of the site.
inline constexpr char kSearchPage[] = "/search.php";

// One result card, from its <li> to the </li> after the cast line. The poster and the note are
// looked for only in the card's head, before its title link, so that no card takes another's.
// Groups: 1 the poster's address (data-original, optional), 2 the note on the
// poster (the remarks span, optional), 3 the title page's address, 4 the title's name, 5 the
// cast.
inline constexpr char kCardPattern[] =
    "<li\\b[^>]*>"
    "(?:(?:(?!<li\\b|fed-list-title)[\\s\\S])*?\\sdata-original\\s*=\\s*\"([^\"]*)\")?"
    "(?:(?:(?!<li\\b|fed-list-title)[\\s\\S])*?"
    "text-white fed-text-center\"\\s*>([\\s\\S]*?)</span>)?"
    "(?:(?!<li\\b|fed-list-title)[\\s\\S])*?"
    "<a\\s+class=\"fed-list-title[^\"]*\"\\s+href=\"([\\s\\S]*?)\"\\s*>([\\s\\S]*?)</a>\\s*"
    "<span\\s+class=\"fed-list-desc[^\"]*\"\\s*>([\\s\\S]*?)</span>\\s*</li>";
inline constexpr int kCardPoster = 1;
inline constexpr int kCardNote = 2;
inline constexpr int kCardAddress = 3;
inline constexpr int kCardName = 4;
inline constexpr int kCardCast = 5;

// An episode link of a play source's section. Groups: 1 the play page's address, 2 the
// episode's name.
inline constexpr char kEpisodePattern[] =
    "'\\s+href\\s*=\\s*'([\\s\\S]*?)'\\s+target\\s*=\\s*\"_self\"\\s*>([\\s\\S]*?)</a>";
inline constexpr int kEpisodeAddress = 1;
inline constexpr int kEpisodeName = 2;

// The episode section lies between the names of two play sources. A tab bar may name them
// first; the section is the first pair that holds links, of at most kMaxSectionPairs.
inline constexpr char kPlaySourceStart[] = "zuidall直连";
inline constexpr char kPlaySourceEnd[] = "zuidam3u8";
inline constexpr int kMaxSectionPairs = 16;

// Script values, cut out between fixed markers.
inline constexpr char kDownloadStart[] = "var GvodUrls1 = \"";
inline constexpr char kDownloadEnd[] = "\";echoDown(GvodUrls1,0)";
inline constexpr char kStreamStart[] = "\";var now=\"";
inline constexpr char kStreamEnd[] = "\";var pn=";

// Status texts.
inline constexpr char kSearching[] = "搜索中，请耐心等待......";
inline constexpr char kSearchFailed[] = "查询失败，请重新尝试搜索......";
inline constexpr char kLoading[] = "加载中......";
inline constexpr char kPosterLoading[] = "图片加载中.....";
inline constexpr char kFetching[] = "正在获取，请耐心等待......";
inline constexpr char kNothingFound[] = "网页返回为空，请重新尝试单击获取......";
inline constexpr char kJumping[] = "跳转中......";
// When an episode cannot be played: the play page names no stream, or nothing on this computer
// opens it.
inline constexpr char kNoStream[] = "未找到播放地址";
inline constexpr char kNoPlayer[] = "没有可打开此地址的播放器";

// What one page may fill: far more than a film site lists on one page, few enough that a
// hostile page cannot keep the window busy or the memory growing.
inline constexpr int kMaxResultRows = 1000;
inline constexpr int kMaxEpisodeRows = 5000;

}  // namespace app::site
