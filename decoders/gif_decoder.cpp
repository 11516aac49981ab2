// GIF through giflib's record interface, so that every frame's size is checked before any
// pixel of it is read. The LZW data is decoded here: giflib's decoder wipes its whole 16 KiB
// table at every clear code, so a stream of clear codes, 3 bits each, cost it seconds; here a
// clear costs what any code does, and the work stays bounded by the data and the pixels. Frames are
// composed onto the logical screen (parts outside it are cut off) with their transparency and
// disposal; the first frame alone, or every frame for an animation. The whole file is read to its
// trailer either way: a file cut short is no picture. Frames past the animation caps are skipped
// undecoded; the pixels a frame decodes count against them even where they fall outside the screen,
// since decoding them is the work.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "decoders/decoders.h"

namespace imaging::detail {
namespace {

struct Source {
  Bytes bytes;
  size_t pos = 0;
};

int read_bytes(GifFileType* gif, GifByteType* out, int wanted) {
  auto* s = static_cast<Source*>(gif->UserData);
  if (wanted <= 0)
    return 0;
  const size_t n = std::min(static_cast<size_t>(wanted), s->bytes.size() - s->pos);
  std::memcpy(out, s->bytes.data() + s->pos, n);
  s->pos += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// Skips a frame's compressed data without decoding it.
bool skip_image_data(GifFileType* gif) {
  int code_size = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &code_size, &block) == GIF_ERROR)
    return false;
  while (block != nullptr) {
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
      return false;
  }
  return true;
}

// giflib's work for an image record does not shrink with the image (it resets a 16 KiB table
// for each), so a file of more images than any animation needs is refused.
constexpr size_t kMaxImages = 10000;

// giflib keeps a copy of every image descriptor read, colour map and all, in an array grown by
// one each time. Nothing here reads them; dropping each at once keeps a file of many images from
// costing giflib more per image as it goes.
void forget_saved_images(GifFileType* gif) {
  GifFreeSavedImages(gif);
  gif->ImageCount = 0;
}

// A frame's LZW codes, read from its data blocks as giflib hands them out.
class Lzw {
 public:
  // `block` is the frame's first data block (length byte first), as DGifGetCode gave it.
  Lzw(GifFileType* gif, int min_code_size, const GifByteType* block)
      : gif_(gif), min_(min_code_size), clear_(1 << min_code_size), end_(clear_ + 1) {
    take(block);
    restart();
    for (int i = 0; i < clear_; ++i) first_[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  }

  // GIF allows 2 to 8 bits of minimum code size.
  static bool allowed(int min_code_size) { return min_code_size >= 2 && min_code_size <= 8; }

  // The next n pixels; false when the data is bad or ends first.
  bool read(GifByteType* out, size_t n) {
    size_t i = 0;
    while (i < n) {
      if (depth_ > 0) {
        out[i++] = stack_[--depth_];
        continue;
      }
      int code = 0;
      if (!next_code(&code) || code == end_)
        return false;
      if (code == clear_) {
        restart();
        continue;
      }
      if (prev_ < 0) {  // the first code after a clear stands for itself
        if (code > clear_)
          return false;
        out[i++] = static_cast<GifByteType>(code);
        prev_ = code;
        continue;
      }
      int c = code;
      if (code == next_ && next_ < kTableSize) {
        // The string being defined: the previous one and its own first pixel.
        stack_[depth_++] = first_[static_cast<size_t>(prev_)];
        c = prev_;
      } else if (code > next_) {
        return false;
      }
      const uint8_t first = first_[static_cast<size_t>(c)];
      while (c > end_) {  // entries follow their prefixes back to a single pixel
        stack_[depth_++] = suffix_[static_cast<size_t>(c)];
        c = prefix_[static_cast<size_t>(c)];
      }
      stack_[depth_++] = static_cast<uint8_t>(c);
      if (next_ < kTableSize) {
        const auto at = static_cast<size_t>(next_);
        prefix_[at] = static_cast<uint16_t>(prev_);
        suffix_[at] = first;
        first_[at] = first_[static_cast<size_t>(prev_)];
        ++next_;
        if (next_ >= (1 << width_) && width_ < 12)
          ++width_;
      }
      prev_ = code;
    }
    return true;
  }

  // Whether a data block could not be read (the file ends inside the frame).
  bool cut_short() const { return failed_; }

  // Reads the rest of the frame's data blocks: codes past the last pixel are not looked at.
  bool finish() {
    while (!ended_) {
      if (!more())
        return !failed_;
    }
    return true;
  }

 private:
  static constexpr int kTableSize = 4096;

  void restart() {
    next_ = end_ + 1;
    width_ = min_ + 1;
    prev_ = -1;
  }
  void take(const GifByteType* block) {
    if (block == nullptr) {
      ended_ = true;
      return;
    }
    data_ = block + 1;
    left_ = block[0];
  }
  bool more() {
    if (ended_)
      return false;
    GifByteType* block = nullptr;
    if (DGifGetCodeNext(gif_, &block) == GIF_ERROR) {
      failed_ = true;
      ended_ = true;
      return false;
    }
    take(block);
    return !ended_;
  }
  bool next_code(int* code) {
    while (bits_ < width_) {
      while (left_ == 0) {
        if (!more())
          return false;
      }
      acc_ |= static_cast<uint32_t>(*data_++) << bits_;
      bits_ += 8;
      --left_;
    }
    *code = static_cast<int>(acc_ & ((1u << width_) - 1));
    acc_ >>= width_;
    bits_ -= width_;
    return true;
  }

  GifFileType* gif_;
  const GifByteType* data_ = nullptr;
  size_t left_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  uint32_t acc_ = 0;
  int bits_ = 0;
  const int min_, clear_, end_;
  int next_ = 0, width_ = 0, prev_ = -1;
  std::array<uint16_t, kTableSize> prefix_{};
  std::array<uint8_t, kTableSize> suffix_{};
  std::array<uint8_t, kTableSize> first_{};
  std::array<uint8_t, kTableSize + 1> stack_{};
  size_t depth_ = 0;
};

struct Composer {
  int64_t width = 0, height = 0;
  Pixels canvas;
  Pixels saved;  // the canvas before a frame that is to be undone afterwards
  std::vector<Frame> frames;
  int64_t kept_pixels = 0;     // screen pixels over the kept frames
  int64_t decoded_pixels = 0;  // frame pixels decoded, inside the screen or not
  bool done = false;           // the canvas went into the last frame to keep

