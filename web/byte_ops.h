// The byte-set cutting operations as plain C++: a view of the bytes in, the bytes out. The
// byte-set commands run these (see builtins.h): counts below 1 give nothing, counts past the
// end stop at the end, and a start is 1-based.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace web::byte_ops {

// The part of the bytes each cut keeps, as a view into them.
std::span<const uint8_t> left_part(std::span<const uint8_t> bytes, int32_t count);
std::span<const uint8_t> right_part(std::span<const uint8_t> bytes, int32_t count);
std::span<const uint8_t> middle_part(std::span<const uint8_t> bytes, int32_t start, int32_t count);

// The same parts as bytes of their own.
std::vector<uint8_t> left(std::span<const uint8_t> bytes, int32_t count);
std::vector<uint8_t> right(std::span<const uint8_t> bytes, int32_t count);
std::vector<uint8_t> middle(std::span<const uint8_t> bytes, int32_t start, int32_t count);
// `count` zero bytes; none for count < 1.
std::vector<uint8_t> zeros(int32_t count);

}  // namespace web::byte_ops
