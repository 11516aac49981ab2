#include "platform/kernel/global_memory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace kernel {
namespace {

constexpr uint32_t kBlockTag = 0x424C4B47;  // "GKLB": tells blocks from other pointers

struct Block {
  uint32_t tag = kBlockTag;
  uint8_t* bytes = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  std::atomic<int32_t> locks{0};
};

Block* block_of(GlobalHandle h) {
  auto* b = static_cast<Block*>(h);
  return b && b->tag == kBlockTag ? b : nullptr;
}

bool reserve(Block* b, size_t capacity) {
  if (capacity <= b->capacity)
    return true;
  void* grown = std::realloc(b->bytes, capacity);
  if (!grown)
    return false;
  b->bytes = static_cast<uint8_t*>(grown);
  b->capacity = capacity;
  return true;
}

// New bytes past the old size are zero when asked (and always for streams, which must not hand
// out what an earlier, longer content left behind).
bool resize(Block* b, size_t size, bool zero) {
  if (!reserve(b, size))
    return false;
  if (zero && size > b->size)
    std::memset(b->bytes + b->size, 0, size - b->size);
  b->size = size;
  return true;
}

struct MemoryStream {
  Stream base;
  std::atomic<uint32_t> references{1};
  Block* block;
  bool delete_on_release;
  uint64_t position = 0;
};

MemoryStream* self_of(Stream* s) {
  return reinterpret_cast<MemoryStream*>(s);
}

Result query(Stream* self, const void*, void** out) {
  if (!out)
    return kInvalidArgument;
  *out = self;
  self->functions->add_ref(self);
  return kOk;
}

uint32_t add_ref(Stream* self) {
  return ++self_of(self)->references;
}

uint32_t release(Stream* self) {
  MemoryStream* s = self_of(self);
  const uint32_t left = --s->references;
  if (left == 0) {
    if (s->delete_on_release)
      GlobalFree(s->block);
    delete s;
  }
  return left;
}

Result read(Stream* self, void* out, uint32_t wanted, uint32_t* done) {
  MemoryStream* s = self_of(self);
  const uint64_t size = s->block->size;
  const uint64_t n = s->position >= size ? 0 : std::min<uint64_t>(wanted, size - s->position);
  if (n > 0)
    std::memcpy(out, s->block->bytes + s->position, n);
  s->position += n;
  if (done)
    *done = static_cast<uint32_t>(n);
  return kOk;
}

Result write(Stream* self, const void* bytes, uint32_t count, uint32_t* done) {
  MemoryStream* s = self_of(self);
  if (done)
    *done = 0;
  if (count == 0)
    return kOk;
  const uint64_t end = s->position + count;
  if (end > std::numeric_limits<size_t>::max() / 2)
    return kOutOfMemory;
  if (end > s->block->size) {
    // Grow geometrically, and only past the capacity, so that many small writes stay linear
    // overall without the reserve running ahead of the content.
    if (end > s->block->capacity) {
      const size_t wanted = std::max<size_t>(static_cast<size_t>(end), s->block->capacity * 2);
      if (!reserve(s->block, wanted) && !reserve(s->block, static_cast<size_t>(end)))
        return kOutOfMemory;
    }
    // A seek past the end leaves a gap: zero, like the rest of a grown block.
    if (!resize(s->block, static_cast<size_t>(end), true))
      return kOutOfMemory;
  }
  std::memcpy(s->block->bytes + s->position, bytes, count);
  s->position = end;
  if (done)
    *done = count;
  return kOk;
}

Result seek(Stream* self, int64_t move, uint32_t origin, uint64_t* position) {
  MemoryStream* s = self_of(self);
  int64_t base = 0;
  switch (origin) {
    case kSeekSet:
      break;
    case kSeekCurrent:
      base = static_cast<int64_t>(s->position);
      break;
    case kSeekEnd:
      base = static_cast<int64_t>(s->block->size);
      break;
    default:
      return kInvalidArgument;
  }
  if ((move < 0 && base + move < 0) || (move > 0 && base > INT64_MAX - move))
    return kInvalidArgument;
  s->position = static_cast<uint64_t>(base + move);
  if (position)
    *position = s->position;
  return kOk;
}

Result set_size(Stream* self, uint64_t size) {
  MemoryStream* s = self_of(self);
  if (size > std::numeric_limits<size_t>::max() / 2)
    return kOutOfMemory;
  return resize(s->block, static_cast<size_t>(size), true) ? kOk : kOutOfMemory;
}

constexpr StreamFunctions kFunctions = {query, add_ref, release, read, write, seek, set_size};

}  // namespace
}  // namespace kernel

using namespace kernel;

GlobalHandle GlobalAlloc(uint32_t flags, size_t bytes) {
  auto* b = new (std::nothrow) Block;
  if (!b)
    return nullptr;
  if (!resize(b, bytes, (flags & kGlobalZeroInit) != 0)) {
    delete b;
    return nullptr;
  }
  return b;
}

GlobalHandle GlobalReAlloc(GlobalHandle h, size_t bytes, uint32_t flags) {
  Block* b = block_of(h);
  if (!b || !resize(b, bytes, (flags & kGlobalZeroInit) != 0))
    return nullptr;
  return b;
}

void* GlobalLock(GlobalHandle h) {
  Block* b = block_of(h);
  if (!b)
    return nullptr;
  ++b->locks;
  // A block of no bytes still locks to a pointer, as callers test it for null.
  return b->bytes ? static_cast<void*>(b->bytes) : static_cast<void*>(b);
}

int32_t GlobalUnlock(GlobalHandle h) {
  Block* b = block_of(h);
  if (!b || b->locks.load() == 0)
    return 0;
  return --b->locks;
}

size_t GlobalSize(GlobalHandle h) {
  Block* b = block_of(h);
  return b ? b->size : 0;
}

GlobalHandle GlobalFree(GlobalHandle h) {
  Block* b = block_of(h);
  if (!b)
    return h;
  b->tag = 0;
  std::free(b->bytes);
  delete b;
  return nullptr;
}

Result CreateStreamOnHGlobal(GlobalHandle h, int32_t delete_on_release, Stream** stream) {
  if (!stream)
    return kInvalidArgument;
  *stream = nullptr;
  Block* b = h ? block_of(h) : static_cast<Block*>(GlobalAlloc(kGlobalMovable, 0));
  if (!b)
    return h ? kInvalidArgument : kOutOfMemory;
  auto* s = new (std::nothrow) MemoryStream{{&kFunctions}, {1}, b, delete_on_release != 0};
  if (!s)
    return kOutOfMemory;
  *stream = &s->base;
  return kOk;
}

Result GetHGlobalFromStream(Stream* stream, GlobalHandle* block) {
  if (!stream || !block || stream->functions != &kFunctions)
    return kInvalidArgument;
  *block = self_of(stream)->block;
  return kOk;
}
