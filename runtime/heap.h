// The runtime heap and the constant data area.
//
// Every text, byte set and array lives on the process heap. Blocks inside the constant data
// area (the program's literal texts, byte sets and arrays) are never freed or changed in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

// n uninitialised bytes; never null: exhaustion is the fatal error "分配 %d 字节内存失败!".
void* allocate(size_t n);
// Like allocate, but answers null instead of ending the program.
void* allocate_or_null(size_t n);
// Ignores null and pointers into the constant data area.
void free_block(void* p);
// Null is allocated afresh; a constant is copied out of the area, never resized in place.
void* reallocate(void* p, size_t n);

// --- Shared blocks: several texts in one allocation ---
//
// A shared block holds `shares` texts (the elements of a text array cut from one text), each of
// which is still owned and freed on its own: free_block and reallocate take a pointer anywhere
// inside the block as one of its texts, and the block goes when the last of them is freed.
// reallocate moves such a text out into a block of its own.

// n uninitialised bytes for a shared block; share() it once its texts are placed.
void* allocate_shared(size_t n);
// Hands the block over to its `shares` texts (for none, frees it).
void share(void* block, size_t n, size_t shares);
// Frees each of the `count` pointers stored one after another at `pointers` (in any alignment),
// as free_block does, but a run of texts of one shared block costs one look-up.
void free_pointers(const void* pointers, size_t count);
// How many shared blocks are alive.
size_t shared_block_count();

// --- Constant data area ---

struct ConstantArea {
  const uint8_t* start = nullptr;
  size_t length = 0;

  bool contains(const void* p) const {
    const auto a = reinterpret_cast<uintptr_t>(p);
    const auto s = reinterpret_cast<uintptr_t>(start);
    return length != 0 && a >= s && a - s < length;
  }
};

// Records the area (skipped when length is 0, as start-up does).
void record_constant_area(const void* start, size_t length);
const ConstantArea& constant_area();
bool in_constant_area(const void* p);

// The bounds of this executable's "ff_const" linker section, where FF_CONST objects live.
ConstantArea linker_constant_area();

}  // namespace rt

// Places a constant object in the program's constant data area.
#define FF_CONST __attribute__((section("ff_const"), used))
