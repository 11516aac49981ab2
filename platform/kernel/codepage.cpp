#include "platform/kernel/codepage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <optional>
#include <type_traits>

#include <emmintrin.h>

namespace {

// The block paths treat 64-bit words as lanes of little-endian bytes and units.
static_assert(std::endian::native == std::endian::little);

constexpr char16_t kReplacement = u'\uFFFD';
// A conversion's answers when the output did not fit the caller's buffer, and when input that
// does not decode was to fail the conversion.
constexpr size_t kOverflow = SIZE_MAX;
constexpr size_t kRefused = SIZE_MAX - 1;
// The length of input that runs to and including its terminator (count -1).
constexpr size_t kToTerminator = SIZE_MAX;

bool is_continuation(uint8_t b) {
  return (b & 0xC0) == 0x80;
}
constexpr bool is_surrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDFFF;
}
bool is_high_surrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}
// The bytes that may follow a GBK lead byte. A lead byte before anything else stands alone.
bool is_gbk_trail(uint8_t b) {
  return b >= 0x40 && b != 0x7F && b != 0xFF;
}

// Code page 936 as glibc's iconv defines it, as lookup tables written at build time
// (gbk_table_generator): kGbkLead, kGbkSingle, kGbkPairs, kGbkCodes.
#include "gbk_tables.inc"

class GbkTables {
 public:
  static const GbkTables& get() {
    static constexpr GbkTables tables;
    return tables;
  }

  bool is_lead(uint8_t b) const { return kGbkLead[b]; }
  // A byte that stands alone; U+FFFD for a byte above 0x7F that is no character by itself.
  char16_t single(uint8_t b) const { return kGbkSingle[b]; }
  // A lead byte with a trail byte; U+FFFD where the pair has no character.
  char16_t pair(uint8_t lead, uint8_t trail) const {
    return kGbkPairs[static_cast<size_t>(lead & 0x7F) << 8 | trail];
  }
  // A unit's code: 0 when it has none, below 0x100 a single byte, else lead << 8 | trail.
  uint16_t code(char16_t unit) const { return kGbkCodes[unit]; }
  // pair (lead, trail) in UTF-8: its bytes from the lowest byte of the word up, and their count
  // in the top byte.
  uint32_t pair_utf8(uint8_t lead, uint8_t trail) const {
    return kGbkPairsUtf8[static_cast<size_t>(lead & 0x7F) << 8 | trail];
  }

 private:
  static constexpr std::array<uint32_t, std::size(kGbkPairs)> kGbkPairsUtf8 = [] {
    std::array<uint32_t, std::size(kGbkPairs)> words{};
    for (size_t i = 0; i < words.size(); ++i) {
      const uint32_t u = is_surrogate(kGbkPairs[i]) ? kReplacement : kGbkPairs[i];
      if (u < 0x80) {
        words[i] = 1u << 24 | u;
      } else if (u < 0x800) {
        words[i] = 2u << 24 | (0x80 | (u & 0x3F)) << 8 | (0xC0 | u >> 6);
      } else {
        words[i] =
            3u << 24 | (0x80 | (u & 0x3F)) << 16 | (0x80 | (u >> 6 & 0x3F)) << 8 | (0xE0 | u >> 12);
      }
    }
    return words;
  }();
};

// Code page 54936 (GB18030) as glibc's iconv defines it, written at build time
// (gb18030_table_generator): kGb18030Pairs, kGb18030Astral, kGb18030Runs.
struct Gb18030Astral {
  uint16_t code;  // lead << 8 | trail
  uint32_t code_point;
};
struct Gb18030Run {
  uint32_t pointer;
  uint32_t code_point;  // 0: pointers without characters
};
#include "gb18030_tables.inc"

bool is_gb18030_lead(uint8_t b) {
  return b >= 0x81 && b <= 0xFE;
}
bool is_gb18030_pair_trail(uint8_t b) {
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}
bool is_digit(uint8_t b) {
  return b >= 0x30 && b <= 0x39;
}

// The code point of a two-byte code, or 0.
uint32_t gb18030_pair(uint8_t lead, uint8_t trail) {
  const size_t index =
      static_cast<size_t>(lead - 0x81) * 190 + (trail - (trail < 0x7F ? 0x40 : 0x41));
  if (kGb18030Pairs[index] != 0)
    return kGb18030Pairs[index];
  const uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
  for (const Gb18030Astral& a : kGb18030Astral) {
    if (a.code == code)
      return a.code_point;
  }
  return 0;
}

// The code point of a four-byte code, given as its number in byte order, or 0.
uint32_t gb18030_four(uint32_t pointer) {
  constexpr uint32_t kRunsEnd = 39420;         // 0x8431A439 is the last code the runs cover
  constexpr uint32_t kPlanesPointer = 189000;  // 0x90308130 is U+10000, and on one to one
  if (pointer >= kPlanesPointer)
    return pointer - kPlanesPointer < 0x100000 ? 0x10000 + (pointer - kPlanesPointer) : 0;
  if (pointer >= kRunsEnd)
    return 0;
  const Gb18030Run* run =
      std::upper_bound(std::begin(kGb18030Runs), std::end(kGb18030Runs), pointer,
                       [](uint32_t p, const Gb18030Run& r) { return p < r.pointer; });
  --run;  // the first run starts at pointer 0
  return run->code_point == 0 ? 0 : run->code_point + (pointer - run->pointer);
}

// --- Runs of ASCII move 64 input bytes (a chunk) or 16 units (a block) at a time ---
//
// UTF-16 is handled as bytes (2 per unit) and moved with memcpy, so callers' buffers need no
// particular alignment.

constexpr size_t kBlock = 16;  // bytes, or units

