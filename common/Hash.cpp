#include "common/Hash.h"

#include <cstring>

#include "common/HashKernels.h"
#include "common/Text.h"

namespace zorvek::hash {
namespace detail {
namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint32_t loadLe(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t loadBe(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

// MD5 is one long dependency chain through `a`; each step adds the message word and constant
// first and the round function of the fresh `b` last, so only the final add and rotate wait.
#define MD5_STEP(f, a, b, c, d, x, k, s) \
  a += (x) + (k);                        \
  a += f(b, c, d);                       \
  a = rotl(a, s) + b;
#define MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define MD5_H(b, c, d) ((b) ^ ((c) ^ (d)))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))
// G as a sum of disjoint masks: the ~d & c half does not wait for b.
#define MD5_STEP_G(a, b, c, d, x, k, s) \
  a += (x) + (k) + ((c) & ~(d));        \
  a += (b) & (d);                       \
  a = rotl(a, s) + b;

void md5Blocks(uint32_t* state, const uint8_t* data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks; --blocks, data += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = loadLe(data + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)
    MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5)
    MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9)
    MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14)
    MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20)
    MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5)
    MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9)
    MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14)
    MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20)
    MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5)
    MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9)
    MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14)
    MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20)
    MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5)
    MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9)
    MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14)
    MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20)
    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)
    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

// Fully unrolled: the 16-word schedule window stays in registers and each round's constant and
// word are added off the critical path through `a`.
#define SHA1_W(t) \
  (w[(t) & 15] = rotl(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))
#define SHA1_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_PAR(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_MAJ(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))
#define SHA1_R(f, k, a, b, c, d, e, x) \
  e += (x) + (k) + f(b, c, d);         \
  e += rotl(a, 5);                     \
  b = rotl(b, 30);

