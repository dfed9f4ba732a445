// SHA-256 block compression with the x86 SHA extensions, and the CPU check
// that decides whether it may run. Only the functions here carry the
// sha/sse4.1 target attribute, so the rest of the build needs no special
// flags and the code is never reached on a CPU without the instructions.
// On other architectures this file reduces to stubs reporting "unavailable".
//
// The SHA instructions keep the working variables as two registers, ABEF
// and CDGH; the state is shuffled into that layout once per call, not once
// per block.
#include "sha256_blocks.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define VELARTO_SHA_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#include <cstdlib>
#endif

namespace velarto::core::detail {

#if VELARTO_SHA_X86

namespace {

#define VELARTO_SHA_TARGET __attribute__((target("sha,sse4.1")))
#define VELARTO_SHA_INLINE __attribute__((target("sha,sse4.1"), always_inline)) inline

// Four rounds: message words + round constants, two rounds per instruction.
VELARTO_SHA_INLINE void four_rounds(__m128i& abef, __m128i& cdgh, __m128i words, int first) {
    __m128i wk = _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Round + first)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    wk = _mm_shuffle_epi32(wk, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

// Next four schedule words from the previous sixteen (oldest first).
VELARTO_SHA_INLINE __m128i schedule(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    __m128i t = _mm_sha256msg1_epu32(w0, w1);       // W[t-16] + s0(W[t-15])
    t = _mm_add_epi32(t, _mm_alignr_epi8(w3, w2, 4)); // + W[t-7]
    return _mm_sha256msg2_epu32(t, w3);              // + s1(W[t-2])
}

} // namespace

VELARTO_SHA_TARGET
void sha256_blocks_hardware(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks != 0; --blocks, data += 64) {
        const __m128i abef_before = abef;
        const __m128i cdgh_before = cdgh;
        const auto* in = reinterpret_cast<const __m128i*>(data);

        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);
        four_rounds(abef, cdgh, w0, 0);
        four_rounds(abef, cdgh, w1, 4);
        four_rounds(abef, cdgh, w2, 8);
        four_rounds(abef, cdgh, w3, 12);
        for (int first = 16; first < 64; first += 16) {
            w0 = schedule(w0, w1, w2, w3);
            four_rounds(abef, cdgh, w0, first);
            w1 = schedule(w1, w2, w3, w0);
            four_rounds(abef, cdgh, w1, first + 4);
            w2 = schedule(w2, w3, w0, w1);
            four_rounds(abef, cdgh, w2, first + 8);
            w3 = schedule(w3, w0, w1, w2);
            four_rounds(abef, cdgh, w3, first + 12);
        }

        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool sha256_cpu_has_sha_extensions() {
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 11
    __builtin_cpu_init();
    return __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1");
#else
    // Leaf 1 ECX bit 19: SSE4.1 (pshufb, pblendw come along); leaf 7 EBX bit 29: SHA.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & (1u << 19)))
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return (ebx & (1u << 29)) != 0;
#endif
}

#else // not x86

void sha256_blocks_hardware(std::uint32_t*, const std::uint8_t*, std::size_t) {
    std::abort(); // unreachable: sha256_cpu_has_sha_extensions() is false here
}

bool sha256_cpu_has_sha_extensions() { return false; }

#endif

} // namespace velarto::core::detail
