// Small helpers the timing programs share.
#pragma once

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// The middle value (the upper one of an even count).
inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A "VmRSS:"-style field of /proc/self/status in KiB, or -1.
inline long status_kib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0)
      return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

}  // namespace bench