constexpr uint64_t kByteHighBits = 0x8080808080808080;
constexpr uint64_t kByteLowBits = 0x7F7F7F7F7F7F7F7F;
constexpr uint64_t kUnitHighBits = 0x8000800080008000;
constexpr uint64_t kUnitNonAscii = 0xFF80FF80FF80FF80;

uint64_t load_word(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
uint32_t load_word32(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
char16_t load_unit(const uint8_t* units, size_t i) {
  char16_t u;
  std::memcpy(&u, units + 2 * i, sizeof u);
  return u;
}
void store_unit(uint8_t* units, size_t i, char16_t u) {
  std::memcpy(units + 2 * i, &u, sizeof u);
}

// Input of unknown length (count -1) is measured before it is converted: its extent, the
// terminator included, bounds every block read as a count does, so no read goes past the
// terminator (not even within its page, where it could not fault but would still read bytes
// that are not the caller's). strlen measures bytes; units are measured here.
size_t terminated_bytes(const uint8_t* in) {
  return std::strlen(reinterpret_cast<const char*>(in)) + 1;
}
// Each unit is read only once the one before it was seen not to be the terminator; unrolled, so
// that the reads do not wait on one another.
size_t terminated_units(const uint8_t* in) {
  for (size_t i = 0;; i += 4) {
    if (load_unit(in, i) == 0)
      return i + 1;
    if (load_unit(in, i + 1) == 0)
      return i + 2;
    if (load_unit(in, i + 2) == 0)
      return i + 3;
    if (load_unit(in, i + 3) == 0)
      return i + 4;
  }
}

// The high bit of each byte lane set where the byte is 0x01-0x7F; the same for 16-bit lanes and
// the units 0x0001-0x007F (with kUnitNonAscii clear).
uint64_t nonzero_ascii_bytes(uint64_t w) {
  return ((w & kByteLowBits) + kByteLowBits) & ~w & kByteHighBits;
}
uint64_t nonzero_units(uint64_t w) {
  return ((w & 0x007F007F007F007F) + 0x7FFF7FFF7FFF7FFF) & kUnitHighBits;
}

// Long runs of ASCII go a chunk of 64 input bytes at a time. Whether the chunk at `p` is all
// ASCII and, for input running to its terminator, holds none (a zero lane turns all ones when 1
// is taken from it); false where the chunk cannot be tested.
constexpr size_t kChunkBytes = 64;
typedef uint8_t ByteVector __attribute__((vector_size(16)));
typedef uint16_t UnitVector __attribute__((vector_size(16)));

template <typename Vector, bool kTerminated>
bool ascii_chunk(const uint8_t* p, size_t left_bytes, uint64_t non_ascii) {
  if (left_bytes < kChunkBytes)
    return false;
  Vector seen{};
  for (size_t j = 0; j < kChunkBytes; j += sizeof(Vector)) {
    Vector v;
    std::memcpy(&v, p + j, sizeof v);
    if constexpr (kTerminated)
      v |= v - 1;
    seen |= v;
  }
  std::array<uint64_t, 2> halves;
  std::memcpy(halves.data(), &seen, sizeof halves);
  return ((halves[0] | halves[1]) & non_ascii) == 0;
}

// The length of the run of ASCII at `p`, up to a block: the caller has seen p[0] to be ASCII
// (and, for input running to its terminator, not the terminator, which ends a run as well).
// Answers 1 where a block cannot be tested: near the end of the input.
// (Inlined: with three decoders calling it the compiler would otherwise keep it apart, and the
// call costs UTF-8 pages several percent.)
template <bool kTerminated>
[[gnu::always_inline]] inline size_t ascii_byte_run(const uint8_t* p, size_t left) {
  if (left < kBlock)
    return 1;
  if constexpr (!kTerminated) {
    // One compare of the whole block: the sign bits are the bytes above 0x7F.
    const auto mask = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    return mask == 0 ? kBlock : static_cast<size_t>(std::countr_zero(mask));
  }
  for (size_t j = 0; j < kBlock / 8; ++j) {
    const uint64_t w = load_word(p + 8 * j);
    const uint64_t stop = kTerminated ? ~nonzero_ascii_bytes(w) & kByteHighBits : w & kByteHighBits;
    if (stop != 0)
      return 8 * j + static_cast<size_t>(std::countr_zero(stop)) / 8;
  }
  return kBlock;
}
template <bool kTerminated>
size_t ascii_unit_run(const uint8_t* p, size_t left) {
  if (left < kBlock)
    return 1;
  if constexpr (!kTerminated) {
    // Each unit compared with its top nine bits clear, the answers packed to a byte a unit.
    const __m128i high = _mm_set1_epi16(static_cast<int16_t>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    const __m128i low_half = _mm_cmpeq_epi16(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), high), zero);
    const __m128i high_half = _mm_cmpeq_epi16(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), high), zero);
    const auto stop =
        ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low_half, high_half))) & 0xFFFFu;
    return stop == 0 ? kBlock : static_cast<size_t>(std::countr_zero(stop));
  }
  for (size_t j = 0; j < kBlock / 4; ++j) {
    const uint64_t w = load_word(p + 8 * j);
    uint64_t stop = w & kUnitNonAscii;
    if (kTerminated)
      stop |= ~nonzero_units(w) & kUnitHighBits;
    if (stop != 0)
      return 4 * j + static_cast<size_t>(std::countr_zero(stop)) / 16;
  }
  return kBlock;
}

