// Whether the vector-register paths are built: where the target has SSE2
// (every x86-64 build) and the build does not turn them off (TABULON_NO_SIMD,
// the build that checks the eight-byte paths on their own).
#pragma once

#if !defined(TABULON_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#define TABULON_SSE2 1
#else
#define TABULON_SSE2 0
#endif

// Whether the record text is built a second time for CPUs with AVX2, BMI1
// and BMI2, and chosen at run time (GCC and clang on x86-64): the vector
// compares take three operands, so the loaded bytes are not copied before
// each, and the bit operations are one instruction each.
#if TABULON_SSE2 && defined(__x86_64__) && defined(__GNUC__)
#define TABULON_WIDE_TEXT 1
#else
#define TABULON_WIDE_TEXT 0
#endif
