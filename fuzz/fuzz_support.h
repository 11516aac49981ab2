// Shared pieces of the harnesses: a check that names what failed, one input cut into fields,
// and the start-up that commands called through argument cells expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "runtime/heap.h"

namespace fuzz {

[[noreturn]] inline void check_failed(const char* what, int line) {
  std::fprintf(stderr, "check failed at line %d: %s\n", line, what);
  std::abort();
}

// A disagreement with the harness's reference is a finding: abort so libFuzzer keeps the input.
#define FF_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzz::check_failed(#condition, __LINE__))

// Reads an input front to back: option bytes first, then texts separated by zero bytes (texts
// of the program end at their first zero byte, so none is lost). Past the end, bytes read as 0
// and fields as empty.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  uint8_t byte() {
    if (rest_.empty())
      return 0;
    const auto b = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // A small number, negative ones included.
  int32_t small_int() { return static_cast<int8_t>(byte()); }
  // The bytes up to the next zero byte, which is taken as well.
  std::string_view field() {
    const size_t zero = rest_.find('\0');
    const std::string_view f = rest_.substr(0, zero);
    rest_.remove_prefix(zero == std::string_view::npos ? rest_.size() : zero + 1);
    return f;
  }
  std::string_view rest() {
    const std::string_view r = rest_;
    rest_ = {};
    return r;
  }

 private:
  std::string_view rest_;
};

// The runtime's constant data area, as the program records it at start-up: literal texts in it
// are never freed.
inline void start_runtime() {
  const rt::ConstantArea area = rt::linker_constant_area();
  rt::record_constant_area(area.start, area.length);
}

}  // namespace fuzz

// A harness whose code calls commands through argument cells starts the runtime first.
#define FF_FUZZ_WITH_RUNTIME()                         \
  extern "C" int LLVMFuzzerInitialize(int*, char***) { \
    ::fuzz::start_runtime();                           \
    return 0;                                          \
  }