  // Whether a frame of this many pixels is decoded: the first always (its size is capped like
  // a still picture's), the others while an animation is wanted and the caps leave room.
  bool wants(Frames mode, int64_t frame_pixels) const {
    if (frames.empty())
      return true;
    return !done && mode == Frames::kAll && frames.size() < kMaxFrames &&
           kept_pixels + width * height <= kMaxAnimationPixels &&
           decoded_pixels + frame_pixels <= kMaxAnimationPixels;
  }
  // Keeps the canvas as a frame; the last frame the caps allow takes it without a copy.
  void keep(Frames mode, int32_t delay_ms) {
    kept_pixels += width * height;
    const bool room = mode == Frames::kAll && frames.size() + 1 < kMaxFrames &&
                      kept_pixels + width * height <= kMaxAnimationPixels;
    if (room) {
      frames.push_back({canvas, delay_ms});
      return;
    }
    frames.push_back({std::move(canvas), delay_ms});
    done = true;
  }
};

// Why giflib stopped: a read past the end is data cut short, anything else bad data. A frame's
// code size that is not there to read fails without a code.
DecodeResult giflib_refused(int error) {
  if (error == D_GIF_ERR_READ_FAILED || error == 0)
    return no_picture(DecodeFailure::kTruncated);
  return no_picture(DecodeFailure::kCorruptData);
}
DecodeResult giflib_refused(const GifFileType* gif) {
  return giflib_refused(gif->Error);
}

}  // namespace

DecodeResult decode_gif(Bytes bytes, Frames mode) {
  Source source{bytes};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, read_bytes, &error));
  if (!gif) {
    if (error == D_GIF_ERR_NOT_GIF_FILE)
      return no_picture(DecodeFailure::kUnknownFormat);
    // giflib reports a screen descriptor or global colour map it could not read whole as "no
    // screen descriptor".
    if (error == D_GIF_ERR_READ_FAILED || error == D_GIF_ERR_NO_SCRN_DSCR)
      return no_picture(DecodeFailure::kTruncated);
    return no_picture(DecodeFailure::kBadHeader);
  }

  std::optional<Composer> c;
  GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  std::vector<GifByteType> line;
  size_t images = 0;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
      return giflib_refused(gif.get());
    if (type == TERMINATE_RECORD_TYPE)
      break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR)
        return giflib_refused(gif.get());
      if (code == GRAPHICS_EXT_FUNC_CODE && ext != nullptr && ext[0] == 4)
        DGifExtensionToGCB(4, ext + 1, &gcb);
      while (ext != nullptr) {
        if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR)
          return giflib_refused(gif.get());
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE)
      return no_picture(DecodeFailure::kCorruptData);
    if (++images > kMaxImages)
      return no_picture(DecodeFailure::kTooManyFrames);
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
      return giflib_refused(gif.get());
    forget_saved_images(gif.get());
    const GifImageDesc& d = gif->Image;
    const int64_t left = d.Left, top = d.Top, fw = d.Width, fh = d.Height;
    if (!c) {
      // A screen of no size takes the first frame's extent.
      int64_t screen_w = gif->SWidth, screen_h = gif->SHeight;
      if (screen_w == 0 || screen_h == 0) {
        screen_w = left + fw;
        screen_h = top + fh;
      }
      if (const DecodeFailure why = check_dimensions(screen_w, screen_h);
          why != DecodeFailure::kNone)
        return no_picture(why);
      c.emplace();
      c->width = screen_w;
      c->height = screen_h;
      c->canvas.assign(static_cast<size_t>(screen_w * screen_h), 0u);
    }
    const bool empty = fw == 0 || fh == 0;
    if (!empty) {
      if (const DecodeFailure why = check_dimensions(fw, fh); why != DecodeFailure::kNone)
        return no_picture(why);
    }
    if (empty || !c->wants(mode, fw * fh)) {
      if (!skip_image_data(gif.get()))
        return giflib_refused(gif.get());
      gcb = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
      continue;
    }
    c->decoded_pixels += fw * fh;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    const int map_size = map ? map->ColorCount : 0;
    if (gcb.DisposalMode == DISPOSE_PREVIOUS)
      c->saved = c->canvas;
    line.resize(static_cast<size_t>(fw));
    const int64_t w = c->width, h = c->height;
    auto draw_row = [&](int64_t row) {
      const int64_t y = top + row;
      if (y >= h)
        return;
      for (int64_t x = 0; x < fw && left + x < w; ++x) {
        const int index = line[static_cast<size_t>(x)];
        if (index == gcb.TransparentColor)
          continue;
        uint32_t colour = kOpaqueBlack;
        if (index < map_size) {
          const GifColorType& rgb = map->Colors[index];
          colour = argb(0xFF, rgb.Red, rgb.Green, rgb.Blue);
        }
        c->canvas[static_cast<size_t>(y * w + left + x)] = colour;
      }
    };
    int code_size = 0;
    GifByteType* first_block = nullptr;
    if (DGifGetCode(gif.get(), &code_size, &first_block) == GIF_ERROR)
      return giflib_refused(gif.get());
    if (!Lzw::allowed(code_size))
      return no_picture(DecodeFailure::kCorruptData);
    Lzw lzw(gif.get(), code_size, first_block);
    // Blocks giflib could not read are data cut short; codes that make no sense are bad data.
    auto lzw_refused = [&] {
      return lzw.cut_short() ? no_picture(DecodeFailure::kTruncated)
                             : no_picture(DecodeFailure::kCorruptData);
    };
    auto read_row = [&](int64_t row) {
      if (!lzw.read(line.data(), static_cast<size_t>(fw)))
        return false;
      draw_row(row);
      return true;
    };
    if (d.Interlace) {
      static constexpr int64_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int64_t row = kStart[pass]; row < fh; row += kStep[pass]) {
          if (!read_row(row))
            return lzw_refused();
        }
      }
    } else {
      for (int64_t row = 0; row < fh; ++row) {
        if (!read_row(row))
          return lzw_refused();
      }
    }
    if (!lzw.finish())
      return lzw_refused();
    c->keep(mode, gcb.DelayTime * 10);
    // What this frame leaves for the next.
    if (!c->done && gcb.DisposalMode == DISPOSE_BACKGROUND) {
      for (int64_t y = top; y < std::min(top + fh, h); ++y) {
        for (int64_t x = left; x < std::min(left + fw, w); ++x)
          c->canvas[static_cast<size_t>(y * w + x)] = 0;
      }
    } else if (!c->done && gcb.DisposalMode == DISPOSE_PREVIOUS) {
      c->canvas = c->saved;
    }
    gcb = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  }
  if (!c || c->frames.empty())
    return no_picture(DecodeFailure::kCorruptData);  // no image to show
  Picture p;
  p.kind = PictureKind::kGif;
  p.width = static_cast<int32_t>(c->width);
  p.height = static_cast<int32_t>(c->height);
  p.frames = std::move(c->frames);
  return {std::move(p)};
}

}  // namespace imaging::detail
