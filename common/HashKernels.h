#pragma once
// Block functions behind the hashers: each consumes `blocks` whole 64-byte blocks. Exposed so that
// tests can hold the SHA-extension code against the portable code on the same inputs.

#include <cstddef>
#include <cstdint>

namespace zorvek::hash::detail {

void md5Blocks(uint32_t* state, const uint8_t* data, size_t blocks);
void sha1BlocksPortable(uint32_t* state, const uint8_t* data, size_t blocks);
void sha256BlocksPortable(uint32_t* state, const uint8_t* data, size_t blocks);
// Only to be called when cpuHasShaExtensions().
void sha1BlocksShaExt(uint32_t* state, const uint8_t* data, size_t blocks);
void sha256BlocksShaExt(uint32_t* state, const uint8_t* data, size_t blocks);

}  // namespace zorvek::hash::detail
