#include "runtime/heap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/fatal.h"

// Defined by the linker when any object of the executable lands in the "ff_const" section.
extern "C" {
extern const uint8_t __start_ff_const[] __attribute__((weak));
extern const uint8_t __stop_ff_const[] __attribute__((weak));
}

namespace rt {
namespace {

ConstantArea g_constant_area;

[[noreturn]] void out_of_memory(size_t n) {
  char message[100];
  std::snprintf(message, sizeof message, "分配 %zu 字节内存失败!", n);
  fatal_error(message, 0);
}

}  // namespace

void* allocate_or_null(size_t n) {
  return std::malloc(n == 0 ? 1 : n);
}

void* allocate(size_t n) {
  void* p = allocate_or_null(n);
  if (!p)
    out_of_memory(n);
  return p;
}

void free_block(void* p) {
  if (!p || g_constant_area.contains(p))
    return;
  std::free(p);
}

void* reallocate(void* p, size_t n) {
  if (!p)
    return allocate(n);
  if (g_constant_area.contains(p)) {
    void* fresh = allocate(n);
    const auto offset = static_cast<size_t>(static_cast<const uint8_t*>(p) - g_constant_area.start);
    std::memcpy(fresh, p, std::min(n, g_constant_area.length - offset));
    return fresh;
  }
  void* q = std::realloc(p, n == 0 ? 1 : n);
  if (!q)
    out_of_memory(n);
  return q;
}

void record_constant_area(const void* start, size_t length) {
  if (length == 0)
    return;
  g_constant_area = {static_cast<const uint8_t*>(start), length};
}

const ConstantArea& constant_area() {
  return g_constant_area;
}

bool in_constant_area(const void* p) {
  return g_constant_area.contains(p);
}

ConstantArea linker_constant_area() {
  if (!__start_ff_const || !__stop_ff_const)
    return {};
  return {__start_ff_const, static_cast<size_t>(__stop_ff_const - __start_ff_const)};
}

}  // namespace rt
