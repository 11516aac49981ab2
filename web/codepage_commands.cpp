// Code-page conversion commands: texts to and from UTF-16, and the UTF-8 edges of the program.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "runtime/imports.h"
#include "web/builtins.h"
#include "web/codepage.h"

namespace web {
namespace {

using MultiByteToWideCharFn = int(uint32_t, uint32_t, const char*, int, char16_t*, int);
using WideCharToMultiByteFn = int(uint32_t, uint32_t, const char16_t*, int, char*, int, const char*,
                                  int*);

constexpr int32_t kAnsiCodePage = 0;
constexpr int32_t kLocalCodePage = 936;
constexpr int32_t kGb18030CodePage = 54936;
constexpr int32_t kUtf8CodePage = 65001;
// Input up to and including its terminator.
constexpr int kToTerminator = -1;

// Both with flags 0: input that does not decode becomes U+FFFD, a unit without a form the
// default character.
int multi_byte_to_wide_char(int32_t code_page, const char* text, char16_t* units, int capacity,
                            int count = kToTerminator) {
  return rt::dll_function<MultiByteToWideCharFn>(rt::kImportMultiByteToWideChar)(
      static_cast<uint32_t>(code_page), 0, text, count, units, capacity);
}

int wide_char_to_multi_byte(int32_t code_page, const char16_t* units, char* bytes, int capacity,
                            int count = kToTerminator) {
  return rt::dll_function<WideCharToMultiByteFn>(rt::kImportWideCharToMultiByte)(
      static_cast<uint32_t>(code_page), 0, units, count, bytes, capacity, nullptr, nullptr);
}

using Utf8ToLocalFn = int64_t(const char*, size_t, char*);
using LocalToUtf8Fn = int64_t(const char*, size_t, char*, size_t, size_t*, size_t*);

// The kernel's one-pass conversions: the bytes of the two calls above (see there). The first
// answers -1 for input that does not decode; the second converts as much as fits, with `read`
// the input it took.
int64_t utf8_to_local_in_one_pass(std::string_view text, char* out) {
  return rt::dll_function<Utf8ToLocalFn>(rt::kImportUtf8ToLocal)(text.data(), text.size(), out);
}
size_t local_to_utf8_in_one_pass(std::string_view text, char* out, size_t capacity, size_t& read,
                                 size_t& units) {
  const int64_t written = rt::dll_function<LocalToUtf8Fn>(rt::kImportLocalToUtf8)(
      text.data(), text.size(), out, capacity, &read, &units);
  return static_cast<size_t>(std::max<int64_t>(written, 0));
}

int clamp_to_int(size_t n) {
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// The units of `text` read in code_page, sized by the ANSI code page's reading: 2N bytes, zero
// wherever the conversion leaves no unit. `storage(size)` supplies the bytes. Answers the bytes
// (empty for the empty text).
template <typename Storage>
std::span<uint8_t> utf16_of(const char* text, int32_t code_page, Storage storage) {
  // The empty text is the null pointer, which measures as 0 units: no bytes.
  const char* source = text && *text ? text : nullptr;
  char16_t dummy = 0;
  const int units = multi_byte_to_wide_char(kAnsiCodePage, source, &dummy, 0);
  if (units <= 0)
    return {};
  const size_t size = 2 * static_cast<size_t>(units);
  uint8_t* data = storage(size);
  // A text that needs more units in code_page than in the ANSI code page fails and leaves all
  // zero bytes (the platform may have filled part of the buffer before failing; that part is
  // cleared as well).
  const int written =
      multi_byte_to_wide_char(code_page, source, reinterpret_cast<char16_t*>(data), units);
  const size_t filled = written > 0 ? 2 * static_cast<size_t>(std::min(written, units)) : 0;
  std::memset(data + filled, 0, size - filled);
  return {data, size};
}

rt::Bytes to_utf16(const char* text, int32_t code_page) {
  rt::Bytes block;
  utf16_of(text, code_page, [&](size_t size) {
    uint8_t* fresh = rt::make_bytes_uninitialised(size);
    block.reset(fresh);
    return fresh + rt::kBytesHeader;
  });
  return block;
}

// Conversion buffers the thread keeps: the UTF-16 between the two halves of utf8_to_local and
// local_to_utf8, and the text buffer of utf16_to_text. Converting page after page then reuses
// memory instead of mapping and faulting in fresh pages for every page; a buffer grown beyond
// kKeptScratch is given back after use.
class Scratch {
 public:
  static constexpr size_t kKeptScratch = size_t{32} << 20;

  uint8_t* get(size_t size) {
    if (size_ < size) {
      data_.reset();  // the old contents are not needed: free before growing
      data_.reset(static_cast<uint8_t*>(rt::allocate(size)));
      size_ = size;
    }
    return data_.get();
  }
  void trim() {
    if (size_ > kKeptScratch) {
      data_.reset();
      size_ = 0;
    }
  }

 private:
  struct Free {
    void operator()(uint8_t* p) const { rt::free_block(p); }
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t size_ = 0;
};

thread_local Scratch t_units;
thread_local Scratch t_text;

// The byte set's units, ending in a zero unit: in place when one lies inside the set, otherwise
// copied into `storage` with one appended (an odd last byte is no whole unit and is dropped).
// Null for a set without a whole unit.
const char16_t* terminated_units(std::span<const uint8_t> data, std::u16string& storage) {
  const size_t count = data.size() / 2;
  if (count == 0)
    return nullptr;
  const auto unit_at = [&](size_t i) {
    char16_t unit;
    std::memcpy(&unit, data.data() + 2 * i, sizeof unit);
    return unit;
  };
  // What text_to_utf16 makes always ends in a zero unit, so the scan is for other callers.
  bool terminated = unit_at(count - 1) == 0;
  for (size_t i = 0; !terminated && i < count; ++i) terminated = unit_at(i) == 0;
  if (terminated)
    return reinterpret_cast<const char16_t*>(data.data());
  storage.resize(count + 1);
  std::memcpy(storage.data(), data.data(), 2 * count);
  storage[count] = 0;
  return storage.data();
}

// The text is made by `make(bytes, length)`: a heap text for the commands, a std::string for
// C++ callers.
template <typename Make>
auto from_utf16(std::span<const uint8_t> data, int32_t code_page, Make make) {
  std::u16string storage;
  const char16_t* units = terminated_units(data, storage);
  char empty = 0;
  const int needed = wide_char_to_multi_byte(kAnsiCodePage, units, &empty, 0);
  if (needed <= 0)
    return make(nullptr, 0);
  // Twice what the ANSI code page needs: UTF-8 takes up to 3 bytes where code page 936 takes 2.
  const size_t size = 2 * static_cast<size_t>(needed);
  auto* buffer = reinterpret_cast<char*>(t_text.get(size));
  const int written = wide_char_to_multi_byte(code_page, units, buffer, clamp_to_int(size));
  // The text is the buffer up to its first zero byte. A conversion up to the terminator ends with
  // its zero byte and holds no other, so only a converter that breaks that rule costs a search.
  // A conversion that does not fit leaves the buffer's spaces, and they are the text.
  size_t length = size;
  const auto filled = static_cast<size_t>(std::max(written, 0));
  const auto* zero = filled > 0 && buffer[filled - 1] == 0
                         ? buffer + filled - 1
                         : static_cast<const char*>(std::memchr(buffer, 0, filled));
  if (zero) {
    length = static_cast<size_t>(zero - buffer);
  } else {
    std::memset(buffer + filled, ' ', size - filled);
  }
  auto text = make(buffer, length);
  t_text.trim();
  return text;
}

rt::Text heap_text(const char* bytes, size_t length) {
  return rt::Text::adopt(rt::make_text(bytes, length));
}
std::string string_text(const char* bytes, size_t length) {
  return length == 0 ? std::string() : std::string(bytes, length);
}

// utf16_to_text (text_to_utf16 (text, from), to).
template <typename Make>
auto round_trip(const char* text, int32_t from, int32_t to, Make make) {
  const std::span<const uint8_t> units =
      utf16_of(text, from, [](size_t size) { return t_units.get(size); });
  auto result = from_utf16(units, to, make);
  t_units.trim();
  return result;
}

rt::Text round_trip(const char* text, int32_t from, int32_t to) {
  return round_trip(text, from, to, &heap_text);
}

// A view as a terminated text: the conversions read up to the terminator.
std::string round_trip(std::string_view text, int32_t from, int32_t to) {
  const std::string terminated(text);
  return round_trip(terminated.c_str(), from, to, &string_text);
}

// --- The UTF-8 edges, sized with as few readings of the text as the results allow ---
//
// These give round_trip's results byte for byte, failures included, from a text of known length
// without a zero byte: each call reads it counted, which converts exactly as reading up to the
// terminator does, less the terminator's own unit or byte (added here). Texts of this length or
// longer take round_trip itself, so that no size here comes near an int's limit.
constexpr size_t kCountedLimit = size_t{INT_MAX} / 4;

// Where a result is written: a heap text for the commands, a std::string for C++ callers.
struct HeapResult {
  using Type = rt::Text;
  char* data = nullptr;
  size_t capacity = 0;

  HeapResult() = default;
  HeapResult(const HeapResult&) = delete;
  HeapResult& operator=(const HeapResult&) = delete;
  ~HeapResult() { rt::free_block(data); }

  char* reserve(size_t n) {
    data = static_cast<char*>(rt::allocate(n + 1));
    capacity = n;
    return data;
  }
  // Room for n bytes, keeping those written.
  char* grow(size_t n) {
    data = static_cast<char*>(rt::reallocate(data, n + 1));
    capacity = n;
    return data;
  }
  // The first `length` bytes written are the text; a block much larger than that shrinks.
  rt::Text finish(size_t length) {
    if (length == 0) {
      rt::free_block(std::exchange(data, nullptr));
      return {};
    }
    data[length] = 0;
    if (capacity - length > capacity / 16)
      data = static_cast<char*>(rt::reallocate(data, length + 1));
    return rt::Text::adopt(std::exchange(data, nullptr));
  }
  static rt::Text none() { return {}; }
  static rt::Text spaces(size_t n) { return rt::Text(std::string(n, ' ')); }
};
struct StringResult {
  using Type = std::string;
  std::string text;

  char* reserve(size_t n) {
    text.resize(n);
    return text.data();
  }
  char* grow(size_t n) { return reserve(n); }
  std::string finish(size_t length) {
    text.resize(length);
    return std::move(text);
  }
  static std::string none() { return {}; }
  static std::string spaces(size_t n) { return std::string(n, ' '); }
};

// A local text whose UTF-8 is long for its units is measured in the ANSI code page a piece at a
// time, so that its units stay in the processor's cache instead of making a round through memory
// twice the text's size. A piece ends just after an ASCII byte, which ends a character in UTF-8
// and in code page 936 alike (no sequence continues with one, and a local lead byte takes it as
// its trail at most): the pieces convert to exactly what the whole text does.
constexpr size_t kPiece = size_t{32} << 10;

size_t piece_end(std::string_view text, size_t from) {
  if (text.size() - from <= kPiece)
    return text.size();
  const auto ascii_before = [&](size_t end) { return static_cast<uint8_t>(text[end - 1]) < 0x80; };
  size_t end = from + kPiece;
  while (end > from && !ascii_before(end)) --end;
  if (end > from)
    return end;
  end = from + kPiece;  // a piece of no ASCII at all runs on to the next
  while (end < text.size() && !ascii_before(end)) ++end;
  return end;
}

// The units of one piece of local text in the scratch buffer; 0 when the read fails.
int piece_units(std::string_view piece, char16_t*& units) {
  const auto count = static_cast<int>(piece.size());
  // Every byte gives at most one unit.
  units = reinterpret_cast<char16_t*>(t_units.get(2 * piece.size()));
  return multi_byte_to_wide_char(kLocalCodePage, piece.data(), units, count, count);
}

// utf8_to_local (text), for 0 < text.size() < kCountedLimit.
template <typename Result>
typename Result::Type utf8_to_local_counted(std::string_view text) {
  // The units must fit the ANSI reading's measure. Well-formed UTF-8 always does: a run of r
  // bytes above 0x7F loses at least r / 2 units (rounded up) to its sequences, and the ANSI
  // reading can pair no more of its bytes than that. So well-formed text is converted without
  // that measure, in one pass, and only text that does not decode is measured, then read again
  // with a U+FFFD for each broken sequence. Code page 936 takes no more bytes than UTF-8 for
  // any sequence, broken ones included: the text's size is room enough.
  Result result;
  char* local = result.reserve(text.size());
  const int64_t converted = utf8_to_local_in_one_pass(text, local);
  if (converted >= 0)
    return result.finish(static_cast<size_t>(converted));
  const auto count = static_cast<int>(text.size());
  const int measured = multi_byte_to_wide_char(kAnsiCodePage, text.data(), nullptr, 0, count);
  auto* units =
      reinterpret_cast<char16_t*>(t_units.get(2 * static_cast<size_t>(std::max(measured, 0))));
  const int written =
      measured > 0 ? multi_byte_to_wide_char(kUtf8CodePage, text.data(), units, measured, count)
                   : 0;
  typename Result::Type local_text = Result::none();
  if (written > 0) {
    const int bytes = wide_char_to_multi_byte(kLocalCodePage, units, local, count, written);
    local_text = result.finish(static_cast<size_t>(std::max(bytes, 0)));
  } else {
    result.finish(0);
  }
  t_units.trim();
  return local_text;
}

// local_to_utf8 (text), for 0 < text.size() < kCountedLimit.
template <typename Result>
typename Result::Type local_to_utf8_counted(std::string_view text) {
  // The UTF-8 is written straight into the result. Its first block is the text's size and a
  // sixteenth, which holds a page of markup with some Chinese in it and is kept as it is; where
  // more is needed the block grows to the most the rest can take, three bytes a byte, and the
  // conversion goes on where it stopped.
  Result result;
  size_t capacity = text.size() + text.size() / 16 + 64;
  char* out = result.reserve(capacity);
  size_t read = 0;
  size_t units = 0;
  size_t utf8 = local_to_utf8_in_one_pass(text, out, capacity, read, units);
  if (read < text.size()) {
    capacity = utf8 + 3 * (text.size() - read);
    out = result.grow(capacity);
    size_t rest_read = 0;
    size_t rest_units = 0;
    utf8 += local_to_utf8_in_one_pass(text.substr(read), out + utf8, capacity - utf8, rest_read,
                                      rest_units);
    read += rest_read;
    units += rest_units;
  }
  // The local reading is in the ANSI code page itself, so its measure is what it writes. The
  // UTF-8 must then fit twice the units' ANSI size, terminators counted, and the platform's
  // room of twice the text's size and one; past either the conversion fails. The ANSI size is
  // at least a byte a unit, so it is measured only when the UTF-8 is longer than two bytes a
  // unit.
  const bool fits = read == text.size() && utf8 <= 2 * text.size() + 1;
  if (!fits || utf8 + 1 > 2 * (units + 1)) {
    size_t ansi = 0;
    for (size_t from = 0; from < text.size();) {
      const size_t end = piece_end(text, from);
      char16_t* piece = nullptr;
      const int read_units = piece_units(text.substr(from, end - from), piece);
      ansi += static_cast<size_t>(std::max(
          read_units > 0 ? wide_char_to_multi_byte(kAnsiCodePage, piece, nullptr, 0, read_units)
                         : 0,
          0));
      from = end;
    }
    t_units.trim();
    if (!fits || utf8 + 1 > 2 * (ansi + 1))
      return Result::spaces(2 * (ansi + 1));  // what does not fit leaves the spaces
  }
  return result.finish(utf8);
}

rt::Text utf8_to_local_text(const char* text) {
  const std::string_view view = rt::text_view(text);
  if (view.empty())
    return {};
  if (view.size() >= kCountedLimit)
    return round_trip(text, kUtf8CodePage, kLocalCodePage);
  return utf8_to_local_counted<HeapResult>(view);
}

rt::Text local_to_utf8_text(const char* text) {
  const std::string_view view = rt::text_view(text);
  if (view.empty())
    return {};
  if (view.size() >= kCountedLimit)
    return round_trip(text, kLocalCodePage, kUtf8CodePage);
  return local_to_utf8_counted<HeapResult>(view);
}

// A view as the text it holds: up to its first zero byte, where a text ends.
std::string_view up_to_zero(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Bytes without a zero byte read in code_page, then written in code page 936, each step sized
// by measuring it in its own code page: nothing is lost to a measure taken in another.
rt::Text read_sized_by_itself(std::span<const uint8_t> bytes, int32_t code_page) {
  if (bytes.empty() || bytes.size() > INT_MAX)
    return {};
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const auto count = static_cast<int>(bytes.size());
  const int units = multi_byte_to_wide_char(code_page, text, nullptr, 0, count);
  if (units <= 0)
    return {};
  auto* wide = reinterpret_cast<char16_t*>(t_units.get(2 * static_cast<size_t>(units)));
  const int converted = multi_byte_to_wide_char(code_page, text, wide, units, count);
  const int needed =
      converted > 0 ? wide_char_to_multi_byte(kLocalCodePage, wide, nullptr, 0, converted) : 0;
  rt::Text result;
  if (needed > 0) {
    auto* local = reinterpret_cast<char*>(t_text.get(static_cast<size_t>(needed)));
    const int written = wide_char_to_multi_byte(kLocalCodePage, wide, local, needed, converted);
    result = rt::Text::adopt(rt::make_text(local, static_cast<size_t>(std::max(written, 0))));
  }
  t_units.trim();
  t_text.trim();
  return result;
}

}  // namespace

rt::Text page_bytes_to_local(std::span<const uint8_t> body, PageEncoding encoding) {
  const auto* zero = body.empty() ? nullptr : std::memchr(body.data(), 0, body.size());
  const std::span<const uint8_t> bytes =
      zero ? body.first(static_cast<size_t>(static_cast<const uint8_t*>(zero) - body.data()))
           : body;
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  switch (encoding) {
    case PageEncoding::kUtf8: {
      // utf8_to_local (to_text (body)), as the program has always read pages.
      rt::Text local;
      if (view.size() >= kCountedLimit) {
        const rt::Text text(view);
        local = round_trip(text.c_str(), kUtf8CodePage, kLocalCodePage);
      } else if (!view.empty()) {
        local = utf8_to_local_counted<HeapResult>(view);
      }
      // Nothing only where broken input outgrew the ANSI measure.
      if (!local.empty() || bytes.empty())
        return local;
      return read_sized_by_itself(bytes, kUtf8CodePage);
    }
    case PageEncoding::kGbk:
      return rt::Text(view);
    case PageEncoding::kGb18030:
      return read_sized_by_itself(bytes, kGb18030CodePage);
  }
  return {};
}

namespace code_pages {

std::string utf8_to_local(std::string_view text) {
  const std::string_view view = up_to_zero(text);
  if (view.empty())
    return {};
  if (view.size() >= kCountedLimit)
    return round_trip(view, kUtf8CodePage, kLocalCodePage);
  return utf8_to_local_counted<StringResult>(view);
}

std::string local_to_utf8(std::string_view text) {
  const std::string_view view = up_to_zero(text);
  if (view.empty())
    return {};
  if (view.size() >= kCountedLimit)
    return round_trip(view, kLocalCodePage, kUtf8CodePage);
  return local_to_utf8_counted<StringResult>(view);
}

}  // namespace code_pages

const char* text_argument(const rt::Args& args, int32_t index) {
  const rt::Cell& cell = args.at(index);
  if (rt::plain_code(cell.type) != rt::kText)
    return "";
  const char* text = nullptr;
  if (rt::is_by_ref(cell.type)) {
    const auto* variable = cell.pointer<const char* const>();
    text = variable ? *variable : nullptr;
  } else {
    text = cell.pointer<const char>();
  }
  return text ? text : "";
}

std::span<const uint8_t> bytes_argument(const rt::Args& args, int32_t index) {
  const rt::Cell& cell = args.at(index);
  if (rt::plain_code(cell.type) != rt::kBytes)
    return {};
  if (!rt::is_by_ref(cell.type))
    return rt::bytes_view(cell.pointer<const uint8_t>());
  const auto* variable = cell.pointer<const uint8_t* const>();
  return variable ? rt::bytes_view(*variable) : std::span<const uint8_t>();
}

namespace cmd {

void text_to_utf16(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::Bytes units = to_utf16(text_argument(args, 0), args.int_or(1, kUtf8CodePage));
  rt::set_bytes(r, units.release());
}

void utf16_to_text(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::Text text = from_utf16(bytes_argument(args, 0), args.int_or(1, kAnsiCodePage), &heap_text);
  rt::set_text(r, text.release());
}

void utf8_to_local(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, utf8_to_local_text(text_argument(args, 0)).release());
}

void local_to_utf8(rt::Cell* r, int32_t n, const rt::Cell* a) {
  const rt::Args args(n, a);
  rt::set_text(r, local_to_utf8_text(text_argument(args, 0)).release());
}

}  // namespace cmd
}  // namespace web