// Vectors of kCount ASCII bytes (16, 8 or 4) and of as many units.
template <size_t kCount>
struct AsciiVectors;
template <>
struct AsciiVectors<16> {
  typedef uint8_t Bytes __attribute__((vector_size(16)));
  typedef uint16_t Units __attribute__((vector_size(32)));
};
template <>
struct AsciiVectors<8> {
  typedef uint8_t Bytes __attribute__((vector_size(8)));
  typedef uint16_t Units __attribute__((vector_size(16)));
};
template <>
struct AsciiVectors<4> {
  typedef uint8_t Bytes __attribute__((vector_size(4)));
  typedef uint16_t Units __attribute__((vector_size(8)));
};

template <size_t kCount>
void widen_ascii(const uint8_t* in, uint8_t* out) {
  typename AsciiVectors<kCount>::Bytes bytes;
  std::memcpy(&bytes, in, sizeof bytes);
  const auto units = __builtin_convertvector(bytes, typename AsciiVectors<kCount>::Units);
  std::memcpy(out, &units, sizeof units);
}
template <size_t kCount>
void narrow_ascii(const uint8_t* in, uint8_t* out) {
  typename AsciiVectors<kCount>::Units units;
  std::memcpy(&units, in, sizeof units);
  const auto bytes = __builtin_convertvector(units, typename AsciiVectors<kCount>::Bytes);
  std::memcpy(out, &bytes, sizeof bytes);
}

