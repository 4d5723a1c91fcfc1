// CRC-32 by folding with carry-less multiplication: the buffer is folded 128 (or 512)
// bits at a time onto a running remainder, which a Barrett reduction finally turns into
// the 32-bit register. The lengths below 64 bytes and the tail under 16 bytes go through
// the table method, so every path gives the reference value.
#include "checksum/Crc32Internal.h"

// GCC 12 warns about the undefined vectors inside its own AVX-512 intrinsics.
#pragma GCC diagnostic ignored "-Wuninitialized"

#include <immintrin.h>

namespace kurumu::checksum::detail {

namespace {

// x^n mod P(x) for the CRC-32 polynomial, bit-reflected and shifted left by one: the
// folding constant for a distance of n - 32 (low lane) or n + 32 (high lane) bits.
constexpr std::uint64_t foldConstant(unsigned n) {
    constexpr std::uint64_t kPolynomial = 0x104C11DB7;
    std::uint64_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if ((remainder >> 32) & 1) remainder ^= kPolynomial;
    }
    std::uint64_t reflected = 0;
    for (unsigned bit = 0; bit < 32; ++bit) reflected |= ((remainder >> bit) & 1) << (31 - bit);
    return reflected << 1;
}

constexpr std::uint64_t kFold512Low = foldConstant(512 + 32);
constexpr std::uint64_t kFold512High = foldConstant(512 - 32);
constexpr std::uint64_t kFold128Low = foldConstant(128 + 32);
constexpr std::uint64_t kFold128High = foldConstant(128 - 32);
constexpr std::uint64_t kFold64 = foldConstant(64);
constexpr std::uint64_t kFold2048Low = foldConstant(2048 + 32);
constexpr std::uint64_t kFold2048High = foldConstant(2048 - 32);
constexpr std::uint64_t kPolynomialReflected = 0x1DB710641;  // P(x)' with its top bit
constexpr std::uint64_t kBarrettQuotient = 0x1F7011641;      // floor(x^64 / P(x))'

static_assert(kFold512Low == 0x154442BD4 && kFold128High == 0x0CCAA009E && kFold64 == 0x163CD6124);

constexpr std::size_t kMinimum = 64;

#define KURUMU_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#define KURUMU_VPCLMUL_TARGET __attribute__((target("vpclmulqdq,avx512f,avx512bw,pclmul,sse4.1")))

KURUMU_CLMUL_TARGET inline __m128i load128(const std::byte* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KURUMU_CLMUL_TARGET inline __m128i fold128(__m128i value, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(value, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(value, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// Folds four 128-bit remainders into one, then the remaining whole 16-byte blocks, and
// reduces to the 32-bit register. Consumes the multiple of 16 of the size.
KURUMU_CLMUL_TARGET std::uint32_t finish(__m128i x1, __m128i x2, __m128i x3, __m128i x4, const std::byte*& p,
                                         std::size_t& size) {
    const __m128i k3k4 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    x1 = fold128(x1, k3k4, x2);
    x1 = fold128(x1, k3k4, x3);
    x1 = fold128(x1, k3k4, x4);
    for (; size >= 16; p += 16, size -= 16) x1 = fold128(x1, k3k4, load128(p));

    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x2b = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
    const __m128i k5 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
    x2b = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, mask32);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k5, 0x00), x2b);

    // Barrett reduction to 32 bits.
    const __m128i poly =
        _mm_set_epi64x(static_cast<long long>(kBarrettQuotient), static_cast<long long>(kPolynomialReflected));
    x2b = _mm_and_si128(x1, mask32);
    x2b = _mm_clmulepi64_si128(x2b, poly, 0x10);
    x2b = _mm_and_si128(x2b, mask32);
    x2b = _mm_clmulepi64_si128(x2b, poly, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

KURUMU_CLMUL_TARGET std::uint32_t pclmulBlocks(std::uint32_t crc, const std::byte*& p, std::size_t& size) {
    __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load128(p + 16);
    __m128i x3 = load128(p + 32);
    __m128i x4 = load128(p + 48);
    p += 64;
    size -= 64;
    const __m128i k1k2 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    for (; size >= 64; p += 64, size -= 64) {
        x1 = fold128(x1, k1k2, load128(p));
        x2 = fold128(x2, k1k2, load128(p + 16));
        x3 = fold128(x3, k1k2, load128(p + 32));
        x4 = fold128(x4, k1k2, load128(p + 48));
    }
    return finish(x1, x2, x3, x4, p, size);
}

KURUMU_VPCLMUL_TARGET inline __m512i fold512(__m512i value, __m512i constants, __m512i next) {
    const __m512i low = _mm512_clmulepi64_epi128(value, constants, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(value, constants, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // three-way XOR
}

KURUMU_VPCLMUL_TARGET inline __m512i load512(const std::byte* p) {
    return _mm512_loadu_si512(p);
}

KURUMU_VPCLMUL_TARGET std::uint32_t vpclmulBlocks(std::uint32_t crc, const std::byte*& p, std::size_t& size) {
    __m512i z1 = _mm512_xor_si512(load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z2 = load512(p + 64);
    __m512i z3 = load512(p + 128);
    __m512i z4 = load512(p + 192);
    p += 256;
    size -= 256;
    const __m512i k2048 = _mm512_broadcast_i32x4(
        _mm_set_epi64x(static_cast<long long>(kFold2048High), static_cast<long long>(kFold2048Low)));
    for (; size >= 256; p += 256, size -= 256) {
        z1 = fold512(z1, k2048, load512(p));
        z2 = fold512(z2, k2048, load512(p + 64));
        z3 = fold512(z3, k2048, load512(p + 128));
        z4 = fold512(z4, k2048, load512(p + 192));
    }
    const __m512i k512 = _mm512_broadcast_i32x4(
        _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low)));
    z1 = fold512(z1, k512, z2);
    z1 = fold512(z1, k512, z3);
    z1 = fold512(z1, k512, z4);
    for (; size >= 64; p += 64, size -= 64) z1 = fold512(z1, k512, load512(p));
    return finish(_mm512_extracti32x4_epi32(z1, 0), _mm512_extracti32x4_epi32(z1, 1), _mm512_extracti32x4_epi32(z1, 2),
                  _mm512_extracti32x4_epi32(z1, 3), p, size);
}

using BlockFolder = std::uint32_t (*)(std::uint32_t, const std::byte*&, std::size_t&);

std::uint32_t foldThenTable(std::uint32_t crc, std::span<const std::byte> bytes, std::size_t minimum,
                            BlockFolder folder) {
    const std::byte* p = bytes.data();
    std::size_t size = bytes.size();
    if (size >= minimum) crc = folder(crc, p, size);
    return slicing16Update(crc, {p, size});
}

}  // namespace

bool hasPclmul() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

bool hasVpclmul() {
    return hasPclmul() && __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw");
}

std::uint32_t pclmulUpdate(std::uint32_t crcRegister, std::span<const std::byte> bytes) {
    return foldThenTable(crcRegister, bytes, kMinimum, pclmulBlocks);
}

std::uint32_t vpclmulUpdate(std::uint32_t crcRegister, std::span<const std::byte> bytes) {
    if (bytes.size() < 256) return pclmulUpdate(crcRegister, bytes);
    return foldThenTable(crcRegister, bytes, 256, vpclmulBlocks);
}

}  // namespace kurumu::checksum::detail