void sha1BlocksPortable(uint32_t* state, const uint8_t* data, size_t blocks) {
  uint32_t h0 = state[0], h1 = state[1], h2 = state[2], h3 = state[3], h4 = state[4];
  for (; blocks; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = loadBe(data + 4 * i);
    uint32_t a = h0, b = h1, c = h2, d = h3, e = h4;
    SHA1_R(SHA1_CH, 0x5a827999, a, b, c, d, e, w[0])
    SHA1_R(SHA1_CH, 0x5a827999, e, a, b, c, d, w[1])
    SHA1_R(SHA1_CH, 0x5a827999, d, e, a, b, c, w[2])
    SHA1_R(SHA1_CH, 0x5a827999, c, d, e, a, b, w[3])
    SHA1_R(SHA1_CH, 0x5a827999, b, c, d, e, a, w[4])
    SHA1_R(SHA1_CH, 0x5a827999, a, b, c, d, e, w[5])
    SHA1_R(SHA1_CH, 0x5a827999, e, a, b, c, d, w[6])
    SHA1_R(SHA1_CH, 0x5a827999, d, e, a, b, c, w[7])
    SHA1_R(SHA1_CH, 0x5a827999, c, d, e, a, b, w[8])
    SHA1_R(SHA1_CH, 0x5a827999, b, c, d, e, a, w[9])
    SHA1_R(SHA1_CH, 0x5a827999, a, b, c, d, e, w[10])
    SHA1_R(SHA1_CH, 0x5a827999, e, a, b, c, d, w[11])
    SHA1_R(SHA1_CH, 0x5a827999, d, e, a, b, c, w[12])
    SHA1_R(SHA1_CH, 0x5a827999, c, d, e, a, b, w[13])
    SHA1_R(SHA1_CH, 0x5a827999, b, c, d, e, a, w[14])
    SHA1_R(SHA1_CH, 0x5a827999, a, b, c, d, e, w[15])
    SHA1_R(SHA1_CH, 0x5a827999, e, a, b, c, d, SHA1_W(16))
    SHA1_R(SHA1_CH, 0x5a827999, d, e, a, b, c, SHA1_W(17))
    SHA1_R(SHA1_CH, 0x5a827999, c, d, e, a, b, SHA1_W(18))
    SHA1_R(SHA1_CH, 0x5a827999, b, c, d, e, a, SHA1_W(19))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, a, b, c, d, e, SHA1_W(20))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, e, a, b, c, d, SHA1_W(21))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, d, e, a, b, c, SHA1_W(22))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, c, d, e, a, b, SHA1_W(23))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, b, c, d, e, a, SHA1_W(24))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, a, b, c, d, e, SHA1_W(25))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, e, a, b, c, d, SHA1_W(26))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, d, e, a, b, c, SHA1_W(27))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, c, d, e, a, b, SHA1_W(28))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, b, c, d, e, a, SHA1_W(29))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, a, b, c, d, e, SHA1_W(30))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, e, a, b, c, d, SHA1_W(31))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, d, e, a, b, c, SHA1_W(32))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, c, d, e, a, b, SHA1_W(33))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, b, c, d, e, a, SHA1_W(34))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, a, b, c, d, e, SHA1_W(35))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, e, a, b, c, d, SHA1_W(36))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, d, e, a, b, c, SHA1_W(37))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, c, d, e, a, b, SHA1_W(38))
    SHA1_R(SHA1_PAR, 0x6ed9eba1, b, c, d, e, a, SHA1_W(39))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, a, b, c, d, e, SHA1_W(40))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, e, a, b, c, d, SHA1_W(41))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, d, e, a, b, c, SHA1_W(42))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, c, d, e, a, b, SHA1_W(43))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, b, c, d, e, a, SHA1_W(44))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, a, b, c, d, e, SHA1_W(45))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, e, a, b, c, d, SHA1_W(46))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, d, e, a, b, c, SHA1_W(47))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, c, d, e, a, b, SHA1_W(48))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, b, c, d, e, a, SHA1_W(49))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, a, b, c, d, e, SHA1_W(50))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, e, a, b, c, d, SHA1_W(51))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, d, e, a, b, c, SHA1_W(52))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, c, d, e, a, b, SHA1_W(53))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, b, c, d, e, a, SHA1_W(54))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, a, b, c, d, e, SHA1_W(55))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, e, a, b, c, d, SHA1_W(56))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, d, e, a, b, c, SHA1_W(57))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, c, d, e, a, b, SHA1_W(58))
    SHA1_R(SHA1_MAJ, 0x8f1bbcdc, b, c, d, e, a, SHA1_W(59))
    SHA1_R(SHA1_PAR, 0xca62c1d6, a, b, c, d, e, SHA1_W(60))
    SHA1_R(SHA1_PAR, 0xca62c1d6, e, a, b, c, d, SHA1_W(61))
    SHA1_R(SHA1_PAR, 0xca62c1d6, d, e, a, b, c, SHA1_W(62))
    SHA1_R(SHA1_PAR, 0xca62c1d6, c, d, e, a, b, SHA1_W(63))
    SHA1_R(SHA1_PAR, 0xca62c1d6, b, c, d, e, a, SHA1_W(64))
    SHA1_R(SHA1_PAR, 0xca62c1d6, a, b, c, d, e, SHA1_W(65))
    SHA1_R(SHA1_PAR, 0xca62c1d6, e, a, b, c, d, SHA1_W(66))
    SHA1_R(SHA1_PAR, 0xca62c1d6, d, e, a, b, c, SHA1_W(67))
    SHA1_R(SHA1_PAR, 0xca62c1d6, c, d, e, a, b, SHA1_W(68))
    SHA1_R(SHA1_PAR, 0xca62c1d6, b, c, d, e, a, SHA1_W(69))
    SHA1_R(SHA1_PAR, 0xca62c1d6, a, b, c, d, e, SHA1_W(70))
    SHA1_R(SHA1_PAR, 0xca62c1d6, e, a, b, c, d, SHA1_W(71))
    SHA1_R(SHA1_PAR, 0xca62c1d6, d, e, a, b, c, SHA1_W(72))
    SHA1_R(SHA1_PAR, 0xca62c1d6, c, d, e, a, b, SHA1_W(73))
    SHA1_R(SHA1_PAR, 0xca62c1d6, b, c, d, e, a, SHA1_W(74))
    SHA1_R(SHA1_PAR, 0xca62c1d6, a, b, c, d, e, SHA1_W(75))
    SHA1_R(SHA1_PAR, 0xca62c1d6, e, a, b, c, d, SHA1_W(76))
    SHA1_R(SHA1_PAR, 0xca62c1d6, d, e, a, b, c, SHA1_W(77))
    SHA1_R(SHA1_PAR, 0xca62c1d6, c, d, e, a, b, SHA1_W(78))
    SHA1_R(SHA1_PAR, 0xca62c1d6, b, c, d, e, a, SHA1_W(79))
    h0 += a;
    h1 += b;
    h2 += c;
    h3 += d;
    h4 += e;
  }
  state[0] = h0;
  state[1] = h1;
  state[2] = h2;
  state[3] = h3;
  state[4] = h4;
}

