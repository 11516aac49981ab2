// JPEG through libjpeg, straight from memory into blue-green-red-alpha rows. libjpeg reports
// errors by longjmp: everything inside the jump's reach is plain C data, so nothing is skipped
// that would need a destructor. Data that ends before the picture does is no picture (libjpeg
// itself would pad it with grey), and neither is data libjpeg calls corrupt.
//
// The work is bounded before it is done. A progressive file can make libjpeg walk every block of
// the picture once per scan for a few bytes a scan, so scans are counted as they start (the
// progress monitor) and a progression that sends a coefficient's first bits twice, or runs past
// kMaxScans, is refused; a sequential file has one scan per component. libjpeg keeps a whole
// progressive picture's coefficients, so its memory is capped too. Arithmetic coding is refused:
// browsers do not show it, and it codes every block in next to no bits.
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "decoders/decoders.h"

namespace imaging::detail {
namespace {

// libjpeg's own progressive script has ten scans; a hundred leaves room for any encoder's.
constexpr int kMaxScans = 100;
// As much memory for libjpeg's coefficient buffer as the largest picture's pixels take.
constexpr long kMaxLibjpegMemory = 64L * 1024 * 1024;

// Plain C data, all of it: the jump target lives here.
struct Context {
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  jpeg_progress_mgr progress;
  jmp_buf jump;
  int scans_seen;
  bool header_read;
  DecodeFailure failure;  // the first reason found wins
  // Components (by index) and coefficients whose first bits a progressive scan has brought.
  bool first_bits[MAX_COMPONENTS][DCTSIZE2];
};

Context* context_of(j_common_ptr info) {
  return static_cast<Context*>(info->client_data);
}

void note(Context* c, DecodeFailure why) {
  if (c->failure == DecodeFailure::kNone)
    c->failure = why;
}

// libjpeg's own refusals: data cut short, its memory cap, and otherwise a bad header or bad
// data depending on how far it got.
[[noreturn]] void refuse(j_common_ptr info) {
  Context* c = context_of(info);
  const int code = info->err->msg_code;
  if (code == JWRN_JPEG_EOF)
    note(c, DecodeFailure::kTruncated);
  else if (code == JERR_OUT_OF_MEMORY)
    note(c, DecodeFailure::kTooLarge);
  else
    note(c, c->header_read ? DecodeFailure::kCorruptData : DecodeFailure::kBadHeader);
  longjmp(c->jump, 1);
}

[[noreturn]] void refuse_scan(j_common_ptr info, DecodeFailure why) {
  note(context_of(info), why);
  refuse(info);
}

// Warnings that leave the picture whole; every other one (data cut short, a bad code, an
// inconsistent progression, bad scan parameters) means damaged data.
bool harmless(int msg_code) {
  return msg_code == JWRN_ADOBE_XFORM || msg_code == JWRN_EXTRANEOUS_DATA ||
         msg_code == JWRN_JFIF_MAJOR || msg_code == JWRN_BOGUS_ICC;
}

void on_message(j_common_ptr info, int level) {
  if (level < 0 && !harmless(info->err->msg_code))
    refuse(info);
}

void quiet(j_common_ptr) {}

// Runs once per input step; a scan is judged before any of its data is read.
void on_progress(j_common_ptr common) {
  auto* info = reinterpret_cast<j_decompress_ptr>(common);
  Context* c = context_of(common);
  if (info->input_scan_number == c->scans_seen)
    return;
  c->scans_seen = info->input_scan_number;
  if (!info->progressive_mode) {
    if (c->scans_seen > info->num_components)
      refuse_scan(common, DecodeFailure::kCorruptData);
    return;
  }
  if (c->scans_seen > kMaxScans)
    refuse_scan(common, DecodeFailure::kTooLarge);
  if (info->Ah != 0)
    return;  // a refinement: libjpeg checks it follows the bits sent so far
  for (int i = 0; i < info->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
    const int component = info->cur_comp_info[i]->component_index;
    if (component < 0 || component >= MAX_COMPONENTS)
      refuse_scan(common, DecodeFailure::kCorruptData);
    bool* sent = c->first_bits[component];
    for (int k = std::max(info->Ss, 0); k <= info->Se && k < DCTSIZE2; ++k) {
      if (sent[k])
        refuse_scan(common, DecodeFailure::kCorruptData);
      sent[k] = true;
    }
  }
}

// Adobe writes CMYK inverted; that is what nearly every CMYK JPEG on the web is.
void cmyk_to_bgra(const uint8_t* in, uint32_t* out, size_t width) {
  for (size_t x = 0; x < width; ++x) {
    const uint32_t c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
    out[x] = argb(0xFF, c * k / 255, m * k / 255, y * k / 255);
  }
}

bool is_cmyk(const jpeg_decompress_struct& info) {
  return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
}

// Up to the first output row: the header, the checks, and for a file of several scans every
// scan (libjpeg takes them all in before the first row).
bool start(Bytes bytes, Context* c) {
  jpeg_decompress_struct* info = &c->info;
  jpeg_mem_src(info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) {
    note(c, DecodeFailure::kBadHeader);
    return false;
  }
  c->header_read = true;
  if (info->arith_code) {
    note(c, DecodeFailure::kUnsupported);
    return false;
  }
  const DecodeFailure size = check_dimensions(info->image_width, info->image_height);
  if (size != DecodeFailure::kNone) {
    note(c, size);
    return false;
  }
  info->out_color_space = is_cmyk(*info) ? JCS_CMYK : JCS_EXT_BGRA;
  info->mem->max_memory_to_use = kMaxLibjpegMemory;
  jpeg_start_decompress(info);
  if (info->output_width != info->image_width || info->output_height != info->image_height) {
    note(c, DecodeFailure::kUnsupported);
    return false;
  }
  return true;
}

// The rows, decoded in place into `pixels` (the whole picture, grown unset: a row libjpeg cannot
// give ends the decode as no picture, so no unset pixel is ever shown). A CMYK row goes through
// `cmyk_row`. Only plain data lives in this frame.
bool read_rows(Context* c, uint32_t* pixels, uint8_t* cmyk_row) {
  jpeg_decompress_struct* info = &c->info;
  const bool cmyk = is_cmyk(*info);
  const size_t w = info->output_width;
  while (info->output_scanline < info->output_height) {
    uint32_t* out = pixels + size_t{info->output_scanline} * w;
    JSAMPROW into = cmyk ? cmyk_row : reinterpret_cast<JSAMPROW>(out);
    if (jpeg_read_scanlines(info, &into, 1) != 1) {
      note(c, DecodeFailure::kTruncated);
      return false;
    }
    if (cmyk)
      cmyk_to_bgra(cmyk_row, out, w);
  }
  jpeg_finish_decompress(info);
  return true;
}

// Each of these owns the jump target while it runs: nothing of theirs but the volatile answer
// changes between setjmp and a longjmp.
bool guarded_start(Bytes bytes, Context* c) {
  volatile bool ok = false;
  if (setjmp(c->jump) == 0)
    ok = start(bytes, c);
  return ok;
}

bool guarded_read_rows(Context* c, uint32_t* pixels, uint8_t* cmyk_row) {
  volatile bool ok = false;
  if (setjmp(c->jump) == 0)
    ok = read_rows(c, pixels, cmyk_row);
  return ok;
}

// Owns the libjpeg state; the pixels are allocated only once every scan has been read.
class Decoder {
 public:
  Decoder() : c_{} {
    c_.info.err = jpeg_std_error(&c_.err);
    c_.err.error_exit = refuse;
    c_.err.emit_message = on_message;
    c_.err.output_message = quiet;
    c_.progress.progress_monitor = on_progress;
    jpeg_create_decompress(&c_.info);
    c_.info.client_data = &c_;
    c_.info.progress = &c_.progress;
  }
  ~Decoder() { jpeg_destroy_decompress(&c_.info); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  DecodeResult decode(Bytes bytes) {
    if (!guarded_start(bytes, &c_))
      return refused();
    // start() has held the dimensions to the caps.
    Picture p;
    p.kind = PictureKind::kJpeg;
    p.width = static_cast<int32_t>(c_.info.output_width);
    p.height = static_cast<int32_t>(c_.info.output_height);
    p.frames.resize(1);
    Pixels& pixels = p.frames[0].pixels;
    const size_t w = c_.info.output_width;
    pixels.resize(w * c_.info.output_height);
    std::vector<uint8_t> cmyk_row(is_cmyk(c_.info) ? w * 4 : 0);
    if (!guarded_read_rows(&c_, pixels.data(), cmyk_row.data()))
      return refused();
    return {std::move(p)};
  }

 private:
  DecodeResult refused() const {
    return no_picture(c_.failure == DecodeFailure::kNone ? DecodeFailure::kCorruptData
                                                         : c_.failure);
  }

  Context c_;
};

}  // namespace

DecodeResult decode_jpeg(Bytes bytes) {
  // unsigned long holds the length on every platform this builds for; stay clear of its edge.
  if (bytes.size() > 0x7FFFFFFF)
    return no_picture(DecodeFailure::kTooLarge);
  Decoder decoder;
  return decoder.decode(bytes);
}

}  // namespace imaging::detail
