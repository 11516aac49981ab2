#include "runtime/heap.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

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

// The shared blocks by start address, with the address range they span together. free_block
// looks a pointer up only inside that range, so while no shared block lives a free costs two
// loads more. A thread frees only texts it owns, and a block with an owned text stays in the
// range whatever other threads add or remove meanwhile: reading the bounds needs no lock.
struct SharedBlock {
  uintptr_t end;
  size_t shares;
};
struct SharedBlocks {
  std::mutex mutex;
  std::map<uintptr_t, SharedBlock> blocks;

  std::map<uintptr_t, SharedBlock>::iterator find(uintptr_t a) {
    auto it = blocks.upper_bound(a);
    if (it == blocks.begin())
      return blocks.end();
    --it;
    return a < it->second.end ? it : blocks.end();
  }
};
std::atomic<uintptr_t> g_shared_low{UINTPTR_MAX};
std::atomic<uintptr_t> g_shared_high{0};

// Never destroyed: texts may still be freed while the program's statics go.
SharedBlocks& shared_blocks() {
  static SharedBlocks* blocks = new SharedBlocks;
  return *blocks;
}

bool maybe_shared(const void* p) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  return a >= g_shared_low.load(std::memory_order_relaxed) &&
         a < g_shared_high.load(std::memory_order_relaxed);
}

// Under the lock, after blocks came or went.
void update_shared_range(const SharedBlocks& shared) {
  if (shared.blocks.empty()) {
    g_shared_low.store(UINTPTR_MAX, std::memory_order_relaxed);
    g_shared_high.store(0, std::memory_order_relaxed);
    return;
  }
  // Blocks never overlap, so the last to start is the last to end.
  g_shared_low.store(shared.blocks.begin()->first, std::memory_order_relaxed);
  g_shared_high.store(shared.blocks.rbegin()->second.end, std::memory_order_relaxed);
}

// Gives back `count` of the block's shares, under the lock; true when the block went.
bool give_back(SharedBlocks& shared, std::map<uintptr_t, SharedBlock>::iterator it, size_t count) {
  if (it->second.shares > count) {
    it->second.shares -= count;
    return false;
  }
  std::free(reinterpret_cast<void*>(it->first));
  shared.blocks.erase(it);
  return true;
}

// True when p is a text of a shared block, whose share is then given back.
bool free_shared(const void* p) {
  SharedBlocks& shared = shared_blocks();
  const std::lock_guard<std::mutex> lock(shared.mutex);
  const auto it = shared.find(reinterpret_cast<uintptr_t>(p));
  if (it == shared.blocks.end())
    return false;
  if (give_back(shared, it, 1))
    update_shared_range(shared);
  return true;
}

// The bytes from p to the end of its shared block; 0 when p lies in none.
size_t shared_extent(const void* p) {
  SharedBlocks& shared = shared_blocks();
  const std::lock_guard<std::mutex> lock(shared.mutex);
  const auto a = reinterpret_cast<uintptr_t>(p);
  const auto it = shared.find(a);
  return it == shared.blocks.end() ? 0 : it->second.end - a;
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
  if (maybe_shared(p) && free_shared(p))
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
  if (maybe_shared(p)) {
    if (const size_t extent = shared_extent(p); extent > 0) {
      void* fresh = allocate(n);
      std::memcpy(fresh, p, std::min(n, extent));
      free_block(p);
      return fresh;
    }
  }
  void* q = std::realloc(p, n == 0 ? 1 : n);
  if (!q)
    out_of_memory(n);
  return q;
}

void* allocate_shared(size_t n) {
  return allocate(n);
}

void share(void* block, size_t n, size_t shares) {
  if (!block)
    return;
  if (shares == 0) {
    std::free(block);
    return;
  }
  SharedBlocks& shared = shared_blocks();
  const std::lock_guard<std::mutex> lock(shared.mutex);
  const auto start = reinterpret_cast<uintptr_t>(block);
  shared.blocks[start] = SharedBlock{start + std::max<size_t>(n, 1), shares};
  update_shared_range(shared);
}

void free_pointers(const void* pointers, size_t count) {
  const auto* at = static_cast<const uint8_t*>(pointers);
  const auto pointer_at = [at](size_t i) {
    void* p;
    std::memcpy(&p, at + i * sizeof p, sizeof p);
    return p;
  };
  if (g_shared_high.load(std::memory_order_relaxed) == 0) {
    for (size_t i = 0; i < count; ++i) free_block(pointer_at(i));
    return;
  }
  SharedBlocks& shared = shared_blocks();
  const std::lock_guard<std::mutex> lock(shared.mutex);
  auto block = shared.blocks.end();  // the shared block of the run being freed ...
  size_t run = 0;                    // ... and how many of its texts the run has so far
  bool changed = false;
  for (size_t i = 0; i <= count; ++i) {
    void* p = i < count ? pointer_at(i) : nullptr;
    if (i < count && (!p || g_constant_area.contains(p)))
      continue;
    const auto a = reinterpret_cast<uintptr_t>(p);
    if (run > 0 && i < count && a >= block->first && a < block->second.end) {
      ++run;
      continue;
    }
    if (run > 0) {
      changed |= give_back(shared, block, run);
      run = 0;
    }
    if (i == count)
      break;
    block = shared.find(a);
    if (block != shared.blocks.end()) {
      run = 1;
    } else {
      std::free(p);
    }
  }
  if (changed)
    update_shared_range(shared);
}

size_t shared_block_count() {
  SharedBlocks& shared = shared_blocks();
  const std::lock_guard<std::mutex> lock(shared.mutex);
  return shared.blocks.size();
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