namespace {
constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
}  // namespace

// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's b ^ c is the last round's a ^ b:
// one XOR and one AND per round instead of four operations.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, kw)                                      \
  h += (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((g) ^ ((e) & ((f) ^ (g)))) + (kw); \
  d += h;                                                                             \
  ab = (a) ^ (b);                                                                     \
  h += (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((b) ^ (ab & bc));                  \
  bc = ab;

// Unrolled like SHA-1: a 16-word schedule window computed as the rounds go.
#define SHA256_S0(x) (rotr(x, 7) ^ rotr(x, 18) ^ ((x) >> 3))
#define SHA256_S1(x) (rotr(x, 17) ^ rotr(x, 19) ^ ((x) >> 10))
#define SHA256_W(t)                                                                  \
  (w[(t) & 15] += SHA256_S1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] +               \
                  SHA256_S0(w[((t) + 1) & 15]))

void sha256BlocksPortable(uint32_t* state, const uint8_t* data, size_t blocks) {
  for (; blocks; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = loadBe(data + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t ab, bc = b ^ c;
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[0] + w[0])
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[1] + w[1])
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[2] + w[2])
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[3] + w[3])
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[4] + w[4])
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[5] + w[5])
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[6] + w[6])
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[7] + w[7])
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[8] + w[8])
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[9] + w[9])
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[10] + w[10])
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[11] + w[11])
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[12] + w[12])
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[13] + w[13])
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[14] + w[14])
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[15] + w[15])
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[16] + SHA256_W(16))
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[17] + SHA256_W(17))
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[18] + SHA256_W(18))
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[19] + SHA256_W(19))
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[20] + SHA256_W(20))
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[21] + SHA256_W(21))
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[22] + SHA256_W(22))
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[23] + SHA256_W(23))
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[24] + SHA256_W(24))
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[25] + SHA256_W(25))
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[26] + SHA256_W(26))
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[27] + SHA256_W(27))
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[28] + SHA256_W(28))
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[29] + SHA256_W(29))
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[30] + SHA256_W(30))
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[31] + SHA256_W(31))
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[32] + SHA256_W(32))
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[33] + SHA256_W(33))
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[34] + SHA256_W(34))
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[35] + SHA256_W(35))
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[36] + SHA256_W(36))
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[37] + SHA256_W(37))
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[38] + SHA256_W(38))
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[39] + SHA256_W(39))
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[40] + SHA256_W(40))
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[41] + SHA256_W(41))
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[42] + SHA256_W(42))
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[43] + SHA256_W(43))
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[44] + SHA256_W(44))
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[45] + SHA256_W(45))
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[46] + SHA256_W(46))
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[47] + SHA256_W(47))
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[48] + SHA256_W(48))
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[49] + SHA256_W(49))
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[50] + SHA256_W(50))
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[51] + SHA256_W(51))
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[52] + SHA256_W(52))
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[53] + SHA256_W(53))
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[54] + SHA256_W(54))
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[55] + SHA256_W(55))
    SHA256_ROUND(a, b, c, d, e, f, g, h, kSha256K[56] + SHA256_W(56))
    SHA256_ROUND(h, a, b, c, d, e, f, g, kSha256K[57] + SHA256_W(57))
    SHA256_ROUND(g, h, a, b, c, d, e, f, kSha256K[58] + SHA256_W(58))
    SHA256_ROUND(f, g, h, a, b, c, d, e, kSha256K[59] + SHA256_W(59))
    SHA256_ROUND(e, f, g, h, a, b, c, d, kSha256K[60] + SHA256_W(60))
    SHA256_ROUND(d, e, f, g, h, a, b, c, kSha256K[61] + SHA256_W(61))
    SHA256_ROUND(c, d, e, f, g, h, a, b, kSha256K[62] + SHA256_W(62))
    SHA256_ROUND(b, c, d, e, f, g, h, a, kSha256K[63] + SHA256_W(63))
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace detail