// Where a conversion's output goes: into the caller's buffer (kWrite), or nowhere, only counted.
// kUnitSize is 2 for UTF-16 output and 1 for bytes.
template <bool kWrite, size_t kUnitSize>
class Sink {
 public:
  Sink(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

  bool room(size_t count) const { return !kWrite || capacity_ - size_ >= count; }
  void put(uint32_t value) {
    if constexpr (kWrite && kUnitSize == 2)
      store_unit(out_, size_, static_cast<char16_t>(value));
    if constexpr (kWrite && kUnitSize == 1)
      out_[size_] = static_cast<uint8_t>(value);
    ++size_;
  }
  // A run of ASCII (at most a block) of the other width: bytes into units, or units into bytes.
  // A short run goes in two pieces, the second overlapping the first, so that nothing is written
  // past the run.
  void put_ascii(const uint8_t* in, size_t run) {
    if constexpr (kWrite) {
      if (run == kBlock) {
        move_ascii<kBlock>(in, 0);
      } else if (run >= 8) {
        move_ascii<8>(in, 0);
        move_ascii<8>(in, run - 8);
      } else if (run >= 4) {
        move_ascii<4>(in, 0);
        move_ascii<4>(in, run - 4);
      } else {
        for (size_t j = 0; j < run; ++j) move_one(in, j);
      }
    }
    size_ += run;
  }
  // A clean chunk of kChunkBytes input bytes.
  void put_chunk(const uint8_t* in) {
    constexpr size_t kInputWidth = kUnitSize == 2 ? 1 : 2;
    for (size_t j = 0; j < kChunkBytes; j += kBlock * kInputWidth) put_ascii(in + j, kBlock);
  }
  size_t size() const { return size_; }

 private:
  // Input position j (counted in the input's own units) to output position size_ + j.
  template <size_t kCount>
  void move_ascii(const uint8_t* in, size_t j) {
    if constexpr (kUnitSize == 2)
      widen_ascii<kCount>(in + j, out_ + 2 * (size_ + j));
    if constexpr (kUnitSize == 1)
      narrow_ascii<kCount>(in + 2 * j, out_ + size_ + j);
  }
  void move_one(const uint8_t* in, size_t j) {
    if constexpr (kUnitSize == 2)
      store_unit(out_, size_ + j, in[j]);
    if constexpr (kUnitSize == 1)
      out_[size_ + j] = static_cast<uint8_t>(load_unit(in, j));
  }

  uint8_t* out_;
  size_t capacity_;
  size_t size_ = 0;
};

// Moves the run of ASCII that starts at input position i (seen to be ASCII, and not the
// terminator) to the sink: a chunk, a block or the shorter run there is, advancing i. False
// when the output has no room for it. (Inlined: the loops keep i and the sink in registers.)
template <bool kTerminated, typename Output>
[[gnu::always_inline]] inline bool take_ascii_bytes(const uint8_t* in, size_t n, size_t& i,
                                                    Output& sink) {
  if (sink.room(kChunkBytes) &&
      ascii_chunk<ByteVector, kTerminated>(in + i, n - i, kByteHighBits)) {
    sink.put_chunk(in + i);
    i += kChunkBytes;
    return true;
  }
  const size_t run = ascii_byte_run<kTerminated>(in + i, n - i);
  if (!sink.room(run))
    return false;
  sink.put_ascii(in + i, run);
  i += run;
  return true;
}
template <bool kTerminated, typename Output>
[[gnu::always_inline]] inline bool take_ascii_units(const uint8_t* in, size_t n, size_t& i,
                                                    Output& sink) {
  if (sink.room(kChunkBytes / 2) &&
      ascii_chunk<UnitVector, kTerminated>(in + 2 * i, 2 * (n - i), kUnitNonAscii)) {
    sink.put_chunk(in + 2 * i);
    i += kChunkBytes / 2;
    return true;
  }
  const size_t run = ascii_unit_run<kTerminated>(in + 2 * i, n - i);
  if (!sink.room(run))
    return false;
  sink.put_ascii(in + 2 * i, run);
  i += run;
  return true;
}

// --- Decoding into UTF-16 ---
//
// Each converter runs over n input units, or with kTerminated up to and including the first zero
// (n is then the input's measured extent, which only bounds the block reads): a zero never
// continues a sequence, so reading one unit ahead of a non-zero unit stays inside the input.
// Answers the output size, kOverflow when capacity ran out (what fit has been written then), or
// kRefused for input that does not decode under Invalid::kFail.
//
// Under Invalid::kFail a converter stops at the first input that does not decode: the answer is
// the refusal whatever follows, and callers that try the strict reading first learn it early.
//
// Input that does not decode becomes one U+FFFD for each maximal part of a sequence that could
// have begun a character (a lone byte when nothing longer could), as the Unicode standard
// recommends for UTF-8 and the WHATWG Encoding Standard does for every decoder. The terminator
// ends a sequence the way the end of counted input does, so both give the same units.

enum class Invalid { kReplace, kFail };

template <bool kWrite, bool kTerminated, Invalid kInvalid>
size_t decode_gbk(const uint8_t* in, size_t n, uint8_t* out, size_t capacity) {
  const GbkTables& tables = GbkTables::get();
  Sink<kWrite, 2> sink(out, capacity);
  size_t i = 0;
  bool replaced = false;
  while ((kTerminated || i < n) && !(kInvalid == Invalid::kFail && replaced)) {
    const uint8_t b = in[i];
    if (b < 0x80 && (!kTerminated || b != 0)) {
      if (!take_ascii_bytes<kTerminated>(in, n, i, sink))
        return kOverflow;
      continue;
    }
    if (!sink.room(1))
      return kOverflow;
    if (b == 0) {  // the terminator
      sink.put(0);
      break;
    }
    // The tables hold U+FFFD for codes without a character, and code page 936 has no U+FFFD.
    char16_t unit = kReplacement;
    if (!tables.is_lead(b)) {
      unit = tables.single(b);
      i += 1;
    } else if ((kTerminated || n - i > 1) && is_gbk_trail(in[i + 1])) {
      unit = tables.pair(b, in[i + 1]);
      i += 2;
    } else {
      i += 1;
    }
    sink.put(unit);
    if constexpr (kInvalid == Invalid::kFail)
      replaced |= unit == kReplacement;
  }
  return replaced && kInvalid == Invalid::kFail ? kRefused : sink.size();
}

// GB18030 as the WHATWG decoder reads it, with iconv's tables: a lead byte 0x81-0xFE takes a
// trail byte (a two-byte code) or a digit, a lead byte and a digit (a four-byte code). A code
// cut short by the end is one U+FFFD; a byte that cannot continue one leaves the lead byte alone
// as U+FFFD and is read again; a whole code without a character is one U+FFFD. Single bytes
// 0x80 and 0xFF have no character.
template <bool kWrite, bool kTerminated, Invalid kInvalid>
size_t decode_gb18030(const uint8_t* in, size_t n, uint8_t* out, size_t capacity) {
  Sink<kWrite, 2> sink(out, capacity);
  size_t i = 0;
  bool replaced = false;
  // Whether the input has no byte `ahead` places after i; every byte before that one is known
  // to be no terminator, so the read stays inside the input.
  const auto ends = [&](size_t ahead) { return kTerminated ? in[i + ahead] == 0 : n - i <= ahead; };
  const auto bad = [&](size_t length) {
    sink.put(kReplacement);
    i += length;
    replaced = true;
  };
  while ((kTerminated || i < n) && !(kInvalid == Invalid::kFail && replaced)) {
    const uint8_t b = in[i];
    if (b < 0x80 && (!kTerminated || b != 0)) {
      if (!take_ascii_bytes<kTerminated>(in, n, i, sink))
        return kOverflow;
      continue;
    }
    if (!sink.room(1))
      return kOverflow;
    if (b == 0) {  // the terminator
      sink.put(0);
      break;
    }
    if (!is_gb18030_lead(b) || ends(1)) {
      bad(1);
      continue;
    }
    uint32_t code_point = 0;
    size_t length = 0;
    if (is_gb18030_pair_trail(in[i + 1])) {
      code_point = gb18030_pair(b, in[i + 1]);
      length = 2;
    } else if (is_digit(in[i + 1])) {
      if (ends(2)) {
        bad(2);
        continue;
      }
      if (!is_gb18030_lead(in[i + 2])) {
        bad(1);
        continue;
      }
      if (ends(3)) {
        bad(3);
        continue;
      }
      if (!is_digit(in[i + 3])) {
        bad(1);
        continue;
      }
      const uint32_t pointer =
          (((b - 0x81u) * 10 + (in[i + 1] - 0x30u)) * 126 + (in[i + 2] - 0x81u)) * 10 +
          (in[i + 3] - 0x30u);
      code_point = gb18030_four(pointer);
      length = 4;
    } else {
      bad(1);
      continue;
    }
    if (code_point == 0) {  // a whole code without a character
      bad(length);
      continue;
    }
    if (code_point >= 0x10000) {
      if (!sink.room(2))
        return kOverflow;
      sink.put(0xD800 + ((code_point - 0x10000) >> 10));
      sink.put(0xDC00 + (code_point & 0x3FF));
    } else {
      sink.put(code_point);
    }
    i += length;
  }
  return replaced && kInvalid == Invalid::kFail ? kRefused : sink.size();
}

// Well-formed UTF-8 as the Unicode standard's table 3-7 has it; each maximal prefix of a
// well-formed sequence that breaks off (and each byte that starts none) becomes one U+FFFD.
template <bool kWrite, bool kTerminated, Invalid kInvalid>
size_t decode_utf8(const uint8_t* in, size_t n, uint8_t* out, size_t capacity) {
  Sink<kWrite, 2> sink(out, capacity);
  size_t i = 0;
  bool replaced = false;
  // Whether the input holds the byte `ahead` places after i.
  const auto has = [&](size_t ahead) { return kTerminated || n - i > ahead; };
  const auto bad = [&](size_t length) {
    sink.put(kReplacement);
    i += length;
    replaced = true;
  };
  while ((kTerminated || i < n) && !(kInvalid == Invalid::kFail && replaced)) {
    const uint8_t b = in[i];
    if (b < 0x80 && (!kTerminated || b != 0)) {
      if (!take_ascii_bytes<kTerminated>(in, n, i, sink))
        return kOverflow;
      continue;
    }
    if (!sink.room(1))
      return kOverflow;
    if (b == 0) {  // the terminator
      sink.put(0);
      break;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      if (!has(1) || !is_continuation(in[i + 1])) {
        bad(1);
        continue;
      }
      sink.put((b & 0x1Fu) << 6 | (in[i + 1] & 0x3Fu));
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      const uint8_t low = b == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
      const uint8_t high = b == 0xED ? 0x9F : 0xBF;  // no surrogates
      if (!has(1) || in[i + 1] < low || in[i + 1] > high) {
        bad(1);
        continue;
      }
      if (!has(2) || !is_continuation(in[i + 2])) {
        bad(2);
        continue;
      }
      sink.put((b & 0x0Fu) << 12 | (in[i + 1] & 0x3Fu) << 6 | (in[i + 2] & 0x3Fu));
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      const uint8_t low = b == 0xF0 ? 0x90 : 0x80;   // no overlong forms
      const uint8_t high = b == 0xF4 ? 0x8F : 0xBF;  // nothing beyond U+10FFFF
      if (!has(1) || in[i + 1] < low || in[i + 1] > high) {
        bad(1);
        continue;
      }
      if (!has(2) || !is_continuation(in[i + 2])) {
        bad(2);
        continue;
      }
      if (!has(3) || !is_continuation(in[i + 3])) {
        bad(3);
        continue;
      }
      if (!sink.room(2))
        return kOverflow;
      const uint32_t code_point = (b & 0x07u) << 18 | (in[i + 1] & 0x3Fu) << 12 |
                                  (in[i + 2] & 0x3Fu) << 6 | (in[i + 3] & 0x3Fu);
      sink.put(0xD800 + ((code_point - 0x10000) >> 10));
      sink.put(0xDC00 + (code_point & 0x3FF));
      i += 4;
    } else {
      bad(1);  // a stray continuation byte, C0, C1 or F5-FF
    }
  }
  return replaced && kInvalid == Invalid::kFail ? kRefused : sink.size();
}

// --- Encoding from UTF-16 ---

struct DefaultChar {
  std::array<uint8_t, 2> bytes{'?', 0};
  size_t size = 1;
};

template <bool kWrite, bool kTerminated>
size_t encode_gbk(const uint8_t* in, size_t n, uint8_t* out, size_t capacity,
                  const DefaultChar& fallback, bool& used_fallback) {
  const GbkTables& tables = GbkTables::get();
  Sink<kWrite, 1> sink(out, capacity);
  size_t i = 0;
  while (kTerminated || i < n) {
    const char16_t unit = load_unit(in, i);
    if (unit < 0x80 && (!kTerminated || unit != 0)) {
      if (!take_ascii_units<kTerminated>(in, n, i, sink))
        return kOverflow;
      continue;
    }
    i += 1;
    // From here on: the terminator, or a unit above 0x7F. Surrogates have no code.
    const uint16_t code = unit == 0 || is_surrogate(unit) ? 0 : tables.code(unit);
    if (code >= 0x100) {
      if (!sink.room(2))
        return kOverflow;
      sink.put(code >> 8);
      sink.put(code & 0xFF);
    } else if (code != 0) {
      if (!sink.room(1))
        return kOverflow;
      sink.put(code);
    } else if (unit == 0) {
      if (!sink.room(1))
        return kOverflow;
      sink.put(0);
      if (kTerminated)
        break;
    } else {
      // A surrogate pair names one character beyond the code page: one default for both units.
      if (is_high_surrogate(unit) && (kTerminated || i < n) && is_low_surrogate(load_unit(in, i))) {
        i += 1;
      }
      if (!sink.room(fallback.size))
        return kOverflow;
      for (size_t j = 0; j < fallback.size; ++j) sink.put(fallback.bytes[j]);
      used_fallback = true;
    }
  }
  return sink.size();
}

template <bool kWrite, bool kTerminated>
size_t encode_utf8(const uint8_t* in, size_t n, uint8_t* out, size_t capacity) {
  Sink<kWrite, 1> sink(out, capacity);
  size_t i = 0;
  while (kTerminated || i < n) {
    uint32_t c = load_unit(in, i);
    if (c < 0x80 && (!kTerminated || c != 0)) {
      if (!take_ascii_units<kTerminated>(in, n, i, sink))
        return kOverflow;
      continue;
    }
    i += 1;
    if (is_high_surrogate(static_cast<char16_t>(c)) && (kTerminated || i < n) &&
        is_low_surrogate(load_unit(in, i))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (load_unit(in, i) - 0xDC00u);
      i += 1;
    } else if (is_surrogate(static_cast<char16_t>(c))) {
      c = kReplacement;
    }
    if (c < 0x80) {
      if (!sink.room(1))
        return kOverflow;
      sink.put(c);
      if (kTerminated && c == 0)
        break;
    } else if (c < 0x800) {
      if (!sink.room(2))
        return kOverflow;
      sink.put(0xC0 | c >> 6);
      sink.put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      if (!sink.room(3))
        return kOverflow;
      sink.put(0xE0 | c >> 12);
      sink.put(0x80 | (c >> 6 & 0x3F));
      sink.put(0x80 | (c & 0x3F));
    } else {
      if (!sink.room(4))
        return kOverflow;
      sink.put(0xF0 | c >> 18);
      sink.put(0x80 | (c >> 12 & 0x3F));
      sink.put(0x80 | (c >> 6 & 0x3F));
      sink.put(0x80 | (c & 0x3F));
    }
  }
  return sink.size();
}

// --- UTF-8 and code page 936 in one pass ---
//
// ASCII goes 16 bytes at a time, each block written whole: only the run of ASCII at its start
// counts, and what follows it writes over the rest. So wherever a block is read the output has
// room for 16 bytes past its position: reading UTF-8 it always has (no character takes more
// bytes in code page 936 than in UTF-8, so the output is never ahead of the input), reading code
// page 936 it is checked.

// Copies the run of ASCII at in[i] to out[o], advancing both, a block at a time while n - i and
// room - o allow one. A block of ASCII advances by a constant, so that the next block's address
// does not wait for this one's bytes to be tested. Answers at the first byte above 0x7F, at the
// end of the input, or with fewer than a block of either left.
[[gnu::always_inline]] inline void copy_ascii_blocks(const uint8_t* in, size_t n, size_t& i,
                                                     uint8_t* out, size_t room, size_t& o) {
  // Two blocks a step while there is room for them: half the steps for a long run.
  while (n - i >= 2 * kBlock && room - o >= 2 * kBlock) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + kBlock));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + kBlock), second);
    const uint32_t high_bits = static_cast<uint32_t>(_mm_movemask_epi8(first)) |
                               static_cast<uint32_t>(_mm_movemask_epi8(second)) << 16;
    if (high_bits != 0) {
      const auto run = static_cast<size_t>(std::countr_zero(high_bits));
      i += run;
      o += run;
      return;
    }
    i += 2 * kBlock;
    o += 2 * kBlock;
  }
  while (n - i >= kBlock && room - o >= kBlock) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), block);
    const auto high_bits = static_cast<uint32_t>(_mm_movemask_epi8(block));
    if (high_bits != 0) {
      const auto run = static_cast<size_t>(std::countr_zero(high_bits));
      i += run;
      o += run;
      return;
    }
    i += kBlock;
    o += kBlock;
  }
}

