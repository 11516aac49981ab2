// The drawing wrappers: small classes over the 2-D graphics library's flat functions, each call
// reached through the program's dynamic-library table (runtime/imports.h) by the function's
// name. Every call that reaches the library leaves the library's status in last_status().
//
// Shapes of the operations: a creator fills the native handle and answers whether the status
// is 0; a destroyer answers false and calls nothing when the wrapper is empty, otherwise deletes
// and empties it; a getter answers the value read; an action answers whether the status is 0.
// A creator on a wrapper that holds an object overwrites it: delete first. A wrapper that still
// holds an object when it goes out of scope deletes it. Window thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "platform/raster/gdiplus.h"

namespace imaging {

// The status of the last wrapper call that reached the library (0 = Ok).
int32_t last_status();

inline constexpr int32_t kPixelFormat32bppArgb = raster::kFormat32bppArgb;
inline constexpr std::string_view kPngFormatId = "{B96B3CAF-0728-11D3-9D7B-0000F81EF32E}";
inline constexpr std::string_view kBmpFormatId = "{B96B3CAB-0728-11D3-9D7B-0000F81EF32E}";
inline constexpr std::string_view kBlurEffectId = "{633C80A4-1843-482b-9EF2-BE2834C5FDD4}";

// GUID texts, brace-enclosed, upper-case hex; parsing takes either case.
std::string guid_text(const raster::Guid& id);
std::optional<raster::Guid> parse_guid(std::string_view text);

// The encoder class id text for a format id text; empty when no encoder has that format.
std::string encoder_for(std::string_view format_id);

// A block of global memory holding bytes and a stream over it, for the library to read or write.
// The block and the stream are released with the buffer (or by release()).
class StreamBuffer {
 public:
  StreamBuffer() = default;
  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;
  ~StreamBuffer() { release(); }

  // A new zero-filled block holding `bytes`, and a stream over it; null on failure.
  kernel::Stream* create(std::span<const uint8_t> bytes);
  void release();
  size_t size() const;
  kernel::Stream* stream() const { return stream_; }
  kernel::GlobalHandle block() const { return block_; }
  static kernel::GlobalHandle block_of(kernel::Stream* stream);
  // The block's current contents.
  std::vector<uint8_t> bytes() const;

 private:
  kernel::Stream* stream_ = nullptr;
  kernel::GlobalHandle block_ = nullptr;
};

// The memory stream of picture loading: a fixed block holding a copy of the bytes (the block
// outlives the stream and is freed by free_block or the destructor), or with no bytes, an
// empty movable block that the stream frees on its last release.
class MemoryStream {
 public:
  MemoryStream() = default;
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  ~MemoryStream();

  kernel::Stream* create(std::optional<std::span<const uint8_t>> bytes);
  kernel::Stream* stream() const { return stream_; }
  size_t size() const;
  std::vector<uint8_t> bytes() const;
  void free_block();

 private:
  // Lets the stream go, and the block when the stream does not own it.
  void release();

  kernel::GlobalHandle block_ = nullptr;
  kernel::Stream* stream_ = nullptr;
  bool stream_owns_block_ = false;
};

// What every wrapper shares: the handle as last set, and library memory.
class GraphicsObject {
 public:
  uintptr_t handle() const { return handle_; }
  void set_handle(uintptr_t h) {
    handle_ = h;
    native_ = reinterpret_cast<void*>(h);
  }
  static void* allocate(size_t size);
  static void free(void* block);

 protected:
  GraphicsObject() = default;
  GraphicsObject(const GraphicsObject&) = delete;
  GraphicsObject& operator=(const GraphicsObject&) = delete;
  ~GraphicsObject() = default;

  template <class T>
  T* native() const {
    return static_cast<T*>(native_);
  }
  void adopt(void* object) { set_handle(reinterpret_cast<uintptr_t>(object)); }

  uintptr_t handle_ = 0;
  void* native_ = nullptr;
};

class Effect;

class Image : public GraphicsObject {
 public:
  Image() = default;
  ~Image() { dispose(); }

  bool create_bitmap(int32_t width, int32_t height, int32_t format = kPixelFormat32bppArgb);
  // A bitmap over the caller's pixels (rows of `stride` bytes), which outlive it.
  bool create_bitmap_over(int32_t width, int32_t height, int32_t stride, uint8_t* pixels,
                          int32_t format = kPixelFormat32bppArgb);
  // Reads a picture of any kind the library knows from bytes; the bytes stay in the image's
  // stream buffer for the image's life.
  bool load(std::span<const uint8_t> bytes);
  bool apply_effect(Effect& effect, const raster::Rect* region_of_interest = nullptr);
  // Encodes the picture with the encoder for the format id (the image's own format when none);
  // false and an empty byte set when no encoder has that format or encoding fails.
  bool save(std::optional<std::string_view> format_id, std::vector<uint8_t>& out);
  bool dimension(float& width, float& height);
  std::string raw_format();
  uint32_t pixel(int32_t x, int32_t y);
  bool dispose();

 private:
  StreamBuffer source_;
};

class SolidBrush : public GraphicsObject {
 public:
  SolidBrush() = default;
  ~SolidBrush() { remove(); }
  bool create(uint32_t argb);
  uint32_t colour();
  bool set_colour(uint32_t argb);
  bool remove();
};

class Graphics : public GraphicsObject {
 public:
  Graphics() = default;
  ~Graphics() { remove(); }
  bool from_image(Image& image);
  bool fill_rectangle(SolidBrush& brush, float x, float y, float width, float height);
  bool draw_image(Image& image, float x, float y, float width, float height);
  bool remove();
};

class Effect : public GraphicsObject {
 public:
  Effect() = default;
  ~Effect() { remove(); }
  bool create_blur();
  bool set_parameters(const void* block, uint32_t size);
  bool remove();

  // Auxiliary data the last apply produced (library memory, freed on the next apply or delete).
  void* aux_data = nullptr;
  int32_t aux_data_size = 0;
  bool use_aux_data = false;
};

class Region : public GraphicsObject {
 public:
  Region() = default;
  ~Region() { remove(); }
  bool create_rect(float x, float y, float width, float height);
  bool remove();
};

// Starts the graphics library once per process; later calls do nothing. Answers whether it runs.
bool start_graphics_library();
// The token of the running library; 0 before start.
uintptr_t graphics_token();

}  // namespace imaging
