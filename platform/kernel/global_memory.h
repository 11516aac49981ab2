// Global memory blocks and the stream interface over them, as the 2-D graphics stand-in and the
// drawing wrappers use them to pass encoded pictures around in memory.
//
// A block handle names a block of bytes that can grow; lock answers its bytes. A stream is an
// object with a table of functions in a fixed slot order (query, add a reference, release, read,
// write, seek, set size), reference counted; it reads and writes its block from a current
// position and grows it on writes past the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernel {

using GlobalHandle = void*;
using Result = int32_t;  // 0 success, negative failure
inline constexpr Result kOk = 0;
inline constexpr Result kFail = static_cast<Result>(0x80004005u);
inline constexpr Result kInvalidArgument = static_cast<Result>(0x80070057u);
inline constexpr Result kOutOfMemory = static_cast<Result>(0x8007000Eu);
inline constexpr Result kNotImplemented = static_cast<Result>(0x80004001u);

inline constexpr uint32_t kGlobalFixed = 0x0000;
inline constexpr uint32_t kGlobalMovable = 0x0002;
inline constexpr uint32_t kGlobalZeroInit = 0x0040;

enum SeekOrigin : uint32_t { kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2 };

struct Stream;
struct StreamFunctions {
  Result (*query)(Stream* self, const void* interface_id, void** out);
  uint32_t (*add_ref)(Stream* self);
  uint32_t (*release)(Stream* self);
  Result (*read)(Stream* self, void* out, uint32_t wanted, uint32_t* done);
  Result (*write)(Stream* self, const void* bytes, uint32_t count, uint32_t* done);
  Result (*seek)(Stream* self, int64_t move, uint32_t origin, uint64_t* position);
  Result (*set_size)(Stream* self, uint64_t size);
};
struct Stream {
  const StreamFunctions* functions;
};

}  // namespace kernel

#define FF_KERNEL_EXPORT extern "C" __attribute__((visibility("default")))

FF_KERNEL_EXPORT kernel::GlobalHandle GlobalAlloc(uint32_t flags, size_t bytes);
FF_KERNEL_EXPORT kernel::GlobalHandle GlobalReAlloc(kernel::GlobalHandle block, size_t bytes,
                                                    uint32_t flags);
FF_KERNEL_EXPORT void* GlobalLock(kernel::GlobalHandle block);
FF_KERNEL_EXPORT int32_t GlobalUnlock(kernel::GlobalHandle block);
FF_KERNEL_EXPORT size_t GlobalSize(kernel::GlobalHandle block);
// Answers null on success, the handle when it is not a block.
FF_KERNEL_EXPORT kernel::GlobalHandle GlobalFree(kernel::GlobalHandle block);
// A stream over the block (a new empty movable block when null); with delete_on_release the
// last release frees the block.
FF_KERNEL_EXPORT kernel::Result CreateStreamOnHGlobal(kernel::GlobalHandle block,
                                                      int32_t delete_on_release,
                                                      kernel::Stream** stream);
FF_KERNEL_EXPORT kernel::Result GetHGlobalFromStream(kernel::Stream* stream,
                                                     kernel::GlobalHandle* block);
