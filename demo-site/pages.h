// The demo film site's pages in the compact shape (live_pages.h has the live one), rendered as
// whole HTML documents in UTF-8.
//
// What the program reads out of them is fixed; everything around it is ordinary site markup:
// - search page: one card per result; the poster's remark span ends in
//   `text-white fed-text-center">note</span></a>`, followed by the title link and the cast line,
//   and the poster link carries `data-original="<poster address>"><span class="`;
// - title page: one episode list per play line, each headed by the line's name, links written as
//   `title='name' href='/play/...' target="_self">name</a>`; the download list in
//   `var GvodUrls1 = "label$address###...";echoDown(GvodUrls1,0)`;
// - play page: `...";var now="<stream address>";var pn=...` in its script.
// Poster and stream addresses are whole addresses on `origin`; title and play pages are paths.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "demo-site/catalogue.h"
#include "demo-site/media.h"

namespace demo_site {

struct PageContext {
  std::string origin;  // "http://host:port", no trailing slash
};

// Titles whose name or cast contains `keyword` (ASCII letters folded), in catalogue order. The
// keyword "cards:N" (N from 1 to kMaxBenchCards) answers N cards cycling through the catalogue,
// for measuring large result pages. A keyword longer than kMaxKeywordBytes finds nothing.
inline constexpr size_t kMaxBenchCards = 1000;
inline constexpr size_t kMaxKeywordBytes = 256;
std::vector<const Title*> search_titles(const Catalogue& catalogue, std::string_view keyword);

std::string home_page(const Catalogue& catalogue, const PageContext& context);
std::string search_page(const Catalogue& catalogue, std::string_view keyword,
                        const PageContext& context);
std::string title_page(const Title& title, const PageContext& context);
// `episode` counts from 1; the caller has checked it and the line against the title.
std::string play_page(const Title& title, int line, size_t episode, const PageContext& context);
// A VOD media playlist listing `segments` at segment_path() addresses, with their durations.
// `segments` is not empty.
std::string stream_playlist(const Title& title, int line, size_t episode,
                            std::span<const MediaSegment> segments);
std::string not_found_page(const PageContext& context);

// Class attributes of the card parts the program reads; every page shape writes them alike.
inline constexpr std::string_view kCardRemarksClass =
    "fed-list-remarks fed-font-xii fed-text-white fed-text-center";
inline constexpr std::string_view kCardTitleClass =
    "fed-list-title fed-font-xiv fed-text-center fed-text-sm-left fed-visible fed-part-eone";
inline constexpr std::string_view kCardCastClass =
    "fed-list-desc fed-font-xii fed-visible fed-part-eone fed-text-muted fed-hide-xs "
    "fed-show-sm-block";

// `<a ... title='name' href='/play/...' target="_self">name</a>`, one episode's link.
std::string episode_anchor(const Title& title, int line, size_t episode);
// Script texts stay as they are in every shape (templates do not reformat scripts): the
// download lists' `var GvodUrls1 = "...";echoDown(GvodUrls1,0);` and so on, one per list, and
// the play page's variables with `...";var now="<stream address>";var pn=...`.
std::vector<std::string> download_scripts(const Title& title, const PageContext& context);
std::string player_script(const Title& title, int line, size_t episode, const PageContext& context);

std::string title_path(const Title& title);
std::string play_path(const Title& title, int line, size_t episode);
// The play page of the episode after or before `episode` on the same line; empty at either end.
std::string next_play_path(const Title& title, int line, size_t episode);
std::string previous_play_path(const Title& title, int line, size_t episode);
std::string stream_path(const Title& title, int line, size_t episode);
// `segment` counts from 0, in playlist order.
std::string segment_path(const Title& title, int line, size_t episode, size_t segment);
std::string download_path(const Title& title, size_t episode);

}  // namespace demo_site