// A three-byte sequence read as a little-endian word: the lead byte E0-EF, then two
// continuation bytes (the fourth byte is not part of it).
constexpr uint32_t kThreeByteMask = 0xC0C0F0;
constexpr uint32_t kThreeBytePattern = 0x8080E0;

// The top ten bits of a three-byte sequence's code point, indexed by the word's bits 0-3 (the
// lead byte's low nibble) and 8-13 (the second byte's low six bits); 1 where those bits make an
// overlong form or a surrogate. One load in place of the shifts and both range checks: Chinese
// text is almost all three-byte sequences.
constexpr auto kThreeByteHigh = [] {
  std::array<uint16_t, 0x3F10> high{};
  for (uint32_t nibble = 0; nibble < 16; ++nibble) {
    for (uint32_t second = 0; second < 64; ++second) {
      const uint32_t c = nibble << 12 | second << 6;
      const bool refused = c < 0x800 || (c >= 0xD800 && c <= 0xDFFF);
      high[second << 8 | nibble] = refused ? 1 : static_cast<uint16_t>(c);
    }
  }
  return high;
}();

// Writes a code of GbkTables::code at out[o], advancing o: lead byte first (the code's bytes
// swapped, in one store), a single byte, or '?' for a unit without a code.
[[gnu::always_inline]] inline void put_gbk_code(uint16_t code, uint8_t* out, size_t& o) {
  if (code >= 0x100) {
    const auto swapped = static_cast<uint16_t>(code << 8 | code >> 8);
    std::memcpy(out + o, &swapped, sizeof swapped);
    o += 2;
  } else {
    out[o++] = code != 0 ? static_cast<uint8_t>(code) : static_cast<uint8_t>('?');
  }
}

