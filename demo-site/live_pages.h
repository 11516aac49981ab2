// The demo film site's pages in the live shape: what a live site built on the same template
// sends. Same catalogue, same addresses, same script texts as the compact pages, but indented,
// one tag after a line break, and with the variations listed in film_site.h, each tied to a
// title's position in the catalogue.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "demo-site/catalogue.h"
#include "demo-site/pages.h"

namespace demo_site::live {

// A page with the Content-Type it goes out with (some title pages are GBK).
struct EncodedPage {
  std::string body;
  std::string content_type;
};

inline constexpr std::string_view kUtf8Html = "text/html; charset=utf-8";

std::string home_page(const Catalogue& catalogue, const PageContext& context);
std::string search_page(const Catalogue& catalogue, std::string_view keyword,
                        const PageContext& context);
// `title` is one of `catalogue`'s titles.
EncodedPage title_page(const Catalogue& catalogue, const Title& title, const PageContext& context);
// `episode` counts from 1; the caller has checked it and the line against the title.
std::string play_page(const Title& title, int line, size_t episode, const PageContext& context);
std::string not_found_page(const PageContext& context);

}  // namespace demo_site::live
