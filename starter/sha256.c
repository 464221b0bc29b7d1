#include "starter/sha256.h"

#include <stdatomic.h>
#include <string.h>

static const uint32_t k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static uint32_t rotate(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

static void compress(uint32_t state[8], const unsigned char *block)
{
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (uint32_t)block[4 * i] << 24 | (uint32_t)block[4 * i + 1] << 16 |
               (uint32_t)block[4 * i + 2] << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 =
            h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
        const uint32_t t2 =
            (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

/* The processor's own SHA-256 instructions, where it has them: several times faster,
 * which is most of what filling the cache costs. */
#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>

__attribute__((target("sha,sse4.1"))) static void compress_sha_ni(uint32_t state[8],
                                                                  const unsigned char *block)
{
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)&state[0]), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)&state[4]), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8); /* ABEF */
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);      /* CDGH */
    const __m128i abef = state0, cdgh = state1;
    __m128i w[4];
    for (int g = 0; g < 16; ++g) {
        if (g < 4)
            w[g] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(block + 16 * g)), mask);
        __m128i message = _mm_add_epi32(w[g % 4], _mm_loadu_si128((const __m128i *)&k[4 * g + 0]));
        state1 = _mm_sha256rnds2_epu32(state1, state0, message);
        if (g >= 3 && g <= 14) {
            const __m128i next =
                _mm_add_epi32(w[(g + 1) % 4], _mm_alignr_epi8(w[g % 4], w[(g + 3) % 4], 4));
            w[(g + 1) % 4] = _mm_sha256msg2_epu32(next, w[g % 4]);
        }
        message = _mm_shuffle_epi32(message, 0x0E);
        state0 = _mm_sha256rnds2_epu32(state0, state1, message);
        if (g >= 1 && g <= 12)
            w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], w[g % 4]);
    }
    state0 = _mm_add_epi32(state0, abef);
    state1 = _mm_add_epi32(state1, cdgh);
    tmp = _mm_shuffle_epi32(state0, 0x1B);                                      /* FEBA */
    state1 = _mm_shuffle_epi32(state1, 0xB1);                                   /* DCHG */
    _mm_storeu_si128((__m128i *)&state[0], _mm_blend_epi16(tmp, state1, 0xF0)); /* DCBA */
    _mm_storeu_si128((__m128i *)&state[4], _mm_alignr_epi8(state1, tmp, 8));    /* HGFE */
}

static int has_sha_ni(void)
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1))
        return 0;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}
#endif

int sha256_portable_only = 0;

static void compress_blocks(uint32_t state[8], const unsigned char *blocks, size_t count)
{
#if defined(__x86_64__)
    static atomic_int fast = -1; /* found out once, by whichever worker is first */
    if (fast < 0)
        fast = has_sha_ni();
    if (fast && !sha256_portable_only) {
        for (; count > 0; --count, blocks += 64)
            compress_sha_ni(state, blocks);
        return;
    }
#endif
    for (; count > 0; --count, blocks += 64)
        compress(state, blocks);
}

void sha256_begin(struct sha256 *hash)
{
    static const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(hash->state, initial, sizeof initial);
    hash->length = 0;
    hash->filled = 0;
}

void sha256_add(struct sha256 *hash, const void *data, size_t size)
{
    const unsigned char *bytes = data;
    hash->length += size;
    if (hash->filled > 0) {
        const size_t take = size < 64 - hash->filled ? size : 64 - hash->filled;
        memcpy(hash->block + hash->filled, bytes, take);
        hash->filled += take;
        bytes += take;
        size -= take;
        if (hash->filled < 64)
            return;
        compress_blocks(hash->state, hash->block, 1);
        hash->filled = 0;
    }
    compress_blocks(hash->state, bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
    memcpy(hash->block, bytes, size);
    hash->filled = size;
}

void sha256_end_hex(struct sha256 *hash, char hex[65])
{
    const uint64_t bits = hash->length * 8;
    unsigned char pad[72] = {0x80};
    const size_t padding = (hash->filled < 56 ? 56 : 120) - hash->filled;
    for (int i = 0; i < 8; ++i)
        pad[padding + i] = (unsigned char)(bits >> (56 - 8 * i));
    sha256_add(hash, pad, padding + 8);
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        const uint32_t word = hash->state[i / 4];
        const unsigned byte = (word >> (24 - 8 * (i % 4))) & 0xff;
        hex[2 * i] = digits[byte >> 4];
        hex[2 * i + 1] = digits[byte & 0xf];
    }
    hex[64] = '\0';
}
