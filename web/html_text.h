// Text cut out of a page's markup, made into what a browser would show of it.
//
// Live templates indent their markup, so the text inside a tag may begin and end with line
// breaks and indentation; and a page may write characters as references ("&amp;", "&#23567;",
// "&#x6A58;"). Both work on code page 936 text, as every text of the program is.
#pragma once

#include <string>
#include <string_view>

namespace web {

// The text without the spaces, tabs, CRs, LFs and form feeds around it.
std::string_view trim_html_space(std::string_view text);

// The text with its character references replaced by the characters they name: the numeric
// forms, and the named ones pages use for text (amp, lt, gt, quot, apos, nbsp as a space). A
// character code page 936 lacks becomes "?"; a reference that names nothing (or no character,
// or a 0) stays as it is written.
std::string decode_html_references(std::string_view text);

// What a cell shows of text cut out of markup: references decoded, surrounding space dropped.
std::string shown_text(std::string_view markup_text);

}  // namespace web
