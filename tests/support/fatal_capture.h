// Death-test helpers: the report of a fatal error goes to standard error as hex, so that a
// test can match GBK bytes exactly without regex trouble.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "runtime/fatal.h"

namespace testsupport {

inline std::string hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

inline void report_as_hex(const char* report) {
  std::fprintf(stderr, "REPORT[%s]\n", hex(report).c_str());
}

// Send fatal reports to standard error instead of a message box.
inline void capture_reports() {
  rt::set_report_presenter(&report_as_hex);
}

// The pattern a death test matches for the report of (text, code).
inline std::string expected_report(std::string_view text, int code) {
  return "REPORT\\[" + hex(rt::build_error_report(text, code)) + "\\]";
}

}  // namespace testsupport