// Well-formed UTF-8 (as decode_utf8 reads it) in code page 936 (as encode_gbk writes it), or -1
// at the first input that does not decode.
int64_t utf8_to_gbk(const uint8_t* in, size_t n, uint8_t* out) {
  const GbkTables& tables = GbkTables::get();
  size_t i = 0;
  size_t o = 0;
  while (i < n) {
    const uint8_t b = in[i];
    if (b < 0x80) {
      const size_t from = i;
      copy_ascii_blocks(in, n, i, out, n, o);
      if (i == from) {  // near the end
        out[o++] = b;
        i += 1;
      }
      continue;
    }
    // A run of three-byte sequences, each read as one word while four bytes are left.
    if (n - i >= 4) {
      uint32_t w = load_word32(in + i);
      if ((w & kThreeByteMask) == kThreeBytePattern) {
        const size_t last = n - 4;
        for (;;) {
          const uint16_t high = kThreeByteHigh[w & 0x3F0F];
          if (high & 1)
            return -1;
          const uint16_t code = tables.code(static_cast<char16_t>(high | (w >> 16 & 0x3F)));
          i += 3;
          put_gbk_code(code, out, o);
          if (i > last)
            break;
          w = load_word32(in + i);
          if ((w & kThreeByteMask) != kThreeBytePattern)
            break;
        }
        continue;
      }
    }
    const size_t left = n - i;
    uint32_t c = 0;
    if (b >= 0xE0 && b <= 0xEF) {
      if (left < 3 || !is_continuation(in[i + 1]) || !is_continuation(in[i + 2]))
        return -1;
      c = (b & 0x0Fu) << 12 | (in[i + 1] & 0x3Fu) << 6 | (in[i + 2] & 0x3Fu);
      if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))  // an overlong form, or a surrogate
        return -1;
      i += 3;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (left < 2 || !is_continuation(in[i + 1]))
        return -1;
      c = (b & 0x1Fu) << 6 | (in[i + 1] & 0x3Fu);
      i += 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      if (left < 4 || !is_continuation(in[i + 1]) || !is_continuation(in[i + 2]) ||
          !is_continuation(in[i + 3])) {
        return -1;
      }
      c = (b & 0x07u) << 18 | (in[i + 1] & 0x3Fu) << 12 | (in[i + 2] & 0x3Fu) << 6 |
          (in[i + 3] & 0x3Fu);
      if (c < 0x10000 || c > 0x10FFFF)  // an overlong form, or beyond Unicode
        return -1;
      i += 4;
    } else {
      return -1;  // a stray continuation byte, C0, C1 or F5-FF
    }
    // A character beyond the BMP is a surrogate pair, which takes one default character.
    put_gbk_code(c < 0x10000 ? tables.code(static_cast<char16_t>(c)) : 0, out, o);
  }
  return static_cast<int64_t>(o);
}