namespace {

using Blocks = void (*)(uint32_t*, const uint8_t*, size_t);

void feed(uint32_t* state, uint8_t* block, size_t& pending, uint64_t& bits, const void* data,
          size_t size, Blocks compress) {
  if (size == 0) return;
  auto p = static_cast<const uint8_t*>(data);
  bits += static_cast<uint64_t>(size) << 3;  // modulo 2^64, as the length field of the standards
  if (pending) {
    const size_t take = size < 64 - pending ? size : 64 - pending;
    std::memcpy(block + pending, p, take);
    pending += take;
    p += take;
    size -= take;
    if (pending < 64) return;
    compress(state, block, 1);
    pending = 0;
  }
  if (size >= 64) {
    compress(state, p, size / 64);
    p += size & ~size_t{63};
    size &= 63;
  }
  if (size) {
    std::memcpy(block, p, size);
    pending = size;
  }
}

// Pads the pending bytes with 0x80, zeros and the 64-bit bit count, and compresses into `state`.
void finish(uint32_t* state, const uint8_t* block, size_t pending, uint64_t bits, bool bigEndian,
            Blocks compress) {
  uint8_t buf[128] = {};
  std::memcpy(buf, block, pending);
  buf[pending] = 0x80;
  const size_t total = pending + 9 <= 64 ? 64 : 128;
  for (int i = 0; i < 8; ++i) {
    const auto byte = static_cast<uint8_t>(bits >> (8 * i));
    buf[bigEndian ? total - 1 - static_cast<size_t>(i) : total - 8 + static_cast<size_t>(i)] = byte;
  }
  compress(state, buf, total / 64);
}

std::string hexWords(const uint32_t* words, size_t count, bool bigEndian) {
  uint8_t bytes[32];
  for (size_t i = 0; i < count; ++i)
    for (size_t j = 0; j < 4; ++j)
      bytes[4 * i + j] = static_cast<uint8_t>(words[i] >> (bigEndian ? 24 - 8 * j : 8 * j));
  std::string out;
  appendHex(out, bytes, 4 * count);
  return out;
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::update(const void* data, size_t size) {
  feed(state_, block_, pending_, bits_, data, size, detail::md5Blocks);
}

std::string Md5::finalDigest() const {
  uint32_t s[4];
  std::memcpy(s, state_, sizeof s);
  finish(s, block_, pending_, bits_, false, detail::md5Blocks);
  return hexWords(s, 4, false);
}

Sha1::Sha1()
    : compress_(shaExtensionsEnabled() ? detail::sha1BlocksShaExt : detail::sha1BlocksPortable),
      state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0} {}

void Sha1::update(const void* data, size_t size) {
  feed(state_, block_, pending_, bits_, data, size, compress_);
}

std::string Sha1::finalDigest() const {
  uint32_t s[5];
  std::memcpy(s, state_, sizeof s);
  finish(s, block_, pending_, bits_, true, compress_);
  return hexWords(s, 5, true);
}

Sha256::Sha256()
    : compress_(shaExtensionsEnabled() ? detail::sha256BlocksShaExt : detail::sha256BlocksPortable),
      state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::update(const void* data, size_t size) {
  feed(state_, block_, pending_, bits_, data, size, compress_);
}

std::string Sha256::finalDigest() const {
  uint32_t s[8];
  std::memcpy(s, state_, sizeof s);
  finish(s, block_, pending_, bits_, true, compress_);
  return hexWords(s, 8, true);
}

}  // namespace zorvek::hash