// Code page 936 (as decode_gbk reads it) in UTF-8 (as encode_utf8 writes it), counting the
// units between, for as many whole characters as fit: answers the bytes written, with `read`
// the input they came from.
size_t gbk_to_utf8(const uint8_t* in, size_t n, uint8_t* out, size_t capacity, size_t& read,
                   size_t& units) {
  const GbkTables& tables = GbkTables::get();
  size_t i = 0;
  size_t o = 0;
  size_t count = 0;  // one unit for each character, ASCII or not
  while (i < n) {
    const uint8_t b = in[i];
    if (b < 0x80) {
      const size_t from = i;
      copy_ascii_blocks(in, n, i, out, capacity, o);
      if (i == from) {  // near the end of the input or of the room
        if (o == capacity)
          break;
        out[o++] = b;
        i += 1;
      }
      count += i - from;
      continue;
    }
    const bool paired = tables.is_lead(b) && n - i > 1 && is_gbk_trail(in[i + 1]);
    // A pair with room for a whole word: its bytes as one store (the byte past them is written
    // over by the next character or left unused).
    if (paired && capacity - o >= 4) {
      const uint32_t word = tables.pair_utf8(b, in[i + 1]);
      std::memcpy(out + o, &word, sizeof word);
      o += word >> 24;
      i += 2;
      ++count;
      continue;
    }
    char16_t unit = kReplacement;
    if (paired) {
      unit = tables.pair(b, in[i + 1]);
    } else if (!tables.is_lead(b)) {
      unit = tables.single(b);
    }
    const size_t size = unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    if (capacity - o < size)
      break;
    i += paired ? 2 : 1;
    ++count;
    if (size == 1) {
      out[o++] = static_cast<uint8_t>(unit);
    } else if (size == 2) {
      out[o] = static_cast<uint8_t>(0xC0 | unit >> 6);
      out[o + 1] = static_cast<uint8_t>(0x80 | (unit & 0x3F));
      o += 2;
    } else {
      if (is_surrogate(unit))  // none of the tables holds one; a lone one is written as U+FFFD
        unit = kReplacement;
      out[o] = static_cast<uint8_t>(0xE0 | unit >> 12);
      out[o + 1] = static_cast<uint8_t>(0x80 | (unit >> 6 & 0x3F));
      out[o + 2] = static_cast<uint8_t>(0x80 | (unit & 0x3F));
      o += 3;
    }
  }
  read = i;
  units = count;
  return o;
}

// --- Dispatch ---

enum class Charset { kGbk, kUtf8, kGb18030 };

std::optional<Charset> charset_of(uint32_t code_page) {
  switch (code_page) {
    case kernel::kCodePageLocal:
    case kernel::kCodePageGbk:
      return Charset::kGbk;
    case kernel::kCodePageUtf8:
      return Charset::kUtf8;
    case kernel::kCodePageGb18030:
      return Charset::kGb18030;
    default:
      return std::nullopt;
  }
}

// Calls `convert` with the write and terminated flags as compile-time constants.
template <typename Convert>
size_t with_modes(bool write, bool terminated, Convert convert) {
  using Yes = std::true_type;
  using No = std::false_type;
  if (write)
    return terminated ? convert(Yes{}, Yes{}) : convert(Yes{}, No{});
  return terminated ? convert(No{}, Yes{}) : convert(No{}, No{});
}

template <bool kWrite, bool kTerminated, Invalid kInvalid>
size_t decode_in(Charset charset, const uint8_t* in, size_t n, uint8_t* out, size_t capacity) {
  switch (charset) {
    case Charset::kGbk:
      return decode_gbk<kWrite, kTerminated, kInvalid>(in, n, out, capacity);
    case Charset::kUtf8:
      return decode_utf8<kWrite, kTerminated, kInvalid>(in, n, out, capacity);
    case Charset::kGb18030:
      return decode_gb18030<kWrite, kTerminated, kInvalid>(in, n, out, capacity);
  }
  return kOverflow;
}

// n input bytes, or kToTerminator; a null `out` counts only. Sizing and converting run the
// same code, so they agree on every input.
size_t decode(Charset charset, const uint8_t* in, size_t n, uint8_t* out, size_t capacity,
              Invalid invalid) {
  const bool to_terminator = n == kToTerminator;
  if (to_terminator)
    n = terminated_bytes(in);
  return with_modes(out != nullptr, to_terminator, [&](auto write, auto terminated) {
    constexpr bool kWrite = decltype(write)::value;
    constexpr bool kTerminated = decltype(terminated)::value;
    if (invalid == Invalid::kFail)
      return decode_in<kWrite, kTerminated, Invalid::kFail>(charset, in, n, out, capacity);
    return decode_in<kWrite, kTerminated, Invalid::kReplace>(charset, in, n, out, capacity);
  });
}

// n input units, or kToTerminator; a null `out` counts only.
size_t encode(Charset charset, const uint8_t* in, size_t n, uint8_t* out, size_t capacity,
              const DefaultChar& fallback, bool& used_fallback) {
  const bool to_terminator = n == kToTerminator;
  if (to_terminator)
    n = terminated_units(in);
  return with_modes(out != nullptr, to_terminator, [&](auto write, auto terminated) {
    constexpr bool kWrite = decltype(write)::value;
    constexpr bool kTerminated = decltype(terminated)::value;
    switch (charset) {
      case Charset::kGbk:
        return encode_gbk<kWrite, kTerminated>(in, n, out, capacity, fallback, used_fallback);
      case Charset::kUtf8:
        return encode_utf8<kWrite, kTerminated>(in, n, out, capacity);
      case Charset::kGb18030:
        return kRefused;  // read only: the program writes no GB18030
    }
    return kOverflow;
  });
}

DefaultChar default_char_from(const char* text) {
  DefaultChar fallback;
  if (!text || text[0] == 0)
    return fallback;
  const auto first = static_cast<uint8_t>(text[0]);
  fallback.bytes = {first, 0};
  if (GbkTables::get().is_lead(first) && text[1] != 0) {
    fallback.bytes[1] = static_cast<uint8_t>(text[1]);
    fallback.size = 2;
  }
  return fallback;
}

// A conversion's size as the platform answers it: 0 for no fit (or beyond an int).
int as_result(size_t size) {
  return size > INT_MAX ? 0 : static_cast<int>(size);
}

}  // namespace

namespace kernel {

std::u16string local_to_utf16(std::string_view text) {
  // Every byte gives at most one unit.
  std::u16string units(text.size(), u'\0');
  const auto* in = reinterpret_cast<const uint8_t*>(text.data());
  units.resize(decode_gbk<true, false, Invalid::kReplace>(
      in, text.size(), reinterpret_cast<uint8_t*>(units.data()), units.size()));
  return units;
}

std::string utf16_to_local(std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  const auto* in = reinterpret_cast<const uint8_t*>(text.data());
  bool used_fallback = false;
  bytes.resize(encode_gbk<true, false>(in, text.size(), reinterpret_cast<uint8_t*>(bytes.data()),
                                       bytes.size(), DefaultChar{}, used_fallback));
  return bytes;
}

}  // namespace kernel

int MultiByteToWideChar(uint32_t code_page, uint32_t flags, const char* bytes, int byte_count,
                        char16_t* units, int unit_capacity) {
  const std::optional<Charset> charset = charset_of(code_page);
  if (!charset || !bytes || byte_count == 0 || byte_count < -1 || unit_capacity < 0)
    return 0;
  if (unit_capacity > 0 && !units)
    return 0;
  const auto* in = reinterpret_cast<const uint8_t*>(bytes);
  const size_t length = byte_count == -1 ? kToTerminator : static_cast<size_t>(byte_count);
  auto* out = unit_capacity == 0 ? nullptr : reinterpret_cast<uint8_t*>(units);
  const Invalid invalid =
      (flags & kernel::kErrInvalidChars) != 0 ? Invalid::kFail : Invalid::kReplace;
  return as_result(decode(*charset, in, length, out, static_cast<size_t>(unit_capacity), invalid));
}

int WideCharToMultiByte(uint32_t code_page, uint32_t /*flags*/, const char16_t* units,
                        int unit_count, char* bytes, int byte_capacity, const char* default_char,
                        int* used_default) {
  const std::optional<Charset> charset = charset_of(code_page);
  if (!charset || !units || unit_count == 0 || unit_count < -1 || byte_capacity < 0)
    return 0;
  if (byte_capacity > 0 && !bytes)
    return 0;
  if (*charset == Charset::kUtf8 && (default_char || used_default))
    return 0;
  if (*charset == Charset::kGb18030)
    return 0;
  const auto* in = reinterpret_cast<const uint8_t*>(units);
  const size_t length = unit_count == -1 ? kToTerminator : static_cast<size_t>(unit_count);
  auto* out = byte_capacity == 0 ? nullptr : reinterpret_cast<uint8_t*>(bytes);
  bool used_fallback = false;
  const int written =
      as_result(encode(*charset, in, length, out, static_cast<size_t>(byte_capacity),
                       default_char_from(default_char), used_fallback));
  if (written > 0 && used_default)
    *used_default = used_fallback ? 1 : 0;
  return written;
}

int64_t ff_utf8_to_local(const char* in, size_t n, char* out) {
  if (n == 0)
    return 0;
  if (!in || !out)
    return -1;
  return utf8_to_gbk(reinterpret_cast<const uint8_t*>(in), n, reinterpret_cast<uint8_t*>(out));
}

int64_t ff_local_to_utf8(const char* in, size_t n, char* out, size_t capacity, size_t* read,
                         size_t* units) {
  size_t done = 0;
  size_t count = 0;
  int64_t written = 0;
  if (n > 0) {
    written = in && (out || capacity == 0)
                  ? static_cast<int64_t>(gbk_to_utf8(reinterpret_cast<const uint8_t*>(in), n,
                                                     reinterpret_cast<uint8_t*>(out), capacity,
                                                     done, count))
                  : -1;
  }
  if (read)
    *read = done;
  if (units)
    *units = count;
  return written;
}

const kernel::OrdinalEntry ff_ordinal_table[] = {
    {1, reinterpret_cast<void*>(&MultiByteToWideChar)},
    {2, reinterpret_cast<void*>(&WideCharToMultiByte)},
    {0, nullptr},
};
